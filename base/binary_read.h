#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <cstdint>

// Reads a little-endian signed 32-bit count of UTF-16 code units followed by the units.
// Returns defaultValue for a short count, a count below 1 or a record cut short; a count larger
// than the bytes left in a device of known size is refused before anything is allocated.
QString readUtf16String(QIODevice& device, const QString& defaultValue);

// The first byte of the array, or null when it is empty (image code passes null for "no buffer").
const uint8_t* byteArrayDataOrNull(const QByteArray& bytes);
uint8_t* byteArrayDataOrNull(QByteArray& bytes);
