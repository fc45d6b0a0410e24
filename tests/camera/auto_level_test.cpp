#include "camera/auto_level.h"
#include "support/one_lens_model.h"
#include "support/room_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr float kStep = 0.006f;

// A score that rises towards `peak` and records every offset it was asked for.
struct Hill {
    Hill(int x, int y) : peakX(x), peakY(y) {}
    int peakX;
    int peakY;
    std::vector<std::pair<int, int>> asked;
    double operator()(int x, int y)
    {
        asked.emplace_back(x, y);
        return 1000.0 - (x - peakX) * (x - peakX) - (y - peakY) * (y - peakY);
    }
};

LevelSearch searchOn(Hill& hill)
{
    return searchLevelOffset([&hill](int x, int y) { return hill(x, y); });
}

const uint8_t* bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

ImageParams tilted(int stepsX, int stepsY)
{
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = float(stepsX) * kStep;
    p[ImageParams::PITCH_GLOBAL] = float(stepsY) * kStep;
    return p;
}

// The room as an equirectangular picture (rows top-down) taken by a camera tilted by p's levelling:
// the levelled strip of the picture, looking at direction d, reads it at G d.
QByteArray tiltedEquirect(const RoomScene& room, const ImageParams& p, int width)
{
    const int height = width / 2;
    const double a = p[ImageParams::ROLL_GLOBAL], c = p[ImageParams::PITCH_GLOBAL];
    // G = Rz(a) Rx(c); the picture at e shows the room at G^T e.
    const double g[9] = {std::cos(a), -std::sin(a) * std::cos(c), std::sin(a) * std::sin(c),
                         std::sin(a), std::cos(a) * std::cos(c),  -std::cos(a) * std::sin(c),
                         0.0,         std::sin(c),                std::cos(c)};
    QByteArray rgb(qsizetype(width) * height * 3, '\0');
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double azimuth = 2 * kPi - (x + 0.5) * 2 * kPi / width;
            const double elevation = kPi / 2 - (y + 0.5) * kPi / height;
            const double e[3] = {std::cos(elevation) * std::cos(azimuth), std::sin(elevation),
                                 std::cos(elevation) * std::sin(azimuth)};
            const Direction d{g[0] * e[0] + g[3] * e[1] + g[6] * e[2], g[1] * e[0] + g[4] * e[1] + g[7] * e[2],
                              g[2] * e[0] + g[5] * e[1] + g[8] * e[2]};
            const Rgb colour = room.at(d);
            std::copy(colour.begin(), colour.end(), rgb.data() + (qsizetype(y) * width + x) * 3);
        }
    return rgb;
}
} // namespace

TEST(LevelSearch, ClimbsToTheBestOffsetScoringEachOffsetOnce)
{
    Hill hill{3, -4};
    const LevelSearch search = searchOn(hill);
    EXPECT_EQ(search.x, 3);
    EXPECT_EQ(search.y, -4);
    EXPECT_EQ(search.bestScore, 1000.0);
    EXPECT_EQ(search.startScore, 1000.0 - 25.0);
    const std::set<std::pair<int, int>> distinct(hill.asked.begin(), hill.asked.end());
    EXPECT_EQ(distinct.size(), hill.asked.size());
    EXPECT_EQ(search.scored, int(hill.asked.size()));
    EXPECT_EQ(hill.asked.front(), (std::pair<int, int>(0, 0)));
}

TEST(LevelSearch, ANeighbourhoodWithoutGainEndsAfterOneSweep)
{
    Hill hill{0, 0};
    const LevelSearch search = searchOn(hill);
    EXPECT_EQ(hill.asked.size(), 25u) << "the start and its 24 neighbours";
    EXPECT_EQ(search.x, 0);
    EXPECT_EQ(search.y, 0);
    EXPECT_FALSE(acceptLevelOffset(search, false)) << "no move";
}

TEST(LevelSearch, OffsetsBeyondThirteenStepsAreNeverScored)
{
    Hill far{5, 12};
    const LevelSearch reached = searchOn(far);
    EXPECT_EQ(reached.x, 5) << "at distance exactly 13";
    EXPECT_EQ(reached.y, 12);

    Hill beyond{13, 1};
    searchOn(beyond);
    for (const auto& [x, y] : beyond.asked)
        EXPECT_LE(x * x + y * y, 169) << x << ", " << y;
    const std::pair<int, int> outside(13, 1);
    EXPECT_EQ(std::count(beyond.asked.begin(), beyond.asked.end(), outside), 0);
}

TEST(LevelSearch, TheStrictRuleAsksForTheFloatGainPerStep)
{
    // The threshold is 0.015600000135600568: a gain between it and 0.0156 is too little.
    LevelSearch oneStep{1, 0, 1.0, 1.0 + 0.0156000001, 9};
    EXPECT_FALSE(acceptLevelOffset(oneStep, true));
    EXPECT_TRUE(acceptLevelOffset(oneStep, false)) << "the dialog takes any gain";
    oneStep.bestScore = 1.0 + 0.0156000002;
    EXPECT_TRUE(acceptLevelOffset(oneStep, true));

    // (3, 4) is five steps: 7.8 percent in all.
    LevelSearch fiveSteps{3, 4, 200.0, 200.0 * 1.0779, 40};
    EXPECT_FALSE(acceptLevelOffset(fiveSteps, true));
    fiveSteps.bestScore = 200.0 * 1.0781;
    EXPECT_TRUE(acceptLevelOffset(fiveSteps, true));

    // A strip without edges at the start is never moved.
    const LevelSearch blank{2, 2, 0.09, 50.0, 40};
    EXPECT_FALSE(acceptLevelOffset(blank, false));
}

TEST(AutoLevel, ATiltedRoomComesBackLevelWithinAStep)
{
    OneLensTestModel camera(800);
    const ImageParams truth = tilted(5, -3);
    const auto shots = renderRoomShots(camera, truth, RoomScene{});
    for (const bool strict : {true, false}) {
        ImageParams p;
        p[ImageParams::YAW_2] = 0.25f; // not the levelling's: left as it is
        autoLevelFromVerticals(bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), 800, 800, p, strict, &camera);
        // The shot angles played no part in the room's shots: only the levelling is compared.
        EXPECT_NEAR(p[ImageParams::ROLL_GLOBAL], truth[ImageParams::ROLL_GLOBAL], kStep * 1.01) << strict;
        EXPECT_NEAR(p[ImageParams::PITCH_GLOBAL], truth[ImageParams::PITCH_GLOBAL], kStep * 1.01) << strict;
        EXPECT_EQ(p[ImageParams::YAW_2], 0.25f);
    }
}

TEST(AutoLevel, AnEquirectangularSourceIsLevelledWithoutACamera)
{
    const ImageParams truth = tilted(-4, 6);
    const int width = 2400;
    const QByteArray source = tiltedEquirect(RoomScene{}, truth, width);
    ImageParams p;
    autoLevelFromVerticals(bytes(source), nullptr, nullptr, width, width / 2, p, true, nullptr);
    EXPECT_NEAR(p[ImageParams::ROLL_GLOBAL], truth[ImageParams::ROLL_GLOBAL], kStep * 1.01);
    EXPECT_NEAR(p[ImageParams::PITCH_GLOBAL], truth[ImageParams::PITCH_GLOBAL], kStep * 1.01);
}

TEST(AutoLevel, AStripWithoutEdgesKeepsTheStartAngles)
{
    OneLensTestModel camera(256);
    const auto shots = renderRoomShots(camera, ImageParams{}, RoomScene{false});
    ImageParams p = tilted(2, 1);
    const ImageParams before = p;
    autoLevelFromVerticals(bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), 256, 256, p, false, &camera);
    EXPECT_EQ(p, before);
}
