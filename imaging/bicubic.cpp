#include "imaging/bicubic.h"

#include <cmath>

namespace {
float keys(float t)
{
    constexpr float a = -0.5f;
    t = std::fabs(t);
    if (t <= 1.0f)
        return (a + 2.0f) * t * t * t - (a + 3.0f) * t * t + 1.0f;
    if (t < 2.0f)
        return a * t * t * t - 5.0f * a * t * t + 8.0f * a * t - 4.0f * a;
    return 0.0f;
}

BicubicTable buildTable()
{
    BicubicTable table{};
    for (int i = 0; i < 256; ++i) {
        const float u = static_cast<float>(i) / 255.0f;
        table.weights[i][0] = keys(2.0f - u);
        table.weights[i][1] = keys(1.0f - u);
        table.weights[i][2] = keys(u);
        table.weights[i][3] = keys(1.0f + u);
    }
    return table;
}
} // namespace

const BicubicTable& bicubicTable()
{
    static const BicubicTable table = buildTable();
    return table;
}
