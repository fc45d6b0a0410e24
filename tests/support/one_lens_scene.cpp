#include "support/one_lens_scene.h"

#include "imaging/jpeg_writer.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace testsupport {
namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

using Matrix = std::array<double, 9>;

// Rz(a) Ry(b) Rx(c), row-major, written out from the three elementary rotations.
Matrix rotation(double a, double b, double c)
{
    const Matrix rz{std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1};
    const Matrix ry{std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b)};
    const Matrix rx{1, 0, 0, 0, std::cos(c), -std::sin(c), 0, std::sin(c), std::cos(c)};
    const auto times = [](const Matrix& x, const Matrix& y) {
        Matrix z{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    z[i * 3 + j] += x[i * 3 + k] * y[k * 3 + j];
        return z;
    };
    return times(times(rz, ry), rx);
}

Matrix times(const Matrix& x, const Matrix& y)
{
    Matrix z{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                z[i * 3 + j] += x[i * 3 + k] * y[k * 3 + j];
    return z;
}

// Pano to camera frame of shot k.
Matrix shotMatrix(const ImageParams& p, int shot)
{
    const Matrix g = rotation(p[ImageParams::ROLL_GLOBAL], 0.0, p[ImageParams::PITCH_GLOBAL]);
    if (shot == 0)
        return g;
    const int first = shot == 1 ? ImageParams::ROLL_2 : ImageParams::ROLL_3;
    const Matrix own = rotation(p[first], p[first + 1], p[first + 2]);
    return times(times(own, rotation(0.0, shot * 2.0 * kPi / 3.0, 0.0)), g);
}
} // namespace

Direction directionOf(double azimuthDeg, double elevationDeg)
{
    const double a = azimuthDeg * kDeg, e = elevationDeg * kDeg;
    return {std::cos(e) * std::cos(a), std::sin(e), std::cos(e) * std::sin(a)};
}

double angleBetweenDeg(const Direction& a, const Direction& b)
{
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    const double na = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    return std::acos(std::clamp(dot / (na * nb), -1.0, 1.0)) / kDeg;
}

Rgb OneLensScene::at(const Direction& d) const
{
    for (const SceneMarker& marker : markers)
        if (angleBetweenDeg(d, directionOf(marker.azimuthDeg, marker.elevationDeg)) <= marker.radiusDeg)
            return marker.colour;
    // A ramp in every channel, so that each seam band holds many different values.
    double shade = 1.0;
    if (textured) {
        // Cells of 4 degrees, each of its own random shade, their edges softened over a tenth of a
        // cell: corners that repeat nowhere.
        const double azimuth = std::atan2(d[2], d[0]) / kDeg + 180.0, elevation = std::asin(std::clamp(d[1], -1.0, 1.0)) / kDeg;
        const double u = azimuth / 4.0, v = elevation / 4.0;
        const auto cellShade = [](long a, long b) {
            uint32_t h = 2166136261u;
            for (const long x : {a, b}) {
                h ^= static_cast<uint32_t>(x);
                h *= 16777619u;
                h ^= h >> 15;
            }
            return (h & 0xffff) / 32767.5 - 1.0;
        };
        const auto smooth = [](double t) {
            const double x = std::clamp((t - 0.45) / 0.1, 0.0, 1.0);
            return x * x * (3.0 - 2.0 * x);
        };
        const long iu = static_cast<long>(std::floor(u)), iv = static_cast<long>(std::floor(v));
        const double su = smooth(u - iu), sv = smooth(v - iv);
        const double top = cellShade(iu, iv) + (cellShade(iu + 1, iv) - cellShade(iu, iv)) * su;
        const double bottom = cellShade(iu, iv + 1) + (cellShade(iu + 1, iv + 1) - cellShade(iu, iv + 1)) * su;
        shade += 0.15 * (top + (bottom - top) * sv);
    }
    const auto ramp = [shade](double v) {
        return static_cast<uint8_t>(std::lround((40.0 + 85.0 * (v + 1.0)) * shade));
    };
    return {ramp(0.8 * d[0] + 0.2 * d[1]), ramp(0.7 * d[1] - 0.3 * d[2]), ramp(0.6 * d[2] + 0.4 * d[0])};
}

QByteArray renderSceneShot(const CamParamsOneLens& camera, const ImageParams& p, int shot, const OneLensScene& scene)
{
    return renderSceneShot(camera, p, shot, [&scene](const Direction& d) { return scene.at(d); });
}

QByteArray renderSceneShot(const CamParamsOneLens& camera, const ImageParams& p, int shot,
                           const std::function<Rgb(const Direction&)>& colourAt)
{
    const int side = camera.imageHeight();
    const Matrix m = shotMatrix(p, shot);
    QByteArray rgb(static_cast<qsizetype>(side) * side * 3, '\0');
    char* out = rgb.data();
#pragma omp parallel for schedule(dynamic, 8)
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            float theta = 0, dx = 0, dy = 0;
            unprojectPixel(camera, static_cast<float>(x), static_cast<float>(y), theta, dx, dy);
            const double c[3] = {std::sin(theta) * dx, std::sin(theta) * dy, std::cos(theta)};
            // The transpose turns the camera direction back into the pano's frame, whose y axis points
            // down in the world.
            const Direction d{m[0] * c[0] + m[3] * c[1] + m[6] * c[2], -(m[1] * c[0] + m[4] * c[1] + m[7] * c[2]),
                              m[2] * c[0] + m[5] * c[1] + m[8] * c[2]};
            const Rgb colour = colourAt(d);
            std::copy(colour.begin(), colour.end(), out + (static_cast<qsizetype>(y) * side + x) * 3);
        }
    return rgb;
}

void writeSceneShots(const CamParamsOneLens& camera, const ImageParams& p, const OneLensScene& scene,
                     const QString& folder)
{
    QDir().mkpath(folder);
    const int side = camera.imageHeight();
    for (int shot = 0; shot < 3; ++shot) {
        const QByteArray bottomUp = renderSceneShot(camera, p, shot, scene);
        QByteArray topDown(bottomUp.size(), '\0');
        const qsizetype row = static_cast<qsizetype>(side) * 3;
        for (int y = 0; y < side; ++y)
            std::copy_n(bottomUp.constData() + (side - 1 - y) * row, row, topDown.data() + y * row);
        saveJpgFile(camera.shotPath(folder, shot), reinterpret_cast<const uint8_t*>(topDown.constData()), side, side,
                    100, false);
    }
}

Direction markerCentroid(const uint8_t* pano, int width, bool fileRows, const Rgb& colour, int tolerance)
{
    const int height = width / 2;
    Direction sum{0, 0, 0};
    for (int r = 0; r < height; ++r) {
        // Buffer row j looks (height / 2 - j) steps towards the lens frame's +y, that is down.
        const int bufferRow = fileRows ? height - 1 - r : r;
        const double e = (bufferRow - height / 2) * 2.0 * kPi / width;
        for (int i = 0; i < width; ++i) {
            const uint8_t* px = pano + (static_cast<size_t>(r) * width + i) * 3;
            if (std::abs(px[0] - colour[0]) > tolerance || std::abs(px[1] - colour[1]) > tolerance
                || std::abs(px[2] - colour[2]) > tolerance)
                continue;
            const double theta = 2.0 * kPi - i * 2.0 * kPi / width;
            const double w = std::cos(e);
            sum[0] += w * std::cos(e) * std::cos(theta);
            sum[1] += w * std::sin(e);
            sum[2] += w * std::cos(e) * std::sin(theta);
        }
    }
    return sum;
}

} // namespace testsupport
