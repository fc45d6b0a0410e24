#include "imaging/pano_mapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using Vec = std::array<double, 3>;
constexpr double kPi = 3.14159265358979323846;

// The direction of a pano position: polar angle pi v from the top (+z), azimuth 2 pi u - pi.
Vec directionOf(double u, double v)
{
    const double theta = kPi * v, lambda = 2.0 * kPi * u - kPi;
    return {std::sin(theta) * std::cos(lambda), std::sin(theta) * std::sin(lambda), std::cos(theta)};
}

// The levelling as Qt documents fromEulerAngles(pitch, yaw, 0): a turn by pitch about x, then by
// yaw about y, with pitch = -ROLL_GLOBAL and yaw = -PITCH_GLOBAL; `inverse` turns back.
Vec levelled(const Vec& d, double roll, double pitch, bool inverse)
{
    const double a = -roll, b = -pitch;
    const auto aboutX = [](const Vec& p, double t) {
        return Vec{p[0], std::cos(t) * p[1] - std::sin(t) * p[2], std::sin(t) * p[1] + std::cos(t) * p[2]};
    };
    const auto aboutY = [](const Vec& p, double t) {
        return Vec{std::cos(t) * p[0] + std::sin(t) * p[2], p[1], -std::sin(t) * p[0] + std::cos(t) * p[2]};
    };
    return inverse ? aboutX(aboutY(d, -b), -a) : aboutY(aboutX(d, a), b);
}

double angleBetween(const Vec& p, const Vec& q)
{
    const Vec cross{p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
    return std::atan2(std::hypot(cross[0], cross[1], cross[2]), p[0] * q[0] + p[1] * q[1] + p[2] * q[2]);
}

ImageParams tilt(float roll, float pitch)
{
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = roll;
    p[ImageParams::PITCH_GLOBAL] = pitch;
    return p;
}

} // namespace

// Both point maps turn pano positions by the scan's levelling; compared as directions, so that
// the azimuth's wrap and the poles do not count.
TEST(PanoPointMaps, TurnByTheLevellingAndUndoEachOther)
{
    for (const auto& [roll, pitch] : {std::pair{0.2f, -0.3f}, std::pair{-0.05f, 0.12f}, std::pair{0.4f, 0.0f},
                                      std::pair{0.0f, -0.25f}}) {
        SCOPED_TRACE(testing::Message() << "roll " << roll << ", pitch " << pitch);
        const ImageParams p = tilt(roll, pitch);
        double worstForward = 0, worstBack = 0, worstRoundTrip = 0;
        for (double u = 0.01; u < 1.0; u += 0.035)
            for (double v = 0.02; v < 1.0; v += 0.04) {
                const Vec d = directionOf(u, v);
                float pu = 0, pv = 0, cu = 0, cv = 0, bu = 0, bv = 0;
                cameraToPanoPoint(float(u), float(v), p, pu, pv);
                panoToCameraPoint(float(u), float(v), p, cu, cv);
                worstForward = std::max(worstForward, angleBetween(directionOf(pu, pv), levelled(d, roll, pitch, false)));
                worstBack = std::max(worstBack, angleBetween(directionOf(cu, cv), levelled(d, roll, pitch, true)));
                panoToCameraPoint(pu, pv, p, bu, bv);
                worstRoundTrip = std::max(worstRoundTrip, angleBetween(directionOf(bu, bv), d));
                EXPECT_TRUE(pu >= 0.0f && pu <= 1.0f && pv >= 0.0f && pv <= 1.0f) << u << ", " << v;
            }
        EXPECT_LT(worstForward, 5e-6);
        EXPECT_LT(worstBack, 5e-6);
        EXPECT_LT(worstRoundTrip, 5e-6);
    }
    // Without levelling both are the identity.
    float u = 0, v = 0;
    cameraToPanoPoint(0.3f, 0.7f, ImageParams(), u, v);
    EXPECT_FLOAT_EQ(u, 0.3f);
    EXPECT_FLOAT_EQ(v, 0.7f);
}
