#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <cstdint>
#include <optional>

// Reads a little-endian signed 32-bit count of UTF-16 code units followed by the units.
// Returns defaultValue for a short count, a count below 1 or a record cut short; a count larger
// than the bytes left in a device of known size is refused before anything is allocated.
QString readUtf16String(QIODevice& device, const QString& defaultValue);

// At most byteCount bytes of the rest of the device. Memory grows with what actually arrives,
// never to byteCount up front.
QByteArray readAtMost(QIODevice& device, qint64 byteCount);

// The rest of the device when it holds at most `limit` bytes; nothing when it holds more. Memory
// grows with what actually arrives, never to the limit up front (a limit guards against a hostile
// file, it is no size to reserve for an ordinary one).
std::optional<QByteArray> readAllWithin(QIODevice& device, qint64 limit);

// The first byte of the array, or null when it is empty (image code passes null for "no buffer").
const uint8_t* byteArrayDataOrNull(const QByteArray& bytes);
uint8_t* byteArrayDataOrNull(QByteArray& bytes);
