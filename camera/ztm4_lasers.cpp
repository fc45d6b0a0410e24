// Laser lines into floor-plan points: each centroid's pixel ray is cut with the plane of the
// laser whose columns it lies in.

#include "camera/cam_params_ztm4.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace {
constexpr float kPi = 3.1415925f;
constexpr float kHalfPi = 1.5707963f;
constexpr float kTiny = 1.1754944e-38f;
constexpr float kNoPoint = -3.697314e28f;
constexpr qint64 kCentroidRecordSize = 8;
// Nearer than about 447 mm or farther than 20 m a laser point is noise.
constexpr double kMinRange2 = 200000.0;
constexpr double kMaxRange2 = 4e8;
constexpr double kMaxManhattan = 100000.0;
} // namespace

void CamParamsZTM4::laserRay(float theta, float cx, float sy, int laser, float& outX, float& outY, float& outZ) const
{
    if (laser < 0 || laser >= int(m_lasers.size())) {
        outX = outY = outZ = kNoPoint;
        return;
    }
    const LaserPlane& plane = m_lasers[size_t(laser)];
    // The laser angle: where across the fan of lasers the ray lies.
    float w = 0.0f;
    if (fileStamp == kOlderStamp) {
        w = std::acos(cx);
        if (sy < 0.0f)
            w = 2.0f * kPi - w;
    } else {
        w = std::atan(std::tan(theta) * cx);
        if (theta > kHalfPi)
            w = cx <= 0.0f ? w - kPi : w + kPi;
        w = kHalfPi - w;
    }
    const int n = int(m_lasers.size());
    w = w - (float(n - laser) - 0.5f) * kPi / float(n);

    float a = std::sin(theta) * cx;
    float b = std::cos(theta);
    const float w2 = w * w, w3 = w2 * w, w4 = w3 * w, w5 = w4 * w;
    float y = std::sin(theta) * sy + plane[A0] + plane[A1] * w + plane[A2] * w2 + plane[A3] * w3 + plane[A4] * w4
        + plane[A5] * w5;
    const float scale = 1.0f / std::sqrt(y * y + a * a + b * b);
    y *= scale;
    a *= scale;
    b *= scale;

    const float denominator = y * plane[NY] + a * plane[NX] + b * plane[NZ];
    if (std::fabs(denominator) <= kTiny) {
        outX = outY = outZ = kNoPoint;
        return;
    }
    const float t = plane[PN] / denominator;
    outX = t * a;
    outY = t * y;
    outZ = t * b;
}

void CamParamsZTM4::readCentroidFile(const QString& scanFolder, int shot, const float yaws[3], QList<QPoint>& points) const
{
    if (shot < 0 || shot > 2)
        return;
    QFile file(QStringLiteral("%1/%2Cts.dat").arg(scanFolder, QChar(u'a' + shot)));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const qint64 available = file.isSequential() ? kMaxCentroids * kCentroidRecordSize : file.size();
    const qint64 records = std::min<qint64>(available / kCentroidRecordSize, kMaxCentroids);
    const QByteArray bytes = file.read(records * kCentroidRecordSize);
    const qsizetype count = bytes.size() / kCentroidRecordSize;

    const double c = std::cos(double(yaws[shot]));
    const double s = std::sin(double(yaws[shot]));
    points.reserve(points.size() + count);
    for (qsizetype record = 0; record < count; ++record) {
        const float u = readLittleEndian<float>(bytes, record * kCentroidRecordSize);
        const float v = readLittleEndian<float>(bytes, record * kCentroidRecordSize + 4);
        // Written as negative (or not a number) where the camera found no line.
        if (!(u >= 0.0f && v >= 0.0f))
            continue;
        const auto laser = std::find_if(m_lasers.begin(), m_lasers.end(),
                                        [u](const LaserPlane& plane) { return plane[UMIN] <= u && u <= plane[UMAX]; });
        if (laser == m_lasers.end())
            continue;
        float theta = 0.0f, cx = 0.0f, sy = 0.0f;
        unprojectPixel(*this, u, v, theta, cx, sy);
        float x = 0.0f, y = 0.0f, z = 0.0f;
        laserRay(theta, cx, sy, int(laser - m_lasers.begin()), x, y, z);
        const double range2 = double(x) * x + double(z) * z;
        if (!(range2 > kMinRange2 && range2 < kMaxRange2 && std::fabs(double(x)) + std::fabs(double(z)) < kMaxManhattan))
            continue;
        points.append(QPoint(int(std::lround(c * x - s * z)), int(std::lround(-(c * z + s * x)))));
    }
}
