#include "support/room_scene.h"

#include "imaging/jpeg_writer.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <limits>

namespace testsupport {
namespace {
constexpr double kPi = 3.14159265358979323846;
// The room about the camera, metres: x, y (up), z.
constexpr double kMin[3] = {-3.1, -1.45, -2.3};
constexpr double kMax[3] = {2.7, 1.25, 2.9};
// Width of every softened edge: a couple of pixels in any shot of the tests.
constexpr double kSoft = 0.025;

using Colour = std::array<double, 3>;

uint32_t hashOf(int a, int b, int c)
{
    uint32_t h = 2166136261u;
    for (const int v : {a, b, c}) {
        h ^= static_cast<uint32_t>(v);
        h *= 16777619u;
        h ^= h >> 13;
    }
    return h;
}

// 0 below the edge, 1 above it, a smooth ramp of width kSoft between.
double step(double t)
{
    const double x = std::clamp(t / kSoft + 0.5, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}

double box(double u, double v, double u0, double u1, double v0, double v1)
{
    return step(u - u0) * step(u1 - u) * step(v - v0) * step(v1 - v);
}

Colour mix(const Colour& a, const Colour& b, double w)
{
    return {a[0] + (b[0] - a[0]) * w, a[1] + (b[1] - a[1]) * w, a[2] + (b[2] - a[2]) * w};
}

Colour randomColour(uint32_t h)
{
    return {40.0 + (h & 0xff) * 0.65, 40.0 + ((h >> 8) & 0xff) * 0.65, 40.0 + ((h >> 16) & 0xff) * 0.65};
}

// Smooth value noise in -1..1 over a lattice of `cell` metres, different for every seed.
double valueNoise(double u, double v, double cell, int seed)
{
    const double fu = u / cell, fv = v / cell;
    const int iu = static_cast<int>(std::floor(fu)), iv = static_cast<int>(std::floor(fv));
    const auto corner = [seed](int a, int b) { return (hashOf(a, b, seed) & 0xffff) / 32767.5 - 1.0; };
    const auto ease = [](double t) { return t * t * (3.0 - 2.0 * t); };
    const double su = ease(fu - iu), sv = ease(fv - iv);
    const double top = corner(iu, iv) + (corner(iu + 1, iv) - corner(iu, iv)) * su;
    const double bottom = corner(iu, iv + 1) + (corner(iu + 1, iv + 1) - corner(iu, iv + 1)) * su;
    return top + (bottom - top) * sv;
}

// Blotches at two scales in every channel, as daylight and wear leave them, so that no part of
// the room is flat; they scale the colour, which so stays within 0 .. 255.
void addBlotches(Colour& c, double u, double v, int surface)
{
    for (int k = 0; k < 3; ++k)
        c[size_t(k)] *= 1.0 + 0.12 * valueNoise(u, v, 0.31, 10 * surface + k)
            + 0.06 * valueNoise(u, v, 0.13, 50 + 10 * surface + k);
}

// A wall: upright panel seams, framed pictures, a skirting board.
Colour wallAt(int wall, double u, double v)
{
    const Colour bases[4] = {{205, 192, 168}, {168, 190, 205}, {188, 204, 168}, {206, 174, 182}};
    Colour c = bases[wall];
    const double seamSpacing = 0.45;
    const double seamOffset = 0.07 * wall;
    const double nearest = std::round((u - seamOffset) / seamSpacing) * seamSpacing + seamOffset;
    c = mix(c, {70, 62, 55}, box(u, v, nearest - 0.02, nearest + 0.02, -2.0, 2.0));
    c = mix(c, {60, 55, 52}, 1.0 - step(v + 1.28));

    const double cellWidth = 0.9, cellHeight = 0.7;
    const int cu = static_cast<int>(std::floor(u / cellWidth));
    const int cv = static_cast<int>(std::floor((v + 0.75) / cellHeight));
    if (cv < 0 || cv > 2)
        return c;
    const uint32_t h = hashOf(wall, cu, cv);
    if (h % 5 == 0)
        return c;
    const double u0 = cu * cellWidth + 0.08 + ((h >> 3) % 7) * 0.02;
    const double u1 = (cu + 1) * cellWidth - 0.08 - ((h >> 6) % 7) * 0.02;
    const double v0 = cv * cellHeight - 0.75 + 0.07 + ((h >> 9) % 5) * 0.02;
    const double v1 = (cv + 1) * cellHeight - 0.75 - 0.07 - ((h >> 12) % 5) * 0.02;
    c = mix(c, {35, 30, 28}, box(u, v, u0, u1, v0, v1));
    c = mix(c, randomColour(h * 2654435761u), box(u, v, u0 + 0.05, u1 - 0.05, v0 + 0.05, v1 - 0.05));
    // A bar across some pictures, for corners inside them too.
    if (h % 3 == 0) {
        const double mid = 0.5 * (v0 + v1);
        c = mix(c, randomColour(h * 40503u), box(u, v, u0 + 0.05, 0.5 * (u0 + u1), mid - 0.06, mid + 0.06));
    }
    return c;
}

// A soft square wave of period 2 x half, between -1 and 1.
double squareWave(double t, double half)
{
    return std::clamp(std::sin(kPi * t / half) * half / (kPi * kSoft), -1.0, 1.0);
}

Colour floorAt(double x, double z)
{
    const double tile = squareWave(x, 0.5) * squareWave(z, 0.5);
    return mix({150, 120, 90}, {205, 195, 175}, 0.5 + 0.5 * tile);
}

Colour ceilingAt(double x, double z)
{
    const double lines = std::max(1.0 - step(std::fabs(std::remainder(x, 0.6)) - 0.02),
                                  1.0 - step(std::fabs(std::remainder(z, 0.6)) - 0.02));
    return mix({204, 202, 196}, {120, 118, 112}, lines);
}
} // namespace

Rgb RoomScene::at(const Direction& d) const
{
    if (!textured)
        return {182, 176, 168};
    double t = std::numeric_limits<double>::infinity();
    int axis = 0;
    for (int k = 0; k < 3; ++k) {
        const double bound = d[size_t(k)] > 0 ? kMax[k] : kMin[k];
        if (d[size_t(k)] == 0.0)
            continue;
        const double candidate = bound / d[size_t(k)];
        if (candidate < t)
            t = candidate, axis = k;
    }
    const double x = t * d[0], y = t * d[1], z = t * d[2];
    Colour c;
    if (axis == 1) {
        c = d[1] > 0 ? ceilingAt(x, z) : floorAt(x, z);
        addBlotches(c, x, z, d[1] > 0 ? 4 : 5);
    } else {
        const int wall = axis == 0 ? (d[0] > 0 ? 0 : 2) : (d[2] > 0 ? 1 : 3);
        const double u = axis == 0 ? (d[0] > 0 ? z : -z) : (d[2] > 0 ? -x : x);
        c = wallAt(wall, u, y);
        addBlotches(c, u, y, wall);
    }
    const auto byte = [](double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
    return {byte(c[0]), byte(c[1]), byte(c[2])};
}

std::array<QByteArray, 3> renderRoomShots(const CamParamsOneLens& camera, const ImageParams& p, const RoomScene& room)
{
    std::array<QByteArray, 3> shots;
    for (int k = 0; k < 3; ++k)
        shots[size_t(k)] = renderSceneShot(camera, p, k, [&room](const Direction& d) { return room.at(d); });
    return shots;
}

void writeRoomShots(const CamParamsOneLens& camera, const ImageParams& p, const RoomScene& room, const QString& folder)
{
    QDir().mkpath(folder);
    const std::array<QByteArray, 3> shots = renderRoomShots(camera, p, room);
    const int side = camera.imageHeight();
    const qsizetype row = static_cast<qsizetype>(side) * 3;
    for (int k = 0; k < 3; ++k) {
        QByteArray topDown(shots[size_t(k)].size(), '\0');
        for (int y = 0; y < side; ++y)
            std::copy_n(shots[size_t(k)].constData() + (side - 1 - y) * row, row, topDown.data() + y * row);
        saveJpgFile(camera.shotPath(folder, k), reinterpret_cast<const uint8_t*>(topDown.constData()), side, side, 100,
                    false);
    }
}

QByteArray renderRoomEquirect(const RoomScene& room, int width, int factor, int samples)
{
    const int height = width / 2;
    const int wide = width * factor;
    const double step = 2.0 * kPi / wide;
    QByteArray out(static_cast<qsizetype>(width) * height * 3, '\0');
    char* rgb = out.data();
#pragma omp parallel for schedule(dynamic, 4)
    for (int J = 0; J < height; ++J)
        for (int I = 0; I < width; ++I) {
            double sum[3] = {0, 0, 0};
            for (int qj = 0; qj < samples; ++qj)
                for (int qi = 0; qi < samples; ++qi) {
                    const double i = I * factor + (qi + 0.5) * factor / samples - 0.5;
                    const double j = J * factor + (qj + 0.5) * factor / samples - 0.5;
                    const double azimuth = 2.0 * kPi - i * step;
                    // A camera pano's file row j looks at the lens frame's row wide / 2 - 1 - j, flipped.
                    const double elevation = (wide / 4.0 - 1.0 - j) * step;
                    const Direction d{std::cos(elevation) * std::cos(azimuth), std::sin(elevation),
                                      std::cos(elevation) * std::sin(azimuth)};
                    const Rgb c = room.at(d);
                    for (int k = 0; k < 3; ++k)
                        sum[k] += c[size_t(k)];
                }
            for (int k = 0; k < 3; ++k)
                rgb[(static_cast<qsizetype>(J) * width + I) * 3 + k] =
                    static_cast<char>(std::lround(sum[k] / (samples * samples)));
        }
    return out;
}

QByteArray shrinkByBlocks(const uint8_t* rgb, int width, int factor)
{
    const int small = width / factor, smallHeight = small / 2;
    QByteArray out(static_cast<qsizetype>(small) * smallHeight * 3, '\0');
    for (int J = 0; J < smallHeight; ++J)
        for (int I = 0; I < small; ++I)
            for (int k = 0; k < 3; ++k) {
                long sum = 0;
                for (int j = 0; j < factor; ++j)
                    for (int i = 0; i < factor; ++i)
                        sum += rgb[((static_cast<size_t>(J) * factor + j) * width + I * factor + i) * 3 + k];
                out[(static_cast<qsizetype>(J) * small + I) * 3 + k] =
                    static_cast<char>((sum + factor * factor / 2) / (factor * factor));
            }
    return out;
}

double psnrDb(const QByteArray& a, const QByteArray& b, int width, double maxElevationDeg)
{
    const int height = width / 2;
    double squares = 0.0;
    long count = 0;
    for (int j = 0; j < height; ++j) {
        const double elevation = (height / 2.0 - j - 0.5) * 180.0 / height;
        if (std::fabs(elevation) > maxElevationDeg)
            continue;
        for (int i = 0; i < width * 3; ++i) {
            const qsizetype at = static_cast<qsizetype>(j) * width * 3 + i;
            const double difference = double(uint8_t(a[at])) - double(uint8_t(b[at]));
            squares += difference * difference;
            ++count;
        }
    }
    if (count == 0)
        return 0.0;
    const double mse = squares / count;
    return mse == 0.0 ? std::numeric_limits<double>::infinity() : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace testsupport
