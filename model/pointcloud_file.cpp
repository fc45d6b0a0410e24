#include "model/pointcloud_file.h"

#include "base/binary_read.h"
#include "base/cipher.h"
#include "base/write_failure.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cstring>
#include <stdexcept>

namespace {
constexpr qint64 kPointBytes = 8;
constexpr qint64 kMaxPlainBytes = kPointcloudHeaderBytes + kPointBytes * kMaxPointcloudPoints;
} // namespace

QByteArray encodePointcloud(const QList<QPoint>& points)
{
    if (static_cast<quint64>(points.size()) > kMaxPointcloudPoints)
        throw std::length_error("A point cloud holds at most " + std::to_string(kMaxPointcloudPoints) + " points, not "
                                + std::to_string(points.size()) + ".");
    QByteArray bytes(kPointcloudHeaderBytes + kPointBytes * points.size(), Qt::Uninitialized);
    char* out = bytes.data();
    std::memcpy(out, kPointcloudMagic, 4);
    qToLittleEndian<quint16>(kPointcloudVersion, out + 4);
    qToLittleEndian<quint16>(0, out + 6);
    qToLittleEndian<quint32>(static_cast<quint32>(points.size()), out + 8);
    out += kPointcloudHeaderBytes;
    for (const QPoint& point : points) {
        qToLittleEndian<qint32>(point.x(), out);
        qToLittleEndian<qint32>(point.y(), out + 4);
        out += kPointBytes;
    }
    return bytes;
}

bool decodePointcloud(const QByteArray& bytes, QList<QPoint>& points)
{
    points.clear();
    if (bytes.size() < kPointcloudHeaderBytes || std::memcmp(bytes.constData(), kPointcloudMagic, 4) != 0)
        return false;
    const char* in = bytes.constData();
    if (qFromLittleEndian<quint16>(in + 4) != kPointcloudVersion)
        return false;
    const quint32 count = qFromLittleEndian<quint32>(in + 8);
    // The count is checked against the bytes that are there before anything is allocated.
    if (count > kMaxPointcloudPoints || bytes.size() != kPointcloudHeaderBytes + kPointBytes * qint64(count))
        return false;
    points.reserve(count);
    in += kPointcloudHeaderBytes;
    for (quint32 k = 0; k < count; ++k, in += kPointBytes)
        points.append(QPoint(qFromLittleEndian<qint32>(in), qFromLittleEndian<qint32>(in + 4)));
    return true;
}

QByteArray encipheredPointcloud(const QList<QPoint>& points)
{
    QByteArray bytes = encodePointcloud(points);
    encipherBytes(bytes, CipherKind::Data);
    return bytes;
}

void writePointcloudFile(const QString& path, const QList<QPoint>& points)
{
    const QByteArray bytes = encipheredPointcloud(points);
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly))
        reason = file.errorString();
    else if (writeAll(file, bytes, reason) && commitAll(file, reason))
        return;
    throw std::runtime_error(QStringLiteral("Could not write %1: %2").arg(path, reason).toStdString());
}

bool readPointcloudFile(const QString& path, QList<QPoint>& points)
{
    points.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    std::optional<QByteArray> bytes = readAllWithin(file, kMaxPlainBytes + kEnvelopeOverhead);
    return bytes && decipherBytes(*bytes, CipherKind::Data) && decodePointcloud(*bytes, points);
}
