#include "camera/cam_params_ztm6.h"
#include "camera/pano_mapping.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(PanoMapping, RollTiltsAboutTheAxisThroughTheMiddleAndPitchAboutTheQuarter)
{
    // Roll turns about the axis at u = 0.5 on the horizon, pitch about the one at u = 0.75; both
    // move the top pole by their angle.
    for (int which : {ImageParams::ROLL_GLOBAL, ImageParams::PITCH_GLOBAL}) {
        ImageParams p;
        p[which] = 0.1f;
        const float axisU = which == ImageParams::ROLL_GLOBAL ? 0.5f : 0.75f;
        float outU = 0, outV = 0;
        cameraToPanoPoint(axisU, 0.5f, p, outU, outV);
        EXPECT_NEAR(outU, axisU, 1e-5);
        EXPECT_NEAR(outV, 0.5f, 1e-5);
        cameraToPanoPoint(0.3f, 0.0f, p, outU, outV);
        EXPECT_NEAR(outV, 0.1 / M_PI, 1e-5);
    }
}

TEST(PanoMapping, PanoToCameraUndoesCameraToPanoAndIsTheBaseBehaviour)
{
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = 0.07f;
    p[ImageParams::PITCH_GLOBAL] = -0.12f;
    CamParamsZTM6 model;
    for (float u : {0.1f, 0.37f, 0.62f, 0.93f}) {
        for (float v : {0.2f, 0.5f, 0.77f}) {
            float pu = 0, pv = 0, backU = 0, backV = 0, viaModelU = 0, viaModelV = 0;
            cameraToPanoPoint(u, v, p, pu, pv);
            EXPECT_GT(std::hypot(pu - u, pv - v), 1e-3);
            panoToCameraPoint(pu, pv, p, backU, backV);
            EXPECT_NEAR(backU, u, 1e-5);
            EXPECT_NEAR(backV, v, 1e-5);
            model.cameraToPano(u, v, p, viaModelU, viaModelV);
            EXPECT_EQ(viaModelU, pu);
            EXPECT_EQ(viaModelV, pv);
        }
    }
}
