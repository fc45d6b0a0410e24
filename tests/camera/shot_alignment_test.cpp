#include "camera/shot_alignment.h"
#include "camera/shot_alignment_context.h"
#include "numerics/lm_solver.h"
#include "support/one_lens_model.h"
#include "support/room_scene.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
// The angle of one column of the bands at the strip width the scans are aligned at.
const double kBandStep = double(0.7853981f / 299.0f);
constexpr int kFitted[6] = {ImageParams::ROLL_2, ImageParams::YAW_2, ImageParams::PITCH_2,
                            ImageParams::ROLL_3, ImageParams::YAW_3, ImageParams::PITCH_3};

using Matrix = std::array<double, 9>;

Matrix times(const Matrix& a, const Matrix& b)
{
    Matrix c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                c[size_t(i * 3 + j)] += a[size_t(i * 3 + k)] * b[size_t(k * 3 + j)];
    return c;
}

// Rz(a) Ry(b) Rx(c), from the elementary turns.
Matrix rotation(double a, double b, double c)
{
    const Matrix rz{std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1};
    const Matrix ry{std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b)};
    const Matrix rx{1, 0, 0, 0, std::cos(c), -std::sin(c), 0, std::sin(c), std::cos(c)};
    return times(times(rz, ry), rx);
}

// Camera frame of shot k from the pano frame for the six angles (ROLL_2 .. PITCH_3).
Matrix shotFrame(const std::array<double, 6>& six, int shot)
{
    if (shot == 0)
        return rotation(0, 0, 0);
    const double* own = six.data() + 3 * (shot - 1);
    return times(rotation(own[0], own[1], own[2]), rotation(0, shot * 2 * kPi / 3, 0));
}

std::array<double, 3> towards(double azimuth, double elevation)
{
    return {std::cos(elevation) * std::cos(azimuth), std::sin(elevation), std::cos(elevation) * std::sin(azimuth)};
}

void intoFrame(const Matrix& m, const std::array<double, 3>& d, float out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = float(m[size_t(3 * i)] * d[0] + m[size_t(3 * i + 1)] * d[1] + m[size_t(3 * i + 2)] * d[2]);
}

// Matches as the bands would give them: each a pano direction inside its band seen by both
// shots of the pair, under the true angles. `outliers` of every band's matches see their second
// direction some degrees off.
struct PlantedMatches {
    std::vector<FeatureMatch> lists[3];
};
PlantedMatches plantMatches(const std::array<double, 6>& truth, int perBand, int outliers, unsigned seed)
{
    const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    const double starts[3] = {172.5, 52.5, 292.5};
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    PlantedMatches planted;
    for (int k = 0; k < 3; ++k)
        for (int n = 0; n < perBand; ++n) {
            const double azimuth = (starts[k] - 45.0 * unit(random)) * kDeg;
            const double elevation = (-75.0 + 130.0 * unit(random)) * kDeg;
            FeatureMatch match;
            intoFrame(shotFrame(truth, pairs[k][0]), towards(azimuth, elevation), match.dirA);
            const bool off = n < outliers;
            const double slip = off ? (3.0 + 4.0 * unit(random)) * kDeg : 0.0;
            intoFrame(shotFrame(truth, pairs[k][1]), towards(azimuth + slip, elevation - 0.5 * slip), match.dirB);
            planted.lists[k].push_back(match);
        }
    return planted;
}

const std::array<double, 6> kPlanted{0.021, -0.034, 0.013, -0.017, 0.046, -0.024};

void expectAngles(const float* angles, const std::array<double, 6>& truth, double tolerance)
{
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(angles[kFitted[i]], truth[size_t(i)], tolerance) << "angle " << kFitted[i];
}

const uint8_t* bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

ImageParams withSixAngles(const std::array<double, 6>& six)
{
    ImageParams p;
    for (int i = 0; i < 6; ++i)
        p[kFitted[i]] = float(six[size_t(i)]);
    return p;
}
} // namespace

TEST(SeamBands, SizesFollowTheSizeArgumentInSinglePrecision)
{
    const SeamBandLayout feature = featureBandLayout(600);
    EXPECT_EQ(feature.W, 300);
    EXPECT_EQ(feature.L, 924);
    EXPECT_EQ(feature.block, 29);
    EXPECT_EQ(feature.blocksAcross, 10);
    EXPECT_EQ(feature.blocksDown, 31);
    for (const int size : {601, 604, 1200, 100000}) {
        const SeamBandLayout capped = featureBandLayout(size);
        EXPECT_EQ(capped.W, 300) << size;
        EXPECT_EQ(capped.L, 924) << size;
    }
    const SeamBandLayout photometric = photometricBandLayout(1200, 1);
    EXPECT_EQ(photometric.W, 300);
    EXPECT_EQ(photometric.L, 924);
    EXPECT_EQ(photometric.block, 29);
    EXPECT_EQ(9 * photometric.blocksDown * photometric.blocksAcross, 2790);
    // Any photometric mode but 1 keeps the bands at half the size argument.
    EXPECT_EQ(photometricBandLayout(600, 3).W, 300);

    EXPECT_FALSE(featureBandLayout(23).usable());
    EXPECT_EQ(featureBandLayout(23).W, 8);
    const SeamBandLayout smallest = featureBandLayout(24);
    EXPECT_EQ(smallest.W, 12);
    EXPECT_EQ(smallest.block, 11);
    EXPECT_EQ(smallest.blocksAcross, 1);
    EXPECT_FALSE(featureBandLayout(-40).usable());
    EXPECT_FALSE(photometricBandLayout(std::numeric_limits<int>::max(), 1).usable()) << "absurd sizes are refused";

    const SeamBandLayout centre = lensCentreBandLayout(1000);
    EXPECT_EQ(centre.W, 248);
    EXPECT_EQ(centre.L, 888);
    EXPECT_EQ(centre.block, 23);
    EXPECT_EQ(9 * centre.blocksDown * centre.blocksAcross, 3420);
    const SeamBandLayout larger = lensCentreBandLayout(1200);
    EXPECT_EQ(larger.W, 300);
    EXPECT_EQ(larger.L, 1064);
    EXPECT_EQ(larger.blocksDown, 36);
    EXPECT_FALSE(lensCentreBandLayout(47).usable());
}

TEST(SeamBands, TablesPutTheBottomRowTenDegreesAboveTheNadirAndEachBandAcrossItsSeam)
{
    ShotAlignmentContext ctx;
    ASSERT_TRUE(ctx.prepare(featureBandLayout(600)));
    const int W = ctx.layout.W, L = ctx.layout.L;
    EXPECT_NEAR(std::atan2(ctx.sinE[size_t(L - 1)], ctx.cosE[size_t(L - 1)]), -80.0 * kDeg, 1e-6);
    EXPECT_NEAR(std::atan2(ctx.sinE[0], ctx.cosE[0]), (924.0 / 300.0 * 45.0 - 80.0) * kDeg, 1e-5);
    const double middles[3] = {150.0, 30.0, 270.0};
    for (int k = 0; k < 3; ++k) {
        const double first = std::atan2(ctx.sinA[k][0], ctx.cosA[k][0]);
        const double last = std::atan2(ctx.sinA[k][size_t(W - 1)], ctx.cosA[k][size_t(W - 1)]);
        EXPECT_NEAR(std::remainder(first - last, 2 * kPi), 45.0 * kDeg, 1e-5) << k;
        EXPECT_NEAR(std::remainder(0.5 * (first + last) - middles[k] * kDeg, 2 * kPi), 0.0, 1e-5) << k;
    }
    EXPECT_NEAR(ctx.pixelsPerRadian, 299.0 / (kPi / 4), 1e-3);
}

TEST(ShotFit, RecoversSixPlantedAnglesFromExactMatches)
{
    PlantedMatches planted = plantMatches(kPlanted, 40, 0, 7);
    float angles[8] = {};
    EXPECT_TRUE(fitShotAnglesToMatches(planted.lists, 1.0 / kBandStep, angles));
    expectAngles(angles, kPlanted, 1e-6);
    EXPECT_FLOAT_EQ(angles[ImageParams::ROLL_GLOBAL], (angles[ImageParams::ROLL_2] + angles[ImageParams::ROLL_3]) * 0.25f);
    EXPECT_FLOAT_EQ(angles[ImageParams::PITCH_GLOBAL],
                    (angles[ImageParams::PITCH_2] + angles[ImageParams::PITCH_3]) * 0.25f);
}

TEST(ShotFit, PruningDropsTheOutliersAndTheFitRecoversTheAngles)
{
    PlantedMatches planted = plantMatches(kPlanted, 50, 5, 11);
    float angles[8] = {};
    EXPECT_TRUE(fitShotAnglesToMatches(planted.lists, 1.0 / kBandStep, angles));
    expectAngles(angles, kPlanted, 1e-5);
    for (int k = 0; k < 3; ++k)
        EXPECT_LE(planted.lists[k].size(), 45u) << "every outlier of band " << k << " was removed";
}

// Band 1 looks across azimuth 0: a match whose second direction turns past it under a yaw of
// more than 7.5 degrees differs by a few degrees, not by a whole turn.
TEST(ShotFit, ATurnOfShotThreePastAzimuthZeroDoesNotWreckTheFit)
{
    std::array<double, 6> truth = kPlanted;
    truth[4] = -9.0 * kDeg;
    PlantedMatches planted = plantMatches(truth, 40, 0, 5);
    // Two wrong pairings near the band's end: shot 3 saw their second corner a few degrees below
    // azimuth 0, where the first shot's band does not reach. Taken a turn apart, they would hold
    // the fit back at azimuth 0, where no residual looks far enough off to be pruned.
    for (const double azimuth : {-4.5, -5.5}) {
        FeatureMatch wrong;
        intoFrame(shotFrame(truth, 0), towards((azimuth + 14.0) * kDeg, 5.0 * kDeg), wrong.dirA);
        intoFrame(shotFrame(truth, 2), towards(azimuth * kDeg, 4.0 * kDeg), wrong.dirB);
        planted.lists[1].push_back(wrong);
    }
    float angles[8] = {};
    EXPECT_TRUE(fitShotAnglesToMatches(planted.lists, 1.0 / kBandStep, angles));
    expectAngles(angles, truth, 1e-5);
}

TEST(ShotFit, TooFewMatchesLeaveTheAnglesAlone)
{
    PlantedMatches planted = plantMatches(kPlanted, 1, 0, 3);
    planted.lists[2].clear();
    float angles[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};
    const std::array<float, 8> before = std::to_array(angles);
    EXPECT_FALSE(fitShotAnglesToMatches(planted.lists, 1.0 / kBandStep, angles)) << "two matches, four residuals";
    EXPECT_EQ(std::to_array(angles), before);
}

TEST(ShotFit, TwoSparseBandsFailTheAlignmentButTheFitIsWrittenAndLevelled)
{
    PlantedMatches planted = plantMatches(kPlanted, 30, 0, 9);
    planted.lists[0].resize(6);
    planted.lists[2].resize(6);
    float angles[8] = {};
    EXPECT_FALSE(fitShotAnglesToMatches(planted.lists, 1.0 / kBandStep, angles));
    expectAngles(angles, kPlanted, 1e-5);
    EXPECT_FLOAT_EQ(angles[ImageParams::ROLL_GLOBAL], (angles[ImageParams::ROLL_2] + angles[ImageParams::ROLL_3]) * 0.25f);

    // One sparse band is allowed.
    PlantedMatches one = plantMatches(kPlanted, 30, 0, 9);
    one.lists[1].resize(0);
    float fitted[8] = {};
    EXPECT_TRUE(fitShotAnglesToMatches(one.lists, 1.0 / kBandStep, fitted));
}

// A later pass that cannot run (here: out of its evaluation budget, as a pass that cannot have its
// working memory) keeps the angles of the pass before it, and the levelling must follow them.
TEST(ShotFit, AFailedLaterPassLeavesTheLevellingConsistentWithTheAngles)
{
    const PlantedMatches planted = plantMatches(kPlanted, 40, 4, 21);
    // Where a fit of every match, the outliers included, comes to rest.
    ShotAlignmentContext ctx;
    ctx.pixelsPerRadian = 1.0 / kBandStep;
    for (int k = 0; k < 3; ++k)
        ctx.matches[k] = planted.lists[k];
    LmSolver solver;
    ASSERT_EQ(solver.allocate(6, 2 * 120), kLmSuccess);
    ASSERT_EQ(solver.start(nullptr, nullptr, shotFeatureResiduals, &ctx), kLmSuccess);
    ASSERT_TRUE(runSolverToRest(solver));

    // From there the first pass has nothing left to do within a budget of 14 evaluations; after
    // its pruning the second must walk back to the true angles, which takes more.
    float angles[8] = {};
    const int fields[6] = {0, 1, 2, 5, 6, 7};
    for (int i = 0; i < 6; ++i)
        angles[fields[i]] = float(solver.x()[i]);
    angles[ImageParams::ROLL_GLOBAL] = 0.3f;
    angles[ImageParams::PITCH_GLOBAL] = -0.3f;
    PlantedMatches lists = planted;
    EXPECT_FALSE(fitShotAnglesToMatches(lists.lists, 1.0 / kBandStep, angles, 2));
    EXPECT_LT(lists.lists[0].size() + lists.lists[1].size() + lists.lists[2].size(), 120u)
        << "the first pass ran to its pruning";
    EXPECT_EQ(angles[ImageParams::ROLL_GLOBAL], (angles[ImageParams::ROLL_2] + angles[ImageParams::ROLL_3]) * 0.25f);
    EXPECT_EQ(angles[ImageParams::PITCH_GLOBAL],
              (angles[ImageParams::PITCH_2] + angles[ImageParams::PITCH_3]) * 0.25f);

    // A first pass that cannot run changes nothing.
    float untouched[8] = {0, 0, 0, 0.3f, -0.3f, 0, 0, 0};
    PlantedMatches again = planted;
    EXPECT_FALSE(fitShotAnglesToMatches(again.lists, 1.0 / kBandStep, untouched, 1));
    EXPECT_EQ(std::to_array(untouched), (std::array<float, 8>{0, 0, 0, 0.3f, -0.3f, 0, 0, 0}));
}

// A lens that sees 76 degrees to the side, as the lidar camera's does: the bands reach past the
// edge of its view, where the shots are black.
constexpr float kNarrowFocal = 800 * 0.376f;

struct RoomShots {
    OneLensTestModel camera;
    std::array<QByteArray, 3> shots;
    explicit RoomShots(const std::array<double, 6>& planted, bool textured = true, float focal = 0.0f)
        : camera(800, focal)
    {
        shots = renderRoomShots(camera, withSixAngles(planted), RoomScene{textured});
    }
    bool align(int size, int mode, float* angles) const
    {
        return alignShots(camera, bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), size, mode, angles);
    }
};

TEST(ShotAlignment, TheFeatureModeFindsPlantedTurnsOfARoomWithinTwoBandSteps)
{
    const RoomShots room(kPlanted);
    float angles[8] = {};
    EXPECT_TRUE(room.align(1200, 0, angles));
    expectAngles(angles, kPlanted, 2 * kBandStep);
}

TEST(ShotAlignment, ThePhotometricModeCoarseToFineFindsThemWithinOneBandStep)
{
    const RoomShots room(kPlanted);
    float angles[8] = {};
    EXPECT_TRUE(alignShotsForScan(room.camera, bytes(room.shots[0]), bytes(room.shots[1]), bytes(room.shots[2]),
                                  1200, 1, angles));
    expectAngles(angles, kPlanted, kBandStep);
}

TEST(ShotAlignment, ARoomWithoutTextureIsNotAligned)
{
    const RoomShots room(kPlanted, false);
    float angles[8] = {0.01f, 0.02f, 0.03f, 0.04f, 0.05f, 0.06f, 0.07f, 0.08f};
    const std::array<float, 8> before = std::to_array(angles);
    EXPECT_FALSE(room.align(1200, 0, angles));
    EXPECT_EQ(std::to_array(angles), before);
    // The mode that falls back to colours runs them, and they are accepted once fitted; flat
    // blocks give the fit nothing to move the shots by, and the levelling follows the shots.
    EXPECT_TRUE(alignShotsForScan(room.camera, bytes(room.shots[0]), bytes(room.shots[1]), bytes(room.shots[2]),
                                  1200, 2, angles));
    for (const int i : kFitted)
        EXPECT_EQ(angles[i], before[size_t(i)]) << i;
    EXPECT_EQ(angles[ImageParams::ROLL_GLOBAL], (before[0] + before[5]) * 0.25f);
    EXPECT_EQ(angles[ImageParams::PITCH_GLOBAL], (before[2] + before[7]) * 0.25f);
}

// Where a shot does not see, its band is black: corners on the edge of its view are not the
// room's, and shots of a bare room are not turned by them.
TEST(ShotAlignment, TheEdgeOfALensViewIsNoCornerToAlignBy)
{
    const RoomShots bare(kPlanted, false, kNarrowFocal);
    float angles[8] = {0.01f, 0.02f, 0.03f, 0.04f, 0.05f, 0.06f, 0.07f, 0.08f};
    const std::array<float, 8> before = std::to_array(angles);
    EXPECT_FALSE(bare.align(1200, 0, angles));
    EXPECT_EQ(std::to_array(angles), before);

    const RoomShots room(kPlanted, true, kNarrowFocal);
    float found[8] = {};
    EXPECT_TRUE(room.align(1200, 0, found));
    expectAngles(found, kPlanted, 2 * kBandStep);
}

TEST(ShotAlignment, BandsTooSmallForABlockChangeNothing)
{
    const RoomShots room(kPlanted);
    float angles[8] = {0.01f, 0.02f, 0.03f, 0.04f, 0.05f, 0.06f, 0.07f, 0.08f};
    const std::array<float, 8> before = std::to_array(angles);
    EXPECT_FALSE(room.align(23, 0, angles));
    EXPECT_FALSE(room.align(40, 1, angles));
    EXPECT_FALSE(alignShots(room.camera, nullptr, bytes(room.shots[1]), bytes(room.shots[2]), 1200, 0, angles));
    EXPECT_EQ(std::to_array(angles), before);
}
