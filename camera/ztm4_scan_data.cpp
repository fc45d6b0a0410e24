// What the laser-line camera and its field application leave in a scan folder besides the shots:
// the centroid files, "pos.txt" (position and compass angles) and "room.dat" (the field
// application's placement of the scan).

#include "camera/cam_params_ztm4.h"

#include "base/binary_read.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {
constexpr float kRadToDeg = 57.29578f;
constexpr float kPi = 3.1415925f;
constexpr double kTwoPi = 6.283185307179586;
// Values at or below this are the camera's mark for "no value".
constexpr float kNoValue = -3e28f;
constexpr int kMaxCompassAngles = 3;
constexpr qint64 kMaxPosLine = 256;
constexpr qint32 kMaxImageParams = 20;
constexpr uint32_t kOldestRoomVersion = 4;
constexpr uint32_t kRoomVersionWithSecondFlag = 12;

// A number as sscanf's %f takes it: blanks first, then an optional sign; the rest of the text is
// left alone. `at` moves past the number.
bool scanFloat(const QByteArray& text, qsizetype& at, float& value)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at < text.size() && text[at] == '+')
        ++at;
    const char* begin = text.constData() + at;
    const auto result = std::from_chars(begin, text.constData() + text.size(), value);
    if (result.ec != std::errc())
        return false;
    at += result.ptr - begin;
    return true;
}

bool scanInt(const QByteArray& text, qsizetype& at, int& value)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at < text.size() && text[at] == '+')
        ++at;
    const char* begin = text.constData() + at;
    const auto result = std::from_chars(begin, text.constData() + text.size(), value);
    if (result.ec != std::errc())
        return false;
    at += result.ptr - begin;
    return true;
}

// "<prefix><number>" at the start of the line.
bool prefixedValue(const QByteArray& line, const char* prefix, float& value)
{
    if (!line.startsWith(prefix))
        return false;
    qsizetype at = qsizetype(std::strlen(prefix));
    return scanFloat(line, at, value);
}

// "Ang<index>:<value>".
bool compassLine(const QByteArray& line, int& index, float& value)
{
    if (!line.startsWith("Ang"))
        return false;
    qsizetype at = 3;
    if (!scanInt(line, at, index) || at >= line.size() || line[at] != ':')
        return false;
    ++at;
    return scanFloat(line, at, value);
}

QByteArray nextLine(QFile& file)
{
    QByteArray line = file.readLine(kMaxPosLine);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Reads a little-endian value when the file still holds it.
template <typename T>
bool readValue(QFile& file, T& value)
{
    const QByteArray bytes = file.read(sizeof value);
    if (bytes.size() != qsizetype(sizeof value))
        return false;
    std::memcpy(&value, bytes.constData(), sizeof value);
    return true;
}

bool skip(QFile& file, qint64 count)
{
    return count >= 0 && count <= file.size() - file.pos() && file.skip(count) == count;
}

// Position and heading where the field application placed the scan; a file that ends before
// them (or holds counts its bytes cannot) leaves both as they are.
void readRoomFile(const QString& path, ScanData& data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    uint32_t version = 0;
    if (!readValue(file, version))
        return;
    if (version < kOldestRoomVersion)
        throw std::runtime_error("File version " + std::to_string(version)
                                 + " is too old to load. Min supported is version 4.");
    readUtf16String(file, QStringLiteral("No Name"));
    if (!skip(file, version >= kRoomVersionWithSecondFlag ? 2 : 1) || !skip(file, 4))
        return;
    qint32 imageParams = 0;
    if (!readValue(file, imageParams))
        return;
    if (imageParams < 0 || imageParams > kMaxImageParams)
        throw std::runtime_error("Invalid number of image parameters. The file is probably corrupted or you may be "
                                 "trying to load the exported project, which is not supported.");
    qint32 records = 0;
    if (!skip(file, qint64(imageParams) * 4) || !readValue(file, records) || !skip(file, qint64(records) * 8))
        return;
    float x = 0, y = 0;
    if (!readValue(file, x) || !readValue(file, y) || !std::isfinite(x) || !std::isfinite(y))
        return;
    data.position = QPointF(x, -y);
    float rotation = 0;
    if (readValue(file, rotation) && std::isfinite(rotation))
        data.heading = 360.0f - kRadToDeg * rotation;
}
} // namespace

bool CamParamsZTM4::headingAnglesValid(const std::vector<float>& angles)
{
    if (angles.size() != 2 && angles.size() != 3)
        return false;
    for (float angle : angles)
        if (angle < kNoValue)
            return false;
    const auto degreesApart = [&](size_t i, size_t j) {
        return std::acos(std::clamp(std::cos(angles[i] - angles[j]), -1.0f, 1.0f)) * 180.0f / kPi;
    };
    if (angles.size() == 2)
        return degreesApart(0, 1) >= 140.0f;
    return degreesApart(0, 1) >= 80.0f && degreesApart(1, 2) >= 80.0f && degreesApart(2, 0) >= 80.0f;
}

float CamParamsZTM4::solveHeading(const std::vector<float>& angles)
{
    float x = 0.0f, y = 0.0f;
    if (angles.size() == 2) {
        // The second angle was taken half a turn after the first.
        x = (std::cos(angles[0]) + std::cos(angles[1] - kPi)) / 2.0f;
        y = (std::sin(angles[0]) + std::sin(angles[1] - kPi)) / 2.0f;
    } else if (angles.size() == 3) {
        // Shots a third of a turn apart; which way the camera turned shows in the first step.
        double step = std::fmod(double(angles[1]) - double(angles[0]), kTwoPi);
        if (step < 0)
            step += kTwoPi;
        step /= kTwoPi / 3.0;
        const int place[2][3] = {{0, 1, 2}, {0, 2, 1}};
        const int* order = place[step > 1.5 ? 1 : 0];
        for (int k = 0; k < 3; ++k) {
            const float turned = angles[size_t(k)] - 2.0f * kPi * float(order[k]) / 3.0f;
            x += std::cos(turned);
            y += std::sin(turned);
        }
        x /= 3.0f;
        y /= 3.0f;
    } else {
        return std::numeric_limits<float>::quiet_NaN();
    }
    const float length = std::sqrt(x * x + y * y);
    const float direction = std::acos(std::clamp(x / length, -1.0f, 1.0f));
    return y < 0.0f ? 2.0f * kPi - direction : direction;
}

void CamParamsZTM4::loadScanData(const QString& scanFolder, ImageParams& params, ScanData& data,
                                 const LidarReadOptions&) const
{
    // Shot b is the camera turned by 240 degrees, shot c by 120, each plus the turn alignment found.
    const float yaws[3] = {0.0f, params[ImageParams::YAW_3] + 4.18879f, params[ImageParams::YAW_2] + 2.094395f};
    data.shutterCounter = 0;
    data.shown = true;
    data.temperature = 0.0f;
    data.temperatureSource.clear();
    data.systemInfo = QJsonObject();

    QFile pos(scanFolder + "/pos.txt");
    if (pos.open(QIODevice::ReadOnly | QIODevice::Text)) {
        float value = 0.0f;
        if (prefixedValue(nextLine(pos), "PosX:", value) && std::isfinite(value))
            data.position.setX(value);
        if (prefixedValue(nextLine(pos), "PosY:", value) && std::isfinite(value))
            data.position.setY(-value);
        std::vector<float> angles;
        bool bad = false;
        while (int(angles.size()) < kMaxCompassAngles) {
            const QByteArray line = nextLine(pos);
            int index = 0;
            if (line.isEmpty() || !compassLine(line, index, value))
                break;
            bad = bad || value < kNoValue;
            angles.push_back(index == int(angles.size()) ? value : std::numeric_limits<float>::quiet_NaN());
        }
        float heading = std::numeric_limits<float>::quiet_NaN();
        if (!bad && headingAnglesValid(angles)) {
            const float h = solveHeading(angles);
            if (!std::isnan(h) && h >= kNoValue)
                heading = 360.0f - kRadToDeg * h;
        }
        data.lidarHeading = heading;
        data.heading = std::isnan(heading) ? 0.0f : heading;

        QList<QPoint> shots[3];
#pragma omp parallel for
        for (int shot = 0; shot < 3; ++shot)
            readCentroidFile(scanFolder, shot, yaws, shots[shot]);
        data.lidarPoints = shots[0] + shots[1] + shots[2];
    }
    readRoomFile(scanFolder + "/room.dat", data);
    // The yaws are only read here: writing them back through the additions above would move
    // them by a rounding step on every reload.
}
