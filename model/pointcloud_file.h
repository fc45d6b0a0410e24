#pragma once

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QString>

#include <cstdint>

// A scan's point cloud, "pc.dat": its lidar outline in the scan's own coordinates (integer
// millimetres, x to the right, y downwards, before the scan's rotation and position apply), in
// outline order. The file is the data-key envelope of these bytes, little-endian throughout:
//
//   offset   size   field
//   0        4      magic "QPCD"
//   4        2      version, 1
//   6        2      reserved, 0
//   8        4      point count n (uint32), at most kMaxPointcloudPoints
//   12       8 n    n points, each int32 x then int32 y
//
// A reader takes exactly 12 + 8 n bytes; anything else is not a point cloud of this version.

inline constexpr char kPointcloudMagic[4] = {'Q', 'P', 'C', 'D'};
inline constexpr uint16_t kPointcloudVersion = 1;
inline constexpr int kPointcloudHeaderBytes = 12;
// Far above what the camera's lidar files can yield (10000 points per lens file).
inline constexpr uint32_t kMaxPointcloudPoints = 1u << 20;

// The plain bytes. Throws std::length_error for more than kMaxPointcloudPoints points.
QByteArray encodePointcloud(const QList<QPoint>& points);
// False, with `points` emptied, unless `bytes` is exactly one point cloud of this version.
bool decodePointcloud(const QByteArray& bytes, QList<QPoint>& points);

// The file's content: the encoded points enciphered with the data key.
QByteArray encipheredPointcloud(const QList<QPoint>& points);
// Replaces the file as a whole; throws std::runtime_error when it cannot.
void writePointcloudFile(const QString& path, const QList<QPoint>& points);
// False, with `points` emptied, when the file is missing, unreadable, too large to be a point
// cloud (checked before reading) or not one.
bool readPointcloudFile(const QString& path, QList<QPoint>& points);
