#include "support/two_lens_scan_fixture.h"

#include "support/test_support.h"
#include "support/ztm6_model.h"

#include <QDir>

#include <gtest/gtest.h>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace testsupport {

namespace {
constexpr double kPi = 3.14159265358979323846;

uint8_t clampByte(double value)
{
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

QImage lensPicture(int width, int height, const uint8_t (*inverse)[256])
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const QRgb colour = plantedSceneColour((x + 0.5) / width, (y + 0.5) / height);
            uint8_t rgb[3] = {static_cast<uint8_t>(qRed(colour)), static_cast<uint8_t>(qGreen(colour)),
                              static_cast<uint8_t>(qBlue(colour))};
            for (int ch = 0; ch < 3; ++ch)
                line[x * 3 + ch] = inverse ? inverse[ch][rgb[ch]] : rgb[ch];
        }
    }
    return image;
}
} // namespace

QByteArray lidarFile(float heading, const std::vector<std::pair<float, float>>& points)
{
    QByteArray bytes(reinterpret_cast<const char*>(&heading), 4);
    for (const auto& [x, y] : points) {
        const float stored[2] = {x, -y};
        bytes.append(reinterpret_cast<const char*>(stored), 8);
    }
    return bytes;
}

std::pair<float, float> Room::hit(double a) const
{
    const double dx = std::cos(a), dy = -std::sin(a);
    double t = std::numeric_limits<double>::infinity();
    if (dx > 1e-12)
        t = std::min(t, right / dx);
    if (dx < -1e-12)
        t = std::min(t, left / dx);
    if (dy > 1e-12)
        t = std::min(t, bottom / dy);
    if (dy < -1e-12)
        t = std::min(t, top / dy);
    return {static_cast<float>(t * dx), static_cast<float>(t * dy)};
}

double Room::distanceToWalls(double x, double y) const
{
    const double inside =
        std::min({std::fabs(x - left), std::fabs(x - right), std::fabs(y - top), std::fabs(y - bottom)});
    const bool within = x >= left - 1 && x <= right + 1 && y >= top - 1 && y <= bottom + 1;
    return within ? inside : 1e9;
}

std::vector<std::pair<float, float>> sweep(const Room& room, double fromDeg, double toDeg, double ownFrom,
                                           double ownTo)
{
    std::vector<std::pair<float, float>> points;
    for (double deg = fromDeg; deg <= toDeg + 1e-9; deg += 0.25) {
        auto [x, y] = room.hit(deg * kPi / 180);
        if (deg < ownFrom || deg > ownTo) {
            const double scale = (std::hypot(x, y) + 10) / std::hypot(x, y);
            x = static_cast<float>(x * scale);
            y = static_cast<float>(y * scale);
        }
        points.emplace_back(x, y);
    }
    return points;
}

QRgb plantedSceneColour(double u, double v)
{
    if (v >= kMarkerTop && v < kMarkerBottom) {
        if (u >= kRedMarkerLeft && u < kRedMarkerRight)
            return qRgb(230, 20, 20);
        if (u >= kGreenMarkerLeft && u < kGreenMarkerRight)
            return qRgb(20, 200, 40);
    }
    // Gentle gradients give the colour equalisation more than two levels to fit.
    if (v < 0.5) {
        const double t = v / 0.5;
        return qRgb(clampByte(45 + 30 * t), clampByte(125 + 30 * t), clampByte(225 + 25 * t));
    }
    const double t = (v - 0.5) / 0.5;
    return qRgb(clampByte(135 - 30 * t), clampByte(95 - 30 * t), clampByte(45 - 30 * t));
}

void expectPlantedScene(const QImage& image)
{
    ASSERT_FALSE(image.isNull());
    const auto at = [&](double u, double v) {
        return image.pixel(static_cast<int>(u * image.width()), static_cast<int>(v * image.height()));
    };
    const double markerRow = (kMarkerTop + kMarkerBottom) / 2;
    const QRgb red = at((kRedMarkerLeft + kRedMarkerRight) / 2, markerRow);
    EXPECT_TRUE(qRed(red) > 180 && qGreen(red) < 80 && qBlue(red) < 80) << "red marker at the top left, seen by lens 2";
    const QRgb green = at((kGreenMarkerLeft + kGreenMarkerRight) / 2, markerRow);
    EXPECT_TRUE(qGreen(green) > 150 && qRed(green) < 80 && qBlue(green) < 100) << "green marker at the top, right of the middle";
    for (double u : {0.15, 0.45, 0.9}) {
        for (double v : {0.2, 0.4}) {
            const QRgb sky = at(u, v);
            EXPECT_GT(qBlue(sky), 200) << "sky at (" << u << ", " << v << ")";
            EXPECT_LT(qRed(sky), 100) << "sky at (" << u << ", " << v << ")";
        }
        for (double v : {0.6, 0.85}) {
            const QRgb ground = at(u, v);
            EXPECT_GT(qRed(ground), qBlue(ground) + 40) << "ground at (" << u << ", " << v << ")";
        }
    }
    // Mirror images of the markers: on the wrong side or at the bottom.
    EXPECT_LT(qRed(at(1 - (kRedMarkerLeft + kRedMarkerRight) / 2, markerRow)), 120) << "no marker at the top right";
    EXPECT_LT(qRed(at((kRedMarkerLeft + kRedMarkerRight) / 2, 1 - markerRow)), 180) << "no marker at the bottom left";
}

double gainCurveValue(double g, double u)
{
    const double k1 = g / (g - 1);
    const double k2 = (g - 0.5) / (-2 * g * g * (g - 1));
    const double q = 2 * g * (g - 1);
    const double c1 = (0.5 * g + g * g - 1) / q;
    const double c2 = (g * g - 2.5 * g + 0.5) / q;
    if (u <= g)
        return std::max(k2 * u * u * u + c1 * u, 0.0);
    const double w = u - 1;
    return std::min(k1 * k2 * w * w * w + c2 * w + 1, 1.0);
}

uint8_t inverseGain(double g, double target)
{
    int best = 0;
    for (int n = 1; n < 256; ++n)
        if (std::fabs(gainCurveValue(g, n / 255.0) - target) < std::fabs(gainCurveValue(g, best / 255.0) - target))
            best = n;
    return static_cast<uint8_t>(best);
}

QJsonObject writeTwoLensScanFolder(const QString& folder, const TwoLensScanSetup& setup)
{
    if (!QDir().mkpath(folder))
        throw std::runtime_error("cannot create " + folder.toStdString());
    const int width = 2 * setup.lensHeight;
    const int height = setup.lensHeight;
    if (!lensPicture(width, height, nullptr).save(folder + "/h1.jpg", "JPG", 95))
        throw std::runtime_error("cannot write h1.jpg");
    if (setup.withSecondLensImage) {
        uint8_t inverse[3][256];
        for (int ch = 0; ch < 3; ++ch)
            for (int n = 0; n < 256; ++n)
                inverse[ch][n] = inverseGain(setup.lens2Gains[ch], n / 255.0);
        if (!lensPicture(width, height, inverse).save(folder + "/h2.jpg", "JPG", 95))
            throw std::runtime_error("cannot write h2.jpg");
    }

    // Lens 1 owns the left half (90..270 degrees), lens 2 the right half; each sees 30 degrees more.
    writeFile(folder + "/pts1.dat", lidarFile(0.5f, sweep(setup.room, 60, 300, 90, 270)));
    writeFile(folder + "/pts2.dat", lidarFile(0.7f, sweep(setup.room, -120, 120, -90, 90)));

    const QJsonObject scan{
        {"pos", QJsonArray{setup.position.x(), setup.position.y()}},
        {"rot", setup.rot},
        {"shutterCounter", setup.shutterCounter},
        {"hidden", 0},
        {"globalId", "scan-" + QString::number(setup.shutterCounter)},
        {"temperature", 23.5},
        {"temperatureSource", "lidar"},
        {"system", QJsonObject{{"cameraSerialNumber", setup.cameraSerial}, {"firmware", "4.2.17"}}},
        {"takePictureParams", QJsonObject{{"exposure", "auto"}, {"hdr", 3}}},
        {"lidarUptime", 5123},
        {"systemcfg", setup.systemcfg},
        {"captureTimestamp", QJsonValue(setup.captureTimestamp)},
        {"alignmentScore", 0.875},
    };
    writeFile(folder + "/scan.json", QJsonDocument(scan).toJson());
    return scan;
}

std::unique_ptr<CamParamsZTM6> makeTwoLensCamera(const TwoLensScanSetup& setup)
{
    auto camera = makeIdentityZtm6(setup.lensHeight);
    const QByteArray serial = setup.cameraSerial.toLatin1().left(23);
    std::memcpy(camera->header().SYSTEM_SERIAL, serial.constData(), static_cast<size_t>(serial.size()));
    camera->initBlendMasks(7200, 1800);
    return camera;
}

} // namespace testsupport
