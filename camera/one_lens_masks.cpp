#include "camera/cam_params_one_lens.h"

#include "imaging/box_blur.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace {
constexpr int kBlurWindow = 5;
constexpr float kTwoPi = 6.2831855f;

uint8_t* bytes(QByteArray& mask)
{
    return reinterpret_cast<uint8_t*>(mask.data());
}

// Truncation of a float toward zero, clamped first to [-limit, limit] so that a huge value (a
// tangent near the pole) or a non-number never reaches the integer conversion.
int clampedTrunc(float value, int limit)
{
    if (!(std::fabs(value) < static_cast<float>(limit)))
        return std::isnan(value) || value > 0.0f ? limit : -limit;
    return static_cast<int>(value);
}

// An n x n mask: 0 everywhere, then per row the columns [from, to) set to 255, then blurred.
QByteArray squareMask(int n, const std::function<void(int row, int& from, int& to)>& span)
{
    QByteArray mask(static_cast<qsizetype>(n) * n, '\0');
    for (int r = 0; r < n; ++r) {
        int from = 0, to = 0;
        span(r, from, to);
        from = std::clamp(from, 0, n);
        to = std::clamp(to, 0, n);
        if (from < to)
            std::fill(bytes(mask) + static_cast<size_t>(r) * n + from, bytes(mask) + static_cast<size_t>(r) * n + to, 255);
    }
    boxBlurGray(bytes(mask), bytes(mask), n, n, kBlurWindow);
    return mask;
}

// q = width / 8 columns, width / 2 rows, one row per pano row: 0 on the left, 255 on the right,
// a 128 band about the middle that widens with the tangent of the row's elevation.
QByteArray seamMask(int width)
{
    const int q = width / 8;
    const int rows = width / 2;
    QByteArray mask(static_cast<qsizetype>(q) * rows, '\0');
    if (q <= 0)
        return mask;
    const int half = q / 2;
    for (int i = 0; i < rows; ++i) {
        const float t = std::tan((static_cast<float>(width / 2) * 0.5f - static_cast<float>(i)) * kTwoPi
                                 / static_cast<float>(width));
        const int k = std::min(std::abs(clampedTrunc(4.0f * t, half)), half);
        uint8_t* row = bytes(mask) + static_cast<size_t>(i) * q;
        std::fill(row + (half - k), row + (half + k), 128);
        std::fill(row + (half + k), row + (half + k) + (half - k), 255);
    }
    boxBlurGray(bytes(mask), bytes(mask), q, rows, kBlurWindow);
    return mask;
}

QByteArray scaledMask(const QByteArray& mask, int n, int m)
{
    if (n <= 0 || m <= 0)
        return {};
    const QImage source(reinterpret_cast<const uchar*>(mask.constData()), n, n, n, QImage::Format_Grayscale8);
    const QImage scaled = source.scaled(m, m, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QByteArray out(static_cast<qsizetype>(m) * m, '\0');
    for (int r = 0; r < m; ++r)
        std::copy_n(scaled.constScanLine(r), m, bytes(out) + static_cast<size_t>(r) * m);
    return out;
}
} // namespace

void CamParamsOneLens::initBlendMasks(int width1, int width2)
{
    const int n = std::max(width1 / 6, 0);
    const int m = std::max(width2 / 6, 0);
    const float t20 = std::tan(0.3490658f);
    const float t40 = std::tan(0.6981317f);
    const float t60 = std::tan(1.0471975f);
    const float nf = static_cast<float>(n);
    const int h = n / 2;

    const int s0 = (static_cast<int>((1.0f - t20) * nf) / 2 + std::max(static_cast<int>((1.0f - t40) * nf) / 2, 0)) / 2;
    const int s1 = (std::min(static_cast<int>((1.0f + t40) * nf) / 2, n) + static_cast<int>((1.0f + t20) * nf) / 2) / 2;
    // The diagonal boundaries through the centre; rows far from it clamp to the mask's width.
    const auto diagonal = [h, n, t60](float rowsFromCentre) {
        return clampedTrunc(static_cast<float>(h) + rowsFromCentre * t60, 2 * n + 2);
    };

    blendMasks[0] = squareMask(n, [&](int, int& from, int& to) { from = s0, to = n; });
    blendMasks[1] = squareMask(n, [&](int, int& from, int& to) { from = 0, to = s1; });
    blendMasks[2] = squareMask(n, [&](int, int& from, int& to) { from = 0, to = h; });
    blendMasks[3] = squareMask(n, [&](int r, int& from, int& to) {
        from = 0, to = std::min(diagonal(static_cast<float>(r - h)), n);
    });
    blendMasks[4] = squareMask(n, [&](int r, int& from, int& to) {
        from = r < h ? diagonal(static_cast<float>(h - r)) : h, to = n;
    });
    blendMasks[5] = squareMask(n, [&](int r, int& from, int& to) {
        from = 0, to = std::min(diagonal(-static_cast<float>(r - h)), n);
    });
    blendMasks[6] = squareMask(n, [&](int r, int& from, int& to) {
        from = r < h ? h : std::min(diagonal(static_cast<float>(r - h)), n - 1), to = n;
    });
    blendMasks[7] = seamMask(width1);
    for (int k = 0; k < 4; ++k)
        blendMasks[8 + k] = scaledMask(blendMasks[3 + k], n, m);
    blendMasks[12] = seamMask(width2);
    maskWidth1 = width1 > 0 ? width1 : 0;
    maskWidth2 = width2 > 0 ? width2 : 0;
}
