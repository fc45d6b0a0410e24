#include "numerics/features.h"

#include "feature_images.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#ifdef QUORIL_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

using namespace featureimages;

TEST(DetectFeaturesReference, SameCornersAsOpenCvGoodFeaturesToTrack)
{
#ifndef QUORIL_HAVE_OPENCV
    FAIL() << "OpenCV is missing: scripts/deps --test installs libopencv-dev";
#else
    // Rectangles of several contrasts, one of them touching another, on a mid-gray ground.
    Image image(240, 160, 60.0f);
    for (const Rect& r : {Rect{20, 20, 70, 60, 220.0f}, Rect{70, 60, 110, 100, 140.0f}, Rect{140, 30, 200, 130, 10.0f},
                          Rect{30, 110, 60, 140, 255.0f}})
        fill(image, r);

    std::vector<FeaturePoint> ours;
    detectFeatures(image.pixels.data(), image.w, image.h, 1.0f, 1.9f, 0.02f, 100, ours);

    const cv::Mat mat(image.h, image.w, CV_32F, image.pixels.data());
    std::vector<cv::Point2f> theirs;
    cv::goodFeaturesToTrack(mat, theirs, 100, 0.02, 3.0, cv::noArray(), 5, false);

    ASSERT_GE(theirs.size(), 12u);
    ASSERT_GE(ours.size(), 12u);
    auto nearest = [](int32_t x, int32_t y, const auto& points, auto coordinates) {
        int32_t best = INT32_MAX;
        for (const auto& p : points) {
            const auto [px, py] = coordinates(p);
            best = std::min(best, chebyshev(x, y, px, py));
        }
        return best;
    };
    auto cvXY = [](const cv::Point2f& p) { return std::pair{int32_t(p.x), int32_t(p.y)}; };
    auto ourXY = [](const FeaturePoint& p) { return std::pair{p.x, p.y}; };
    for (const FeaturePoint& p : ours)
        EXPECT_LE(nearest(p.x, p.y, theirs, cvXY), 1) << "ours " << p.x << "," << p.y;
    for (const cv::Point2f& p : theirs)
        EXPECT_LE(nearest(int32_t(p.x), int32_t(p.y), ours, ourXY), 1) << "OpenCV's " << p.x << "," << p.y;
#endif
}
