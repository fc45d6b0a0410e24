#include "camera/rotation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
void apply(const double m[9], const double v[3], double out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = m[i * 3] * v[0] + m[i * 3 + 1] * v[1] + m[i * 3 + 2] * v[2];
}

void expectVector(const double got[3], double x, double y, double z)
{
    EXPECT_NEAR(got[0], x, 1e-12);
    EXPECT_NEAR(got[1], y, 1e-12);
    EXPECT_NEAR(got[2], z, 1e-12);
}
} // namespace

TEST(Rotation, EachAngleTurnsAboutItsOwnAxisRightHanded)
{
    const double a = 0.3;
    double m[9], out[3];
    const double x[3] = {1, 0, 0}, y[3] = {0, 1, 0}, z[3] = {0, 0, 1};
    rotationFromAnglesDouble(a, 0, 0, m); // about z: x turns toward y
    apply(m, x, out);
    expectVector(out, std::cos(a), std::sin(a), 0);
    rotationFromAnglesDouble(0, a, 0, m); // about y: z turns toward x
    apply(m, z, out);
    expectVector(out, std::sin(a), 0, std::cos(a));
    rotationFromAnglesDouble(0, 0, a, m); // about x: y turns toward z
    apply(m, y, out);
    expectVector(out, 0, std::cos(a), std::sin(a));
}

TEST(Rotation, ThreeAnglesComposeAsZThenYThenXAppliedRightToLeft)
{
    const double a1 = 0.4, a2 = -1.1, a3 = 2.3;
    double rz[9], ry[9], rx[9], yx[9], zyx[9], r[9];
    rotationFromAnglesDouble(a1, 0, 0, rz);
    rotationFromAnglesDouble(0, a2, 0, ry);
    rotationFromAnglesDouble(0, 0, a3, rx);
    multiplyMat3(rx, ry, yx);  // Ry x Rx: the second operand goes on the left
    multiplyMat3(yx, rz, zyx); // Rz x Ry x Rx
    rotationFromAnglesDouble(a1, a2, a3, r);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(r[i], zyx[i], 1e-12) << i;

    // The float twins agree, mul3x3 with the same operand order.
    float rzf[9], ryf[9], rxf[9], yxf[9], zyxf[9];
    rotationFromAngles(0.4f, 0.0f, 0.0f, rzf);
    rotationFromAngles(0.0f, -1.1f, 0.0f, ryf);
    rotationFromAngles(0.0f, 0.0f, 2.3f, rxf);
    mul3x3(rxf, ryf, yxf);
    mul3x3(yxf, rzf, zyxf);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(zyxf[i], r[i], 1e-6) << i;
}
