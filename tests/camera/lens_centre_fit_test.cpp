#include "camera/cam_params_ztm5.h"
#include "camera/lens_centre_fit.h"
#include "camera/system_cfg_backup.h"
#include "support/room_scene.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <cmath>

using namespace testsupport;

namespace {
constexpr int kSide = 1200;

const uint8_t* bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

// A ZTM5 calibration of 1200-pixel shots with its lens centre in the middle, and the shots of
// the room through the same lens with its centre where it really is.
struct MovedCentre {
    QTemporaryDir dir;
    QString path = dir.filePath("system.cfg");
    CamParamsZTM5 camera;
    std::array<QByteArray, 3> shots;
    CamParamsOneLens::LensCentre truth;

    ImageParams turns;

    MovedCentre(float du, float dv, bool textured = true)
    {
        makeSystemCfg(path, {"--model", "ztm5", "--width", "1200", "--height", "1200", "--timestamp", "20230611",
                             "--set", "F=371.5", "--set", "U0=600", "--set", "V0=600", "--set", "RY=1", "--set",
                             "RCA=1", "--set", "BCA=1"});
        if (!camera.loadSystemFile(path))
            throw std::runtime_error("the calibration file did not load");
        CamParamsZTM5 real = camera;
        truth = camera.lensCentre();
        truth.u += du, truth.v += dv, truth.uDouble += du, truth.vDouble += dv;
        real.setLensCentre(truth);
        turns[ImageParams::ROLL_2] = 0.006f, turns[ImageParams::YAW_2] = -0.011f, turns[ImageParams::PITCH_3] = 0.008f;
        shots = renderRoomShots(real, turns, RoomScene{textured});
    }
};
} // namespace

// Shot 1's bands are drawn through every candidate centre too: drawn once, through the start
// centre, they would hold the fit to it and pull a centre that is right in height 6 px down.
TEST(LensCentre, TheAdjustmentFindsACentreMovedSidewaysAndKeepsItsHeight)
{
    MovedCentre scene(6.0f, 0.0f);
    scene.camera.adjustLensCenter(bytes(scene.shots[0]), bytes(scene.shots[1]), bytes(scene.shots[2]));
    const CamParamsOneLens::LensCentre found = scene.camera.lensCentre();
    EXPECT_NEAR(found.u, scene.truth.u, 1.0);
    EXPECT_NEAR(found.v, scene.truth.v, 1.0);
    EXPECT_NEAR(found.uDouble, found.u, 1e-3) << "both precisions are written";
    EXPECT_NEAR(found.vDouble, found.v, 1e-3);

    // The repaired file keeps the one it replaces beside it, and loads with the new centre.
    const QByteArray old = readFile(scene.path);
    scene.camera.setTimestamp(20240229);
    saveSystemCfgWithBackup(scene.camera, scene.path);
    EXPECT_EQ(readFile(scene.dir.filePath("system.orig")), old);
    CamParamsZTM5 reloaded;
    ASSERT_TRUE(reloaded.loadSystemFile(scene.path));
    EXPECT_EQ(reloaded.lensCentre().u, found.u);
    EXPECT_EQ(reloaded.lensCentre().v, found.v);
    EXPECT_EQ(reloaded.timestamp(), 20240229);
    EXPECT_EQ(reloaded.lensTerm(CamParamsOneLens::F), scene.camera.lensTerm(CamParamsOneLens::F));
}

// A centre too high or too low looks, at the seams, almost like every shot nodding by the same
// angle, which the shots' own pitches take up: the fit finds the sideways error and leaves the
// height no worse than it found it.
TEST(LensCentre, AHeightErrorOfTheCentreIsNotMadeWorse)
{
    MovedCentre scene(6.0f, -4.0f);
    const float startV = scene.camera.lensCentre().v;
    scene.camera.adjustLensCenter(bytes(scene.shots[0]), bytes(scene.shots[1]), bytes(scene.shots[2]));
    const CamParamsOneLens::LensCentre found = scene.camera.lensCentre();
    EXPECT_NEAR(found.u, scene.truth.u, 1.0);
    EXPECT_LE(std::abs(found.v - scene.truth.v), std::abs(startV - scene.truth.v) + 0.25f);
}

// The fit itself finds the centre in both directions from the shots' true turns. From turns that
// the feature alignment fitted under the wrong centre (above) the height stays in a valley of its
// own: the turns have taken up the vertical error there.
TEST(LensCentre, TheFitFromTheShotsTrueTurnsFindsACentreMovedBothWays)
{
    MovedCentre scene(6.0f, -4.0f);
    ImageParams angles = scene.turns;
    ASSERT_TRUE(refineLensCenter(scene.camera, bytes(scene.shots[0]), bytes(scene.shots[1]), bytes(scene.shots[2]),
                                 kSide / 3, angles.angles()));
    const CamParamsOneLens::LensCentre found = scene.camera.lensCentre();
    EXPECT_NEAR(found.u, scene.truth.u, 1.0);
    EXPECT_NEAR(found.v, scene.truth.v, 1.0);
    EXPECT_EQ(angles[ImageParams::ROLL_GLOBAL], (angles[ImageParams::ROLL_2] + angles[ImageParams::ROLL_3]) * 0.25f);
}

TEST(LensCentre, AFitThatFailsPutsBackTheCentreItStartedFromInBothPrecisions)
{
    MovedCentre scene(6.0f, -4.0f);
    // Distinct double and float forms, so that restoring one from the other would show.
    const CamParamsOneLens::LensCentre start{600.25f, 599.5f, 600.2500001, 599.4999};
    scene.camera.setLensCentre(start);
    float angles[8] = {};
    // A budget of nine evaluations ends the fit after its first step.
    EXPECT_FALSE(refineLensCenter(scene.camera, bytes(scene.shots[0]), bytes(scene.shots[1]),
                                  bytes(scene.shots[2]), kSide / 3, angles, 1));
    EXPECT_EQ(scene.camera.lensCentre(), start);
    EXPECT_EQ(std::to_array(angles), (std::array<float, 8>{}));

    EXPECT_EQ(thrownMessage([&] {
                  adjustLensCentre(scene.camera, bytes(scene.shots[0]), bytes(scene.shots[1]), bytes(scene.shots[2]),
                                   1);
              }),
              "Failed to fit lens center");
    EXPECT_EQ(scene.camera.lensCentre(), start);

    EXPECT_FALSE(refineLensCenter(scene.camera, bytes(scene.shots[0]), bytes(scene.shots[1]),
                                  bytes(scene.shots[2]), 47, angles));
    EXPECT_EQ(scene.camera.lensCentre(), start) << "bands too small for a block";
}

TEST(LensCentre, ShotsWithoutTextureAreRefusedAsSuch)
{
    MovedCentre scene(6.0f, -4.0f, false);
    const CamParamsOneLens::LensCentre start = scene.camera.lensCentre();
    EXPECT_EQ(thrownMessage([&] {
                  scene.camera.adjustLensCenter(bytes(scene.shots[0]), bytes(scene.shots[1]), bytes(scene.shots[2]));
              }),
              "Initial image alignment failed: Not enough texture");
    EXPECT_EQ(scene.camera.lensCentre(), start);
}
