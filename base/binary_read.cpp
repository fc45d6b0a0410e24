#include "base/binary_read.h"

#include <QtEndian>

#include <algorithm>

QByteArray readAtMost(QIODevice& device, qint64 byteCount)
{
    constexpr qint64 chunkSize = 1 << 16;
    QByteArray bytes;
    // A file tells its size: one allocation of what it holds instead of repeated growth.
    if (!device.isSequential())
        bytes.reserve(qsizetype(std::clamp<qint64>(device.size() - device.pos(), 0, byteCount)));
    while (bytes.size() < byteCount) {
        const QByteArray chunk = device.read(std::min(byteCount - bytes.size(), chunkSize));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    return bytes;
}

std::optional<QByteArray> readAllWithin(QIODevice& device, qint64 limit)
{
    if (!device.isSequential() && device.size() - device.pos() > limit)
        return std::nullopt;
    // One byte beyond the limit tells a device that holds more (a pipe, a file still growing).
    QByteArray bytes = readAtMost(device, limit + 1);
    if (bytes.size() > limit)
        return std::nullopt;
    return bytes;
}

QString readUtf16String(QIODevice& device, const QString& defaultValue)
{
    const QByteArray countBytes = device.read(4);
    if (countBytes.size() < 4)
        return defaultValue;
    const qint32 count = qFromLittleEndian<qint32>(countBytes.constData());
    if (count < 1)
        return defaultValue;
    const qint64 byteCount = qint64(count) * 2;
    if (!device.isSequential()) {
        const qint64 left = device.bytesAvailable();
        if (byteCount > left) {
            device.skip(left); // a cut-short record is consumed like any other
            return defaultValue;
        }
    }
    const QByteArray bytes = readAtMost(device, byteCount);
    if (bytes.size() != byteCount)
        return defaultValue;
    QString text(count, Qt::Uninitialized);
    for (qint32 i = 0; i < count; ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(bytes.constData() + 2 * qsizetype(i)));
    return text;
}

const uint8_t* byteArrayDataOrNull(const QByteArray& bytes)
{
    return bytes.isEmpty() ? nullptr : reinterpret_cast<const uint8_t*>(bytes.constData());
}

uint8_t* byteArrayDataOrNull(QByteArray& bytes)
{
    return bytes.isEmpty() ? nullptr : reinterpret_cast<uint8_t*>(bytes.data());
}
