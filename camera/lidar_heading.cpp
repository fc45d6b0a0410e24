#include "camera/lidar_heading.h"

#include "base/geometry.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {
constexpr int kBins = 1440; // a quarter degree each
constexpr int kSearch = 100;
constexpr int kNominalBin[3] = {0, 960, 480};
constexpr float kRangeTolerance = 55.0f; // millimetres at which a bin pair stops counting
// Below this a mode-1 match is too weak to move a shot away from its nominal turn.
constexpr float kLeastConvincingScore = 300.0f;
constexpr double kNominalAdvantage = 1.05;

using Profile = std::vector<int>;

// Range per direction; the first point of a direction wins, 0 is an empty bin.
Profile rangeProfile(const QList<QPoint>& points)
{
    Profile profile(kBins, 0);
    for (const QPoint& p : points) {
        const QPointF v(p);
        const int bin = int(vectorAngleDeg360(v) * 4.0 + 0.5);
        if (bin >= kBins || profile[size_t(bin)] != 0)
            continue;
        const double range = vectorLength(v);
        // Farther than an int holds is no lidar return.
        if (range >= double(std::numeric_limits<int>::max()))
            continue;
        profile[size_t(bin)] = int(range);
    }
    return profile;
}

// How well profile `turned`, shifted by `offset` bins, matches `reference`: each direction where
// both hold a range counts 1 when the ranges agree, falling to 0 at kRangeTolerance apart.
float matchScore(const Profile& reference, const Profile& turned, int offset)
{
    float score = 0.0f;
    for (int t = 0; t < kBins; ++t) {
        const int a = reference[size_t(t)];
        if (a == 0)
            continue;
        const int b = turned[size_t(((t - offset) % kBins + kBins) % kBins)];
        if (b == 0)
            continue;
        const float q = std::min(float(std::abs(b - a)) / kRangeTolerance, 1.0f);
        score += 1.0f - q * q;
    }
    return score;
}
} // namespace

void estimateLidarHeading(const std::array<QList<QPoint>, 3>& pointLists, std::array<float, 3>& headings, int mode)
{
    if (mode == 0)
        return;
    const Profile reference = rangeProfile(pointLists[0]);
    for (int k = 1; k < 3; ++k) {
        const Profile turned = rangeProfile(pointLists[size_t(k)]);
        const int nominal = kNominalBin[k];
        int bestOffset = 0;
        float bestScore = 0.0f, nominalScore = 0.0f;
        for (int offset = nominal - kSearch; offset <= nominal + kSearch; ++offset) {
            const float score = matchScore(reference, turned, offset);
            if (score > bestScore) {
                bestScore = score;
                bestOffset = offset;
            }
            if (offset == nominal)
                nominalScore = score;
        }
        if (bestScore == 0.0f)
            continue;
        if (mode < 2 && (bestScore < kLeastConvincingScore || double(nominalScore) * kNominalAdvantage > double(bestScore)))
            bestOffset = nominal;
        headings[size_t(k)] = float(bestOffset) * 360.0f / 1440.0f * 0.017453292f;
    }
}
