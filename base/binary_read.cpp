#include "base/binary_read.h"

#include <QtEndian>

#include <algorithm>

namespace {

// Reads up to byteCount bytes in bounded steps, so memory grows only with what actually arrives.
QByteArray readAtMost(QIODevice& device, qint64 byteCount)
{
    constexpr qint64 chunkSize = 1 << 16;
    QByteArray bytes;
    while (bytes.size() < byteCount) {
        const QByteArray chunk = device.read(std::min(byteCount - bytes.size(), chunkSize));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    return bytes;
}

} // namespace

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
