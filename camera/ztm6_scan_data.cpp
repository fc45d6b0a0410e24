#include "base/binary_read.h"
#include "base/json_values.h"
#include "camera/cam_params_ztm6.h"
#include "camera/scan_json.h"
#include "imaging/image_io.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QQuaternion>
#include <QVector3D>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {
constexpr int kMaxLidarPoints = 10000;
constexpr qint64 kLidarRecordBytes = 8;
// Beyond this the point is no lidar return; the filter drops it after rounding anyway.
constexpr int kMaxLidarManhattan = 99999;
constexpr qint64 kMaxScanJsonBytes = 64 * 1024 * 1024;
constexpr double kRadToDeg = 57.29577951308232;

double vectorLength(double x, double y)
{
    return std::sqrt(x * x + y * y);
}

double vectorAngleRad(double x, double y)
{
    return std::atan2(-y, x);
}

double vectorAngleDeg360(double x, double y)
{
    double d = std::atan2(-y, x) * 360.0 / 6.283185307179586;
    if (d < 0.0)
        d += 360.0;
    if (std::fabs(d - 360.0) * 1e12 <= std::min(std::fabs(d), 360.0))
        return 0.0;
    return d;
}

float readFloat(const char* bytes)
{
    float value = 0.0f;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// A coordinate that rounds to a usable lidar value, or nothing.
bool roundCoordinate(float value, int& out)
{
    if (!std::isfinite(value) || std::fabs(value) > static_cast<float>(kMaxLidarManhattan) + 1.0f)
        return false;
    out = static_cast<int>(std::round(value));
    return true;
}

struct KeptPoint {
    double angle;
    QPoint point;
};

// The shared keys, with the heading taken against the camera's own yaw.
void readTwoLensScanJson(const QJsonObject& json, float yaw, ScanData& data)
{
    QString cameraHash;
    readScanJson(json, data, cameraHash);
    const double rot = json.value("rot").toDouble();
    double heading = (static_cast<double>(yaw) - rot) * kRadToDeg;
    if (!fitsFloat(heading))
        heading = static_cast<double>(yaw) * kRadToDeg;
    data.heading = static_cast<float>(heading);
}

// The older binary metadata: x, y, rot as float32 and, from 16 bytes on, the shutter counter.
void readXfrm(QFile& file, float yaw, ScanData& data)
{
    const QByteArray bytes = file.read(16);
    if (bytes.size() < 12)
        return;
    const float x = readFloat(bytes.constData());
    const float y = readFloat(bytes.constData() + 4);
    const float rot = readFloat(bytes.constData() + 8);
    if (std::isfinite(x) && std::isfinite(y))
        data.position = QPointF(x, -y);
    const float heading = (yaw - rot) * 57.29578f;
    if (std::isfinite(heading))
        data.heading = heading;
    if (bytes.size() >= 16) {
        uint32_t counter = 0;
        std::memcpy(&counter, bytes.constData() + 12, sizeof counter);
        if (counter <= static_cast<uint32_t>(std::numeric_limits<int>::max()))
            data.shutterCounter = static_cast<int>(counter);
    }
}
} // namespace

void readLidarPoints(const QString& path, QList<QPoint>& points, float& heading)
{
    points.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray head = file.read(4);
    heading = head.size() < 4 ? std::numeric_limits<float>::quiet_NaN() : readFloat(head.constData());
    const QByteArray body = file.read(kLidarRecordBytes * kMaxLidarPoints);
    const qsizetype count = body.size() / kLidarRecordBytes;
    points.reserve(count);

    bool haveLast = false;
    QPoint last;
    for (qsizetype k = 0; k < count; ++k) {
        const char* record = body.constData() + k * kLidarRecordBytes;
        int x = 0, y = 0;
        if (!roundCoordinate(readFloat(record), x) || !roundCoordinate(-readFloat(record + 4), y))
            continue;
        if ((x == 0 && y == 0) || std::abs(x) + std::abs(y) > kMaxLidarManhattan)
            continue;
        if (haveLast) {
            // Drop points that jump in angle or in distance from the last accepted one.
            const double g = std::fabs(vectorAngleDeg360(x, y) - vectorAngleDeg360(last.x(), last.y())) * 3.38;
            const double j = vectorLength(x - last.x(), y - last.y()) / g / vectorLength(x, y);
            if (g > 2.0 || j > 0.0425) {
                if (g < 1.5)
                    points.removeLast();
                haveLast = false;
                continue;
            }
        }
        points.append(QPoint(x, y));
        last = QPoint(x, y);
        haveLast = true;
    }
}

void CamParamsZTM6::loadFisheyeImage(const QString& scanFolder, int shot, QByteArray& rgb, bool) const
{
    const QString path = QStringLiteral("%1/h%2.jpg").arg(scanFolder).arg(shot + 1);
    int width = 0, height = 0;
    const auto ofCalibration = [this](int w, int h) { return w == m_header.IMG_WIDTH && h == m_header.IMG_HEIGHT; };
    if (loadImageRgbOfSize(path, rgb, width, height, true, false, ofCalibration) == SizedImage::WrongSize)
        throw std::runtime_error("Failed to load image" + path.toStdString() + ": improper size.");
}

void CamParamsZTM6::loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                                 const LidarReadOptions&) const
{
    QList<QPoint> lensPoints[2];
    float lensHeading[2] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN()};
#pragma omp parallel for num_threads(2)
    for (int lens = 0; lens < 2; ++lens)
        readLidarPoints(QStringLiteral("%1/pts%2.dat").arg(scanFolder).arg(lens + 1), lensPoints[lens], lensHeading[lens]);

    const float yaw = m_header.YAW;
    const QQuaternion levelling = QQuaternion::fromEulerAngles(-params[ImageParams::ROLL_GLOBAL] * 57.29578f,
                                                               -params[ImageParams::PITCH_GLOBAL] * 57.29578f,
                                                               -yaw * 57.29578f);
    data.lidarPoints.clear();
    data.lidarPoints.reserve(lensPoints[0].size() + lensPoints[1].size() + 2);
    std::vector<KeptPoint> kept;
    kept.reserve(static_cast<size_t>(lensPoints[0].size() + lensPoints[1].size()));
    double sumX = 0.0, sumY = 0.0;
    const bool splitBySide = !lensPoints[1].isEmpty();
    for (int lens = 0; lens < 2; ++lens) {
        if (std::isfinite(lensHeading[lens])) {
            // Qt's polar convention: counter-clockwise with y pointing down.
            sumX += std::cos(static_cast<double>(lensHeading[lens]));
            sumY -= std::sin(static_cast<double>(lensHeading[lens]));
        }
        for (const QPoint& point : std::as_const(lensPoints[lens])) {
            const QVector3D turned = levelling.rotatedVector(QVector3D(point.x(), point.y(), 0.0f));
            if (!std::isfinite(turned.x()) || !std::isfinite(turned.y()))
                continue;
            const int x = static_cast<int>(std::round(turned.x()));
            const int y = static_cast<int>(std::round(turned.y()));
            // With both lenses present each one contributes its own half of the room.
            if (splitBySide && (lens == 0 ? x >= 0 : x < 0))
                continue;
            kept.push_back({vectorAngleRad(point.x(), point.y()), QPoint(x, y)});
        }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const KeptPoint& a, const KeptPoint& b) { return a.angle < b.angle; });
    for (const KeptPoint& k : kept)
        data.lidarPoints.append(k.point);
    data.lidarHeading = vectorLength(sumX, sumY) > 0.9
                            ? static_cast<float>((static_cast<double>(yaw) - vectorAngleRad(sumX, sumY)) * kRadToDeg)
                            : std::numeric_limits<float>::quiet_NaN();

    data.shutterCounter = 0;
    data.temperature = 0.0f;
    data.temperatureSource.clear();
    data.systemInfo = QJsonObject();
    data.alignmentFlag = -1;
    data.alignmentScore = -1.0f;

    QFile json(scanFolder + "/scan.json");
    if (json.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // An oversized file is no metadata this camera writes; it reads as an empty object.
        const QByteArray text = readAllWithin(json, kMaxScanJsonBytes).value_or(QByteArray());
        readTwoLensScanJson(QJsonDocument::fromJson(text).object(), yaw, data);
        return;
    }
    QFile xfrm(scanFolder + "/xfrm.dat");
    if (xfrm.open(QIODevice::ReadOnly))
        readXfrm(xfrm, yaw, data);
}
