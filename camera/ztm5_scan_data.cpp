#include "camera/cam_params_ztm5.h"

#include "base/binary_read.h"
#include "base/geometry.h"
#include "camera/lidar_heading.h"
#include "camera/lidar_jump.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuaternion>
#include <QVector3D>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
constexpr int kShots = 3;
constexpr qint64 kHeadingBytes = 4;
constexpr qint64 kRecordBytes = 8;
// A record beyond this (after rounding) is no lidar return.
constexpr int kMaxManhattan = 99999;
// Every value at least this far out rounds beyond kMaxManhattan, so it is dropped before any
// rounding: this also keeps infinities and huge values away from the integer conversion.
constexpr float kMaxCoordinate = 100000.0f;
// The lidar's turning centre lies this far (mm) from the camera's axis, towards +y.
constexpr double kLidarPivot = 26.0;
constexpr float kShot3Base = 4.18879f;
constexpr float kShot2Base = 2.094395f;
constexpr float kRadToDegF = 57.29578f;
constexpr double kRadToDeg = 57.29577951308232;
constexpr float kLeastCorrectingAmplitude = -0.00001f;
// The heading a camera writes when it has none.
constexpr float kNoHeading = -3e28f;
constexpr double kLeastHeadingAgreement = 0.99;
constexpr qint64 kMaxScanJsonBytes = 64 * 1024 * 1024;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

float floatAt(const char* bytes)
{
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

bool roundToPoint(double x, double y, QPoint& out)
{
    if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > 1e9 || std::fabs(y) > 1e9)
        return false;
    out = QPoint(int(std::round(x)), int(std::round(y)));
    return true;
}

// The turn of each sweep about the vertical, in degrees; lidar file 2 was taken with shot 3 and
// lidar file 3 with shot 2.
std::array<QQuaternion, kShots> sweepTurns(const ImageParams& params)
{
    return {QQuaternion(), QQuaternion::fromEulerAngles(0.0f, 0.0f, 120.0f - kRadToDegF * params[ImageParams::YAW_3]),
            QQuaternion::fromEulerAngles(0.0f, 0.0f, 240.0f - kRadToDegF * params[ImageParams::YAW_2])};
}

// Jumps of range or direction between neighbouring returns are glints and edges, not walls.
class JumpFilter {
public:
    explicit JumpFilter(QList<QPoint>& points) : m_points(points) {}

    void offer(const QPoint& point)
    {
        if (m_havePrevious) {
            const LidarJump jump = lidarJump(m_previous, point);
            if (jump.reject) {
                // Close in direction: the earlier point belongs to the same glitch.
                if (jump.dropPrevious && !m_points.isEmpty())
                    m_points.removeLast();
                m_havePrevious = false;
                return;
            }
        }
        m_points.append(point);
        m_previous = point;
        m_havePrevious = true;
    }

private:
    QList<QPoint>& m_points;
    QPoint m_previous;
    bool m_havePrevious = false;
};

void readScanJson(QFile& file, ScanData& data)
{
    // An oversized file is no metadata this camera writes; it reads as an empty object.
    const QByteArray text = readAllWithin(file, kMaxScanJsonBytes).value_or(QByteArray());
    const QJsonObject json = QJsonDocument::fromJson(text).object();
    const QJsonArray pos = json.value("pos").toArray();
    if (pos.size() >= 2) {
        const double x = pos.at(0).toDouble(), y = pos.at(1).toDouble();
        if (std::isfinite(x) && std::isfinite(y))
            data.position = QPointF(x, -y);
    }
    const float heading = float(json.value("rot").toDouble() * -kRadToDeg);
    data.heading = std::isfinite(heading) ? heading : 0.0f;
    data.shutterCounter = json.value("shutterCounter").toInt();
    data.shown = json.value("hidden").toInt() == 0;
}

// The older binary metadata: x, y and rot as float32 and, from 16 bytes on, the shutter counter.
void readXfrm(QFile& file, ScanData& data)
{
    const QByteArray bytes = file.read(16);
    if (bytes.size() < 12)
        return;
    const float x = floatAt(bytes.constData()), y = floatAt(bytes.constData() + 4);
    const float heading = floatAt(bytes.constData() + 8) * -kRadToDegF;
    if (std::isfinite(x) && std::isfinite(y))
        data.position = QPointF(x, -y);
    if (std::isfinite(heading))
        data.heading = heading;
    if (bytes.size() >= 16) {
        uint32_t counter;
        std::memcpy(&counter, bytes.constData() + 12, sizeof counter);
        if (counter <= uint32_t(std::numeric_limits<int>::max()))
            data.shutterCounter = int(counter);
    }
}
} // namespace

void CamParamsZTM5::readLidarSweep(const QString& scanFolder, int shot, LidarSweep& sweep) const
{
    sweep.returns.clear();
    sweep.opened = false;
    QFile file(QStringLiteral("%1/pts%2.dat").arg(scanFolder).arg(shot + 1));
    if (!file.open(QIODevice::ReadOnly))
        return;
    sweep.opened = true;
    const QByteArray head = file.read(kHeadingBytes);
    sweep.heading = head.size() < kHeadingBytes ? kNaN : floatAt(head.constData());
    qint64 records = kMaxLidarRecords;
    if (!file.isSequential())
        records = std::clamp<qint64>((file.size() - kHeadingBytes) / kRecordBytes, 0, kMaxLidarRecords);
    const QByteArray body = file.read(records * kRecordBytes);
    records = body.size() / kRecordBytes;
    sweep.returns.reserve(size_t(records));

    const float vc0 = calibFloat[VC0], vc1 = calibFloat[VC1], vc2 = calibFloat[VC2];
    for (qint64 k = 0; k < records; ++k) {
        const char* record = body.constData() + k * kRecordBytes;
        const float x = floatAt(record), y = floatAt(record + 4);
        if (!(std::fabs(x) < kMaxCoordinate) || !(std::fabs(y) < kMaxCoordinate))
            continue;
        LidarSweep::Return r;
        r.raw = QPoint(int(std::round(x)), int(std::round(-y)));
        if (r.raw.isNull() || std::abs(r.raw.x()) + std::abs(r.raw.y()) > kMaxManhattan)
            continue;
        // The angle about the lidar's own centre under the calibration rotation; trials add theirs.
        const QPointF d(double(x), double(-y) - kLidarPivot);
        r.range = vectorLength(d);
        float a = float(vectorAngleRad(d) - double(vc2));
        a = a - vc1 * std::sin(a + vc0) / (vc1 * std::cos(a + vc0) + 1.0f);
        r.angle = a;
        sweep.returns.push_back(r);
    }
}

void CamParamsZTM5::sweepPoints(const LidarSweep& sweep, QList<QPoint>& points, float phase, float amplitude,
                                float offset) const
{
    points.clear();
    points.reserve(qsizetype(sweep.returns.size()));
    bool correct = amplitude >= kLeastCorrectingAmplitude;
    if (!correct && calibFloat[VC1] != 0.0f) {
        // No trial, but a calibration that does more than turn: its points, as a kept trial showed them.
        correct = true;
        phase = 0.0f;
        amplitude = 0.0f;
        offset = calibFloat[VC2];
    }
    JumpFilter filter(points);
    for (const LidarSweep::Return& r : sweep.returns) {
        QPoint point = r.raw;
        if (correct) {
            const float a = r.angle + std::sin(r.angle + phase) * amplitude + offset;
            if (!roundToPoint(r.range * double(std::cos(a)), kLidarPivot - r.range * double(std::sin(a)), point))
                continue;
        }
        filter.offer(point);
    }
}

void CamParamsZTM5::readLidarShot(const QString& scanFolder, int shot, QList<QPoint>& points, float& shotHeading,
                                  float phase, float amplitude, float offset) const
{
    LidarSweep sweep;
    readLidarSweep(scanFolder, shot, sweep);
    if (sweep.opened)
        shotHeading = sweep.heading;
    sweepPoints(sweep, points, phase, amplitude, offset);
}

void CamParamsZTM5::loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                                 const LidarReadOptions& options) const
{
    std::array<float, kShots> turns = {0.0f, params[ImageParams::YAW_3] + kShot3Base,
                                       params[ImageParams::YAW_2] + kShot2Base};
    std::array<QList<QPoint>, kShots> sweeps;
    float shotHeadings[kShots] = {kNaN, kNaN, kNaN};
#pragma omp parallel for num_threads(kShots)
    for (int k = 0; k < kShots; ++k)
        readLidarShot(scanFolder, k, sweeps[size_t(k)], shotHeadings[k], options.phase, options.amplitude,
                      options.offset);

    // Without an estimate the yaws stay exactly as they were: adding and taking off the base
    // turn in single precision would move them a little on every load.
    if (options.headingSearchMode != 0) {
        estimateLidarHeading(sweeps, turns, options.headingSearchMode);
        params[ImageParams::YAW_3] = turns[1] - kShot3Base;
        params[ImageParams::YAW_2] = turns[2] - kShot2Base;
    }

    const QQuaternion levelling = QQuaternion::fromEulerAngles(kRadToDegF * params[ImageParams::PITCH_GLOBAL],
                                                               kRadToDegF * params[ImageParams::ROLL_GLOBAL], 0.0f);
    const std::array<QQuaternion, kShots> sweepTurn = sweepTurns(params);
    QList<QPoint>& outline = data.lidarPoints;
    outline.clear();
    outline.reserve(sweeps[0].size() + sweeps[1].size() + sweeps[2].size() + 2);
    for (int k = 0; k < kShots; ++k) {
        for (const QPoint& p : std::as_const(sweeps[size_t(k)])) {
            const QVector3D v = levelling.rotatedVector(sweepTurn[size_t(k)].rotatedVector(QVector3D(p.x(), p.y(), 0.0f)));
            QPoint point;
            if (roundToPoint(v.x(), v.y(), point) && (outline.isEmpty() || outline.last() != point))
                outline.append(point);
        }
        // A repeated point marks where a sweep ends; an empty sweep still gets one.
        if (k < kShots - 1) {
            if (outline.isEmpty())
                outline.append(QPoint(0, 50));
            outline.append(outline.last());
        }
    }

    double sumX = 0.0, sumY = 0.0;
    for (int k = 0; k < kShots; ++k) {
        if (std::isnan(shotHeadings[k]) || shotHeadings[k] < kNoHeading)
            continue;
        sumX += std::cos(shotHeadings[k] - turns[size_t(k)]);
        sumY += std::sin(shotHeadings[k] - turns[size_t(k)]);
    }
    const QPointF sum(sumX, sumY);
    data.lidarHeading = vectorLength(sum) >= kLeastHeadingAgreement ? float(vectorAngleRad(sum) * kRadToDegF) : kNaN;

    data.shutterCounter = 0;
    data.temperature = 0.0f;
    data.temperatureSource.clear();
    data.systemInfo = QJsonObject();
    QFile json(scanFolder + "/scan.json");
    if (json.open(QIODevice::ReadOnly | QIODevice::Text)) {
        readScanJson(json, data);
        return;
    }
    QFile xfrm(scanFolder + "/xfrm.dat");
    if (xfrm.open(QIODevice::ReadOnly))
        readXfrm(xfrm, data);
}

LidarScanSweeps CamParamsZTM5::readLidarScan(const QString& scanFolder, const ImageParams& params) const
{
    LidarScanSweeps scan;
    scan.yaw3 = params[ImageParams::YAW_3];
    scan.yaw2 = params[ImageParams::YAW_2];
#pragma omp parallel for num_threads(kShots)
    for (int k = 0; k < kShots; ++k)
        readLidarSweep(scanFolder, k, scan.sweeps[size_t(k)]);
    return scan;
}

QList<QPoint>& CamParamsZTM5::rotatePointCloud(QList<QPoint>& out, const QString& scanFolder,
                                               const ImageParams& params, float phase, float amplitude) const
{
    return rotatePointCloud(out, readLidarScan(scanFolder, params), phase, amplitude);
}

QList<QPoint>& CamParamsZTM5::rotatePointCloud(QList<QPoint>& out, const LidarScanSweeps& scan, float phase,
                                               float amplitude) const
{
    const float offset = calibFloat[VC2];
    ImageParams params;
    params[ImageParams::YAW_3] = scan.yaw3;
    params[ImageParams::YAW_2] = scan.yaw2;
    const std::array<QQuaternion, kShots> sweepTurn = sweepTurns(params);
    out.clear();
    out.reserve(qsizetype(scan.sweeps[0].returns.size() + scan.sweeps[1].returns.size()
                          + scan.sweeps[2].returns.size()));
    QList<QPoint> points;
    for (int k = 0; k < kShots; ++k) {
        sweepPoints(scan.sweeps[size_t(k)], points, phase, amplitude, offset);
        for (const QPoint& p : std::as_const(points)) {
            const QVector3D v = sweepTurn[size_t(k)].rotatedVector(QVector3D(p.x(), p.y(), 0.0f));
            QPoint point;
            if (roundToPoint(v.x(), v.y(), point))
                out.append(point);
        }
    }
    return out;
}
