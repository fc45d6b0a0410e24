#include "camera/auto_level.h"

#include "base/geometry.h"
#include "camera/cam_params.h"
#include "imaging/equirect_strip.h"
#include "imaging/vertical_edge_score.h"

#include <QPointF>

#include <array>
#include <exception>
#include <utility>
#include <cmath>
#include <vector>

namespace {
constexpr int kStripWidth = 1200;
constexpr int kStripHeight = 200;
constexpr float kStep = 0.006f;
constexpr int kReach = 13;
// 1.56 percent of the start score per step, at the value the levelling has always compared with.
constexpr double kMinimumGainPerStep = 0.015600000135600568;

double offsetLength(int x, int y)
{
    return vectorLength(QPointF(static_cast<double>(x), static_cast<double>(y)));
}

// The offsets within reach, x and y in -13 .. 13.
class VisitedOffsets {
public:
    bool contains(int x, int y) const { return m_seen[index(x, y)]; }
    void insert(int x, int y) { m_seen[index(x, y)] = true; }

private:
    static size_t index(int x, int y) { return size_t(y + kReach) * (2 * kReach + 1) + size_t(x + kReach); }
    std::array<bool, (2 * kReach + 1) * (2 * kReach + 1)> m_seen{};
};
} // namespace

namespace {
using Offset = std::pair<int, int>;
// Scores the offsets of one sweep, in their order, into `scores`.
using SweepScore = std::function<void(const std::vector<Offset>& offsets, std::vector<double>& scores)>;

// The search with each sweep's new offsets scored together: the best is then taken in the
// sweep's own order, so the result is the one offset by offset would give.
LevelSearch searchInSweeps(const std::function<double(int x, int y)>& scoreStart, const SweepScore& scoreSweep)
{
    LevelSearch search;
    search.startScore = scoreStart(0, 0);
    search.bestScore = search.startScore;
    search.scored = 1;
    VisitedOffsets visited;
    visited.insert(0, 0);
    std::vector<Offset> sweep;
    std::vector<double> scores;
    for (;;) {
        sweep.clear();
        const int cx = search.x, cy = search.y;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const int x = cx + dx, y = cy + dy;
                if (offsetLength(x, y) > static_cast<double>(kReach) || visited.contains(x, y))
                    continue;
                visited.insert(x, y);
                sweep.emplace_back(x, y);
            }
        scoreSweep(sweep, scores);
        search.scored += static_cast<int>(sweep.size());
        bool improved = false;
        for (size_t i = 0; i < sweep.size(); ++i)
            if (scores[i] > search.bestScore) {
                search.bestScore = scores[i];
                search.x = sweep[i].first, search.y = sweep[i].second;
                improved = true;
            }
        if (!improved)
            return search;
    }
}
} // namespace

LevelSearch searchLevelOffset(const std::function<double(int x, int y)>& score)
{
    return searchInSweeps(score, [&score](const std::vector<Offset>& offsets, std::vector<double>& scores) {
        scores.clear();
        for (const auto& [x, y] : offsets)
            scores.push_back(score(x, y));
    });
}

bool acceptLevelOffset(const LevelSearch& search, bool strict)
{
    const double length = offsetLength(search.x, search.y);
    if (length < 0.1 || search.startScore < 0.1)
        return false;
    if (strict && (search.bestScore - search.startScore) / search.startScore / length < kMinimumGainPerStep)
        return false;
    return true;
}

void autoLevelFromVerticals(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3, int width, int height,
                            ImageParams& angles, bool strict, const CamParams* camera)
{
    const float roll = angles[ImageParams::ROLL_GLOBAL];
    const float pitch = angles[ImageParams::PITCH_GLOBAL];
    const auto tilt = [roll, pitch](ImageParams& p, int x, int y) {
        p[ImageParams::ROLL_GLOBAL] = roll + static_cast<float>(x) * kStep;
        p[ImageParams::PITCH_GLOBAL] = pitch + static_cast<float>(y) * kStep;
    };
    const auto score = [&](const ImageParams& p, std::vector<uint8_t>& strip) {
        if (camera)
            camera->renderStrip(shot1, shot2, shot3, kStripWidth, kStripHeight, p, strip.data());
        else
            renderEquirectStripGray(shot1, shot2, width, height, kStripWidth, kStripHeight, p, strip.data());
        return verticalEdgeScore(kStripWidth, kStripHeight, strip.data());
    };
    const size_t stripBytes = size_t(kStripWidth) * kStripHeight;
    const auto scoreStart = [&](int, int) {
        std::vector<uint8_t> strip(stripBytes);
        return score(angles, strip);
    };
    // The candidates of a sweep are rendered side by side, each strip on one thread: a strip is
    // too small to keep a team busy, two dozen of them are not.
    const auto scoreSweep = [&](const std::vector<Offset>& offsets, std::vector<double>& scores) {
        scores.assign(offsets.size(), 0.0);
        std::exception_ptr failure;
#pragma omp parallel
        {
            std::vector<uint8_t> strip;
            ImageParams p = angles;
#pragma omp for schedule(dynamic, 1)
            for (int i = 0; i < static_cast<int>(offsets.size()); ++i) {
                try {
                    strip.resize(stripBytes);
                    tilt(p, offsets[size_t(i)].first, offsets[size_t(i)].second);
                    scores[size_t(i)] = score(p, strip);
                } catch (...) {
#pragma omp critical(autoLevelFailure)
                    if (!failure)
                        failure = std::current_exception();
                }
            }
        }
        if (failure)
            std::rethrow_exception(failure);
    };
    const LevelSearch search = searchInSweeps(scoreStart, scoreSweep);
    if (acceptLevelOffset(search, strict))
        tilt(angles, search.x, search.y);
    else
        tilt(angles, 0, 0);
}
