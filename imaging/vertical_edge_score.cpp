#include "imaging/vertical_edge_score.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

double verticalEdgeScore(int width, int height, const uint8_t* gray)
{
    if (width < 3 || height < 3 || !gray)
        return 0.0;
    std::vector<float> accumulator(static_cast<size_t>(width), 0.0f);
    const auto at = [gray, width](int row, int column) {
        return static_cast<int>(gray[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)]);
    };
    for (int r = 1; r <= height - 2; ++r) {
        const float w = 1.0f - static_cast<float>(std::abs(static_cast<int>(0.5 * height) - r)) / static_cast<float>(height);
        // The pair (x + 1, x + 2) must lie inside the row: the last pair ends at the last column.
        for (int x = 0; x <= width - 3; ++x) {
            const int a = at(r, x + 1);
            const int b = at(r, x + 2);
            int s = std::abs(a - b)
                - (std::abs(a - at(r - 1, x + 1)) + std::abs(b - at(r - 1, x + 2)) + std::abs(b - at(r + 1, x + 2))
                   + std::abs(a - at(r + 1, x + 1))) / 2;
            s = std::min(s, 32);
            if (s <= 0)
                continue;
            accumulator[static_cast<size_t>(x)] += static_cast<float>(s) * w;
        }
    }
    double sum = 0.0;
    for (const float value : accumulator)
        sum += static_cast<double>(value) * static_cast<double>(value);
    return sum;
}
