// The one-lens lens model against OpenCV.
//
// Mapping: projectRay is OpenCV's fisheye model (cv::fisheye, equidistant, no distortion
// coefficients) with fx = F, fy = -RY * F (the camera's y points up, the image's v down) and
// cx = U0, cy = V0, followed by distortPoint. distortPoint is OpenCV's standard model
// (cv::projectPoints) applied to pixel offsets: object points (x - U0, y - V0, 1), an identity
// camera matrix moved to (U0, V0), and coefficients k1 = -K1, k2 = -K2, k3 = -K3 (the radial term
// is subtracted), p1 = -P2, p2 = -P1 (the tangential terms are subtracted and swapped). OpenCV has
// no counterpart of P3, which scales the tangential term by (1 + P3 r^2): that is checked on the
// tangential part OpenCV computes.
#include "support/one_lens_model.h"

#include <gtest/gtest.h>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/calib3d.hpp>
#endif

#include <cmath>
#include <vector>

using testsupport::OneLensTestModel;
using L = CamParamsOneLens;

namespace {
constexpr double kPi = 3.14159265358979323846;

struct Ray {
    double x, y, z;
};

struct Lens {
    float f, u0, v0, ry, k1, k2, k3, p1, p2, p3;
};

void apply(OneLensTestModel& model, const Lens& lens)
{
    const float values[] = {lens.f, lens.u0, lens.v0, lens.ry, lens.k1, lens.k2, lens.k3, lens.p1, lens.p2, lens.p3};
    for (int i = 0; i < L::LensTermCount; ++i)
        model.setLens(static_cast<L::LensTerm>(i), values[i]);
}

// A lens of a 3456-pixel camera with every term of plausible size.
const Lens kDistorted{1070.0f, 1731.5f, 1722.25f, 1.0035f, 2.1e-8f, -3.0e-15f, 4.0e-22f, 3.0e-6f, -2.0e-6f, 0.0f};

#ifdef QUORIL_HAVE_OPENCV
std::vector<cv::Point2d> openCvDistort(const Lens& lens, const std::vector<cv::Point2d>& ideal)
{
    std::vector<cv::Point3d> objects;
    for (const cv::Point2d& p : ideal)
        objects.emplace_back(p.x - lens.u0, p.y - lens.v0, 1.0);
    const cv::Matx33d k(1, 0, lens.u0, 0, 1, lens.v0, 0, 0, 1);
    const std::vector<double> d{-lens.k1, -lens.k2, -lens.p2, -lens.p1, -lens.k3};
    std::vector<cv::Point2d> out;
    cv::projectPoints(objects, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), k, d, out);
    return out;
}

std::vector<cv::Point2d> openCvFisheye(const Lens& lens, const std::vector<Ray>& directions)
{
    std::vector<cv::Point3d> rays;
    for (const Ray& r : directions)
        rays.emplace_back(r.x, r.y, r.z);
    const cv::Matx33d k(lens.f, 0, lens.u0, 0, -lens.ry * lens.f, lens.v0, 0, 0, 1);
    std::vector<cv::Point2d> out;
    cv::fisheye::projectPoints(rays, out, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), k, cv::Vec4d(0, 0, 0, 0));
    return out;
}
#endif

// Directions in front of the lens up to 85 degrees off axis, all around it.
std::vector<Ray> frontRays()
{
    std::vector<Ray> rays;
    for (int t = 0; t <= 85; t += 5)
        for (int a = 0; a < 360; a += 15) {
            const double theta = t * kPi / 180.0, az = a * kPi / 180.0;
            rays.push_back({std::sin(theta) * std::cos(az), std::sin(theta) * std::sin(az), std::cos(theta)});
        }
    return rays;
}
} // namespace

TEST(OneLensLens, DistortionMatchesOpenCvStandardModel)
{
#ifndef QUORIL_HAVE_OPENCV
    FAIL() << "OpenCV is missing: scripts/deps --test installs libopencv-dev";
#else
    OneLensTestModel model(3456);
    apply(model, kDistorted);
    std::vector<cv::Point2d> ideal;
    for (int y = 0; y <= 3456; y += 192)
        for (int x = 0; x <= 3456; x += 192)
            ideal.emplace_back(x + 0.25, y + 0.75);
    const std::vector<cv::Point2d> expected = openCvDistort(kDistorted, ideal);
    double worst = 0.0;
    for (size_t i = 0; i < ideal.size(); ++i) {
        float x = 0, y = 0;
        distortPoint(model, float(ideal[i].x), float(ideal[i].y), x, y);
        worst = std::max({worst, std::fabs(double(x) - expected[i].x), std::fabs(double(y) - expected[i].y)});
    }
    EXPECT_LT(worst, 2e-3);
    // At the corner the distortion moves the point by many pixels: the comparison is not vacuous.
    const double shift = std::hypot(expected.back().x - ideal.back().x, expected.back().y - ideal.back().y);
    EXPECT_GT(shift, 20.0);
#endif
}

TEST(OneLensLens, TangentialFactorScalesOpenCvTangentialTerm)
{
#ifndef QUORIL_HAVE_OPENCV
    FAIL() << "OpenCV is missing: scripts/deps --test installs libopencv-dev";
#else
    Lens tangentialOnly{1000.0f, 1700.0f, 1760.0f, 1.0f, 0, 0, 0, 4.0e-6f, 2.5e-6f, 0.0f};
    const float p3 = 3.0e-7f;
    std::vector<cv::Point2d> ideal{{100.5, 200.25}, {3100.0, 400.0}, {1700.0, 3300.0}, {250.0, 3000.0}};
    const std::vector<cv::Point2d> plain = openCvDistort(tangentialOnly, ideal);
    tangentialOnly.p3 = p3;
    OneLensTestModel model(3456);
    apply(model, tangentialOnly);
    for (size_t i = 0; i < ideal.size(); ++i) {
        const double dx = ideal[i].x - tangentialOnly.u0, dy = ideal[i].y - tangentialOnly.v0;
        const double s = 1.0 + p3 * (dx * dx + dy * dy);
        float x = 0, y = 0;
        distortPoint(model, float(ideal[i].x), float(ideal[i].y), x, y);
        EXPECT_NEAR(x - ideal[i].x, (plain[i].x - ideal[i].x) * s, 2e-3) << i;
        EXPECT_NEAR(y - ideal[i].y, (plain[i].y - ideal[i].y) * s, 2e-3) << i;
    }
#endif
}

TEST(OneLensLens, ProjectRayIsOpenCvFisheyeThenDistortion)
{
#ifndef QUORIL_HAVE_OPENCV
    FAIL() << "OpenCV is missing: scripts/deps --test installs libopencv-dev";
#else
    const std::vector<Ray> rays = frontRays();
    for (const bool distorted : {false, true}) {
        Lens lens = kDistorted;
        if (!distorted)
            lens.k1 = lens.k2 = lens.k3 = lens.p1 = lens.p2 = 0.0f;
        OneLensTestModel model(3456);
        apply(model, lens);
        std::vector<cv::Point2d> expected = openCvFisheye(lens, rays);
        if (distorted)
            expected = openCvDistort(lens, expected);
        for (size_t i = 0; i < rays.size(); ++i) {
            float u = 0, v = 0;
            projectRay(model, float(rays[i].x), float(rays[i].y), float(rays[i].z), u, v);
            ASSERT_NEAR(u, expected[i].x, 0.01) << "ray " << i << " distorted " << distorted;
            ASSERT_NEAR(v, expected[i].y, 0.01) << "ray " << i << " distorted " << distorted;
        }
    }
#endif
}

// Beyond the hemisphere the projection stays equidistant: the lens sees more than 180 degrees.
TEST(OneLensLens, ProjectRayBehindTheLensStaysEquidistantAndUpIsUp)
{
    OneLensTestModel model(1000, 300.0f);
    for (const double degrees : {100.0, 150.0, 179.0}) {
        const double t = degrees * kPi / 180.0;
        float u = 0, v = 0;
        projectRay(model, float(std::sin(t)), 0.0f, float(std::cos(t)), u, v);
        EXPECT_NEAR(u - 500.0f, 300.0 * t, 1e-2) << degrees;
        EXPECT_NEAR(v, 500.0f, 1e-3);
    }
    // Up in the camera frame is a smaller row index in the image: v runs down.
    float u = 0, v = 0;
    projectRay(model, 0.0f, 0.5f, 0.866f, u, v);
    EXPECT_LT(v, 500.0f);
    // The axis itself is the principal point, not a division by zero.
    projectRay(model, 0.0f, 0.0f, 1.0f, u, v);
    EXPECT_FLOAT_EQ(u, 500.0f);
    EXPECT_FLOAT_EQ(v, 500.0f);
}

TEST(OneLensLens, UndistortAndUnprojectInvertTheProjection)
{
    OneLensTestModel model(3456);
    apply(model, kDistorted);
    double worstPixel = 0.0, worstAngle = 0.0, worstDirection = 0.0;
    for (const Ray& ray : frontRays()) {
        float u = 0, v = 0;
        projectRay(model, float(ray.x), float(ray.y), float(ray.z), u, v);
        float theta = 0, dx = 0, dy = 0;
        unprojectPixel(model, u, v, theta, dx, dy);
        const double rho = std::hypot(ray.x, ray.y);
        worstAngle = std::max(worstAngle, std::fabs(double(theta) - std::atan2(rho, ray.z)));
        if (rho > 1e-6)
            worstDirection = std::max({worstDirection, std::fabs(double(dx) - ray.x / rho), std::fabs(double(dy) - ray.y / rho)});
        else
            EXPECT_EQ(dx, 1.0f);

        float ux = 0, uy = 0, rx = 0, ry = 0;
        undistortPoint(model, u, v, ux, uy);
        distortPoint(model, ux, uy, rx, ry);
        worstPixel = std::max({worstPixel, double(std::fabs(rx - u)), double(std::fabs(ry - v))});
    }
    EXPECT_LT(worstPixel, 0.02);
    EXPECT_LT(worstAngle, 1e-4);
    EXPECT_LT(worstDirection, 1e-3);
}
