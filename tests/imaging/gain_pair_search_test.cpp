#include "imaging/gain_curve.h"
#include "imaging/gain_pair_search.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {
// Samples of the three seams of one channel, as the colour equalisation draws them: shot 1's
// values in 0..1 and the other shots' curve indices trunc(v * 255), shots 2 and 3 darker or
// brighter than shot 1 by their own amounts plus noise.
struct Channel {
    std::vector<float> first12, first31;
    std::vector<int> second12, second23, third23, third31;

    Channel(size_t points, unsigned seed)
    {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> byte(0, 255), noise(-6, 6);
        const auto bent = [&](int v, double power) {
            const int bentByte = int(std::lround(255.0 * std::pow(v / 255.0, power))) + noise(rng);
            return int(float(std::clamp(bentByte, 0, 255)) / 255.0f * 255.0f);
        };
        for (size_t k = 0; k < points; ++k) {
            const int seam12 = byte(rng), seam23 = byte(rng), seam31 = byte(rng);
            first12.push_back(float(seam12) / 255.0f);
            second12.push_back(bent(seam12, 1.2));
            second23.push_back(bent(seam23, 1.2));
            third23.push_back(bent(seam23, 0.85));
            third31.push_back(bent(seam31, 0.85));
            first31.push_back(float(seam31) / 255.0f);
        }
    }
    SeamSamples samples() const
    {
        return {first12.data(), second12.data(), second23.data(), third23.data(), third31.data(), first31.data()};
    }
};

std::vector<std::array<float, 256>> curves(int count)
{
    std::vector<std::array<float, 256>> out(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        gainCurve(0.3f + 0.4f * float(k) / float(std::max(count - 1, 1)), out[size_t(k)].data());
    return out;
}

// The search as its definition reads: every pair, one point after another.
void searchLiterally(const SeamSamples channels[3], size_t points, const std::vector<std::array<float, 256>>& tables,
                     std::vector<double>& bestCost, std::vector<int>& bestB)
{
    const int count = int(tables.size());
    bestCost.assign(size_t(3 * count), 0.0);
    bestB.assign(size_t(3 * count), 0);
    for (int ch = 0; ch < 3; ++ch)
        for (int a = 0; a < count; ++a) {
            const SeamSamples& s = channels[ch];
            const auto& A = tables[size_t(a)];
            int best = -1;
            for (int b = 0; b < count; ++b) {
                const auto& B = tables[size_t(b)];
                double cost = 0.0;
                for (size_t k = 0; k < points; ++k) {
                    const float e1 = s.first12[k] - A[size_t(s.second12[k])];
                    const float e2 = A[size_t(s.second23[k])] - B[size_t(s.third23[k])];
                    const float e3 = B[size_t(s.third31[k])] - s.first31[k];
                    cost += double(std::sqrt(e1 * e1 + e2 * e2 + e3 * e3));
                }
                if (best < 0 || cost < bestCost[size_t(ch * count + a)]) {
                    bestCost[size_t(ch * count + a)] = cost;
                    best = b;
                }
            }
            bestB[size_t(ch * count + a)] = best;
        }
}
} // namespace

// Every sum to the last bit, for gain counts that fill the lanes and that do not, on one thread
// and on several.
TEST(GainPairSearch, SameCostsAndChoicesAsTheLiteralSearch)
{
    const size_t points = 1452;
    const Channel red(points, 1), green(points, 2), blue(points, 3);
    const SeamSamples channels[3] = {red.samples(), green.samples(), blue.samples()};
    const int threads = omp_get_max_threads();
    for (int count : {81, 8, 5, 1}) {
        const auto tables = curves(count);
        std::vector<double> expectedCost;
        std::vector<int> expectedB;
        searchLiterally(channels, points, tables, expectedCost, expectedB);
        for (int team : {1, 4}) {
            SCOPED_TRACE(testing::Message() << count << " gains on " << team << " threads");
            omp_set_num_threads(team);
            std::vector<double> cost;
            std::vector<int> b;
            searchGainPairs(channels, points, tables, cost, b);
            ASSERT_EQ(cost.size(), expectedCost.size());
            for (size_t j = 0; j < cost.size(); ++j) {
                EXPECT_EQ(cost[j], expectedCost[j]) << j;
                EXPECT_EQ(b[j], expectedB[j]) << j;
            }
        }
    }
    omp_set_num_threads(threads);
}

// Equal curves cost the same for every b: the first one is kept. No curves, no result.
TEST(GainPairSearch, TheFirstOfEqualCostsWinsAndNoCurvesGiveNothing)
{
    const Channel grey(100, 9);
    const SeamSamples channels[3] = {grey.samples(), grey.samples(), grey.samples()};
    const std::vector<std::array<float, 256>> same(11, curves(1)[0]);
    std::vector<double> cost;
    std::vector<int> b;
    searchGainPairs(channels, 100, same, cost, b);
    ASSERT_EQ(b.size(), 33u);
    for (size_t j = 0; j < b.size(); ++j) {
        EXPECT_EQ(b[j], 0) << j;
        EXPECT_EQ(cost[j], cost[0]) << j;
    }
    searchGainPairs(channels, 100, {}, cost, b);
    EXPECT_TRUE(cost.empty());
    EXPECT_TRUE(b.empty());
}
