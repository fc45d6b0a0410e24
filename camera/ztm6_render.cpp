#include "camera/cam_params_ztm6.h"
#include "camera/ztm6_pano_pixels.h"
#include "camera/ztm6_seam_render.h"
#include "imaging/box_blur.h"
#include "imaging/image_io.h"
#include "imaging/pano_directions.h"
#include "imaging/pano_mapping.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr float kHalfPiF = 1.5707964f;

bool finiteTerms(const Ztm6LensRecord& lens)
{
    const float terms[] = {lens.U0, lens.V0, lens.K1, lens.K2, lens.K3, lens.P1, lens.P2, lens.P3, lens.P4, lens.RM};
    return std::all_of(std::begin(terms), std::end(terms), [](float t) { return std::isfinite(t); });
}

bool within(float value, int64_t low, int64_t high)
{
    return value >= static_cast<float>(low) && value <= static_cast<float>(high);
}
} // namespace

std::optional<std::string> CamParamsZTM6::unusableCalibration(const Ztm6Header& header,
                                                               const std::vector<Ztm6LensRecord>& lenses)
{
    const int64_t width = header.IMG_WIDTH;
    const int64_t height = header.IMG_HEIGHT;
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    // Two rows at least, so that the wrap table's six pixels per row exist.
    if (height < 2 || width != 2 * height)
        return "The calibration's lens image size " + size + " is not a 2:1 size; the pano cannot be rendered.";
    if (width * height > kMaxImagePixels)
        return "The calibration's lens image size " + size + " is larger than any lens image this program decodes.";
    for (size_t i = 0; i < lenses.size(); ++i) {
        const Ztm6LensRecord& lens = lenses[i];
        if (!finiteTerms(lens))
            return "The calibration holds a lens term that is not a finite number; the pano cannot be rendered.";
        // A centre farther out maps every position outside the image, whatever the distortion.
        if (!within(lens.U0, -width, 2 * width) || !within(lens.V0, -height, 2 * height))
            return "The calibration's centre of lens " + std::to_string(i + 1)
                + " lies far outside its lens image; the pano cannot be rendered.";
    }
    return std::nullopt;
}

void CamParamsZTM6::requireSampleableLenses() const
{
    if (const std::optional<std::string> reason = unusableCalibration(m_header, m_lenses))
        throw std::runtime_error(*reason);
}

void CamParamsZTM6::fadeLimits(float& fadeStart, float& fadeEnd) const
{
    const float rm = m_lenses.empty() ? 0.0f : m_lenses.front().RM;
    const float start = std::sin(rm);
    const float end = std::sin(rm + (kHalfPiF - rm) / 2.0f);
    fadeStart = start * start;
    fadeEnd = end * end;
}

void CamParamsZTM6::lensProject(float x, float y, float fadeStart, float fadeEnd, float& outX, float& outY) const
{
    const int ws = m_header.IMG_WIDTH;
    const int hs = m_header.IMG_HEIGHT;
    int record = 1;
    float offset = 0.0f;
    // In 64 bits: three quarters of a width near the int limit must not run over.
    if (x > static_cast<float>(3 * int64_t(ws) / 4)) {
        offset = static_cast<float>(-ws);
    } else if (x >= static_cast<float>(ws / 4)) {
        record = 0;
    }
    // A file with one lens record leaves the other lens uncorrected.
    const Ztm6LensRecord* found = lensRecord(record);
    if (!found || hs <= 0) {
        outX = x;
        outY = y;
        return;
    }
    const Ztm6LensRecord& lens = *found;
    const float x0 = x - lens.U0 + offset;
    const float y0 = y - lens.V0;
    const float lon = static_cast<float>(static_cast<double>(x0) * kPi / hs);
    const float lat = static_cast<float>(static_cast<double>(y0) * kPi / hs);
    const float X = std::sin(lon) * std::cos(lat);
    const float Y = std::sin(lat);
    const float r2 = X * X + Y * Y;
    if (r2 >= fadeEnd) {
        outX = x;
        outY = y;
        return;
    }
    const float radial = lens.K1 * r2 + lens.K2 * (r2 * r2) + lens.K3 * (r2 * r2 * r2);
    const float scale = 1.0f + lens.P3 * r2 + lens.P4 * (r2 * r2);
    float dX = -(((2.0f * (X * X) + r2) * lens.P1 + 2.0f * lens.P2 * X * Y) * scale + radial * X);
    float dY = -(((2.0f * (Y * Y) + r2) * lens.P2 + 2.0f * lens.P1 * X * Y) * scale + radial * Y);
    if (r2 >= fadeStart) {
        const float fade = (fadeEnd - r2) / (fadeEnd - fadeStart);
        dX *= fade;
        dY *= fade;
    }
    const float Xc = X + dX;
    const float Yc = Y + dY;
    const float latC = (Yc >= -1.0f && Yc <= 1.0f) ? std::asin(Yc) : kHalfPiF;
    const float c = std::cos(latC);
    float lonC = 0.0f;
    if (std::fabs(c) > 1.1754944e-38f) {
        const float ratio = Xc / c;
        if (ratio >= -1.0f && ratio <= 1.0f)
            lonC = std::asin(ratio);
    }
    outX = static_cast<float>(hs * static_cast<double>(lonC) * (1.0 / kPi) + lens.U0);
    outY = static_cast<float>(hs * static_cast<double>(latC) * (1.0 / kPi) + lens.V0);
    if (outX < 0.0f)
        outX += static_cast<float>(ws);
    else if (outX >= static_cast<float>(ws))
        outX -= static_cast<float>(ws);
}

const BlendMask* CamParamsZTM6::blendMaskFor(int columns, int rows) const
{
    for (int i : {1, 0}) {
        const BlendMask& mask = m_masks[i];
        if (mask.panoWidth > 0 && mask.columns == columns && mask.rows == rows)
            return &mask;
    }
    return nullptr;
}

void CamParamsZTM6::initBlendMasks(int width1, int width2)
{
    const int widths[2] = {width1, width2};
    for (int k = 0; k < 2; ++k) {
        BlendMask& mask = m_masks[k];
        const int w = widths[k];
        mask = BlendMask{};
        if (w <= 0)
            continue;
        const int h = w / 2;
        const int b = w / 8;
        const int m = b / 2;
        mask.panoWidth = w;
        mask.columns = b;
        mask.rows = h;
        mask.weights.assign(static_cast<size_t>(b) * static_cast<size_t>(h), 0);
        for (int i = 0; i < h; ++i) {
            // Near the poles the tangent grows without bound; limit it before it becomes an int.
            const float t = std::fabs(4.0f * std::tan((static_cast<float>(h) * 0.5f - static_cast<float>(i))
                                                      * static_cast<float>(2.0 * kPi) / static_cast<float>(w)));
            const int a = std::isfinite(t) && t < static_cast<float>(m) ? static_cast<int>(t) : m;
            uint8_t* row = mask.weights.data() + static_cast<size_t>(i) * static_cast<size_t>(b);
            for (int col = m - a; col < m + a; ++col)
                row[col] = 128;
            for (int col = m + a; col < 2 * m; ++col)
                row[col] = 255;
        }
        boxBlurGray(mask.weights.data(), mask.weights.data(), b, h, 5);
        mask.plan = BlendPlan::forMask(mask.weights.data(), b, h);
    }
}

void CamParamsZTM6::blendTwoLensPano(const uint8_t* image1, const uint8_t* image2, int width, int height,
                                     const ImageParams& p, uint8_t* rgbOut) const
{
    requireSampleableLenses();
    if (width <= 0 || height <= 0)
        throw std::runtime_error("A pano of " + std::to_string(width) + " x " + std::to_string(height)
                                 + " pixels cannot be rendered.");
    const int bandWidth = width / 8;
    // Checked before any pixel is written, so a refused render leaves the output untouched.
    const BlendMask* mask = nullptr;
    if (image2) {
        mask = blendMaskFor(bandWidth, height);
        if (!mask)
            throw std::runtime_error("no mask was initialized for this image size");
    }
    float fadeStart = 0.0f, fadeEnd = 0.0f;
    fadeLimits(fadeStart, fadeEnd);
    Ztm6SeamRender(*this, fadeStart, fadeEnd, image1, image2, width, height, p, mask).render(rgbOut);
}

namespace {
// Nearest-pixel render without lens model or blending; writes channels [first, first + count)
// of each source pixel into outChannels bytes per output pixel.
void renderNearest(const uint8_t* image1, const uint8_t* image2, int ws, int hs, int width, int height,
                   const ImageParams& p, uint8_t* out, int outChannels, int firstChannel)
{
    const uint8_t* outer = image2 ? image2 : image1;
    std::memset(out, 0, static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(outChannels));
    const PanoDirections directions(width, height, hs, p);
    const int halfWidth = static_cast<int>(width * 0.5);
    const int quarterWidth = static_cast<int>(width * 0.25);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < height; ++r) {
        uint8_t* outRow = out + static_cast<size_t>(r) * static_cast<size_t>(width) * static_cast<size_t>(outChannels);
        for (int c = 0; c < width; ++c) {
            float x = 0.0f, y = 0.0f;
            directions.lensPosition(r, c, x, y);
            if (!std::isfinite(x) || !std::isfinite(y))
                continue;
            int column = 0, row = 0;
            nearestPixel(x, y, ws, hs, column, row);
            uint8_t rgb[3];
            copyPixel(isLens1Column(c, halfWidth, quarterWidth) ? image1 : outer, ws, column, row, rgb);
            std::memcpy(outRow + static_cast<size_t>(c) * static_cast<size_t>(outChannels), rgb + firstChannel,
                        static_cast<size_t>(outChannels));
        }
    }
}
} // namespace

void CamParamsZTM6::renderPano(const uint8_t* image1, const uint8_t* image2, const uint8_t*, int width, int height,
                               const ImageParams& p, uint8_t* rgbOut) const
{
    requireSampleableLenses();
    if (width <= 0 || height <= 0)
        return;
    renderNearest(image1, image2, m_header.IMG_WIDTH, m_header.IMG_HEIGHT, width, height, p, rgbOut, 3, 0);
}

void CamParamsZTM6::renderStrip(const uint8_t* image1, const uint8_t* image2, const uint8_t*, int width, int height,
                                const ImageParams& p, uint8_t* greyOut) const
{
    requireSampleableLenses();
    if (width <= 0 || height <= 0)
        return;
    renderNearest(image1, image2, m_header.IMG_WIDTH, m_header.IMG_HEIGHT, width, height, p, greyOut, 1, 1);
}

void CamParamsZTM6::panoToCamera(float u, float v, const ImageParams& p, float& outU, float& outV) const
{
    const int ws = m_header.IMG_WIDTH;
    const int hs = m_header.IMG_HEIGHT;
    if (ws <= 0 || hs <= 0) {
        // Without a lens geometry only the levelling is left to undo.
        panoToCameraPoint(u, v, p, outU, outV);
        return;
    }
    float fadeStart = 0.0f, fadeEnd = 0.0f;
    fadeLimits(fadeStart, fadeEnd);
    const float tx = static_cast<float>(ws) * u;
    const float ty = static_cast<float>(hs) * (1.0f - v);
    float x = tx, y = ty;
    for (int iteration = 0; iteration < 30; ++iteration) {
        float px = 0.0f, py = 0.0f;
        lensProject(x, y, fadeStart, fadeEnd, px, py);
        if (std::fabs(px - tx) < 0.05f && std::fabs(py - ty) < 0.05f)
            break;
        // A step across the image edge is a whole turn; the lens model is periodic in x.
        x += tx - px;
        y += ty - py;
    }
    const float az = static_cast<float>(static_cast<double>(x / static_cast<float>(ws)) * 2.0 * kPi - kPi);
    const float el = static_cast<float>(static_cast<double>((static_cast<float>(hs) - y - 1.0f) / static_cast<float>(hs)) * kPi);
    levelPanoDirection(el, az, p, true, outU, outV);
}

void CamParamsZTM6::cameraToPano(float u, float v, const ImageParams& p, float& outU, float& outV) const
{
    cameraToPanoPoint(u, v, p, outU, outV);
}

int CamParamsZTM6::laserOffset() const
{
    const float offset = -m_header.POSY;
    // A corrupt calibration value must not reach the float-to-int conversion.
    if (!std::isfinite(offset) || std::fabs(offset) >= 2147483648.0f)
        return 0;
    return static_cast<int>(offset);
}
