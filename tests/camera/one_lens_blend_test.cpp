// The three-shot pano's blend, checked with shots that differ where they overlap, and the whole
// pano against a render of the scene made apart from the program.
#include "camera/cam_params_ztm5.h"
#include "camera/one_lens_render.h"
#include "imaging/scan_pictures.h"
#include "support/one_lens_model.h"
#include "support/test_support.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

using namespace testsupport;

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kSide = 256;
using Rgb = std::array<int, 3>;

const uint8_t* bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

QByteArray flatShot(const Rgb& colour)
{
    QByteArray shot(qsizetype(kSide) * kSide * 3, '\0');
    for (qsizetype i = 0; i < shot.size(); ++i)
        shot[i] = char(colour[size_t(i % 3)]);
    return shot;
}

// Shot k is 200 in channel k and 40 in the others, so that every pixel tells how much of each
// shot it holds.
const Rgb kShotColours[3] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}};

struct Pano {
    int width;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int row, int column) const { return rgb.data() + (size_t(row) * width + column) * 3; }
};

Pano renderFlat(const OneLensTestModel& model, int width, const Rgb colours[3])
{
    const QByteArray shots[3] = {flatShot(colours[0]), flatShot(colours[1]), flatShot(colours[2])};
    Pano pano{width, std::vector<uint8_t>(size_t(width) * width / 2 * 3)};
    renderThreeShotPano(model, bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), width, ImageParams(),
                        pano.rgb.data());
    return pano;
}

// The masks written out again from their definitions: a 5 x 5 mean that keeps the two border rows
// and columns.
std::vector<uint8_t> blurred(const std::vector<uint8_t>& mask, int width, int height)
{
    std::vector<uint8_t> out = mask;
    for (int y = 2; y < height - 2; ++y)
        for (int x = 2; x < width - 2; ++x) {
            int sum = 0;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    sum += mask[size_t(y + dy) * width + x + dx];
            out[size_t(y) * width + x] = uint8_t(std::lround(sum / 25.0));
        }
    return out;
}

// Seam mask of a pano width: W / 8 columns, one row per pano row; 0, then a 128 band of 2k columns
// about the middle, k = |trunc(4 tan(elevation))|, then 255.
std::vector<uint8_t> expectedSeamMask(int width)
{
    const int q = width / 8, rows = width / 2, half = q / 2;
    std::vector<uint8_t> mask(size_t(q) * rows, 0);
    for (int i = 0; i < rows; ++i) {
        const float t = std::tan((float(width / 2) * 0.5f - float(i)) * 6.283185f / float(width));
        const int k = std::min(int(std::fabs(std::trunc(4.0f * t))), half);
        for (int c = half - k; c < half + k; ++c)
            mask[size_t(i) * q + c] = 128;
        for (int c = half + k; c < 2 * half; ++c)
            mask[size_t(i) * q + c] = 255;
    }
    return blurred(mask, q, rows);
}

// Cap masks 3 to 6 of side n: the three 120-degree sectors of the faces looking along +y (3, 4)
// and -y (5, 6).
std::vector<uint8_t> expectedCapMask(int index, int n)
{
    const int h = n / 2;
    const float t60 = std::tan(1.0471975f);
    std::vector<uint8_t> mask(size_t(n) * n, 0);
    for (int r = 0; r < n; ++r) {
        int from = 0, to = 0;
        switch (index) {
        case 3:
            to = std::min(int(float(h) + float(r - h) * t60), n);
            break;
        case 4:
            from = r < h ? int(float(h) + float(h - r) * t60) : h, to = n;
            break;
        case 5:
            to = std::min(int(float(h) - float(r - h) * t60), n);
            break;
        default:
            from = r < h ? h : std::min(int(float(h) + float(r - h) * t60), n - 1), to = n;
        }
        for (int c = std::max(from, 0); c < to; ++c)
            mask[size_t(r) * n + c] = 255;
    }
    return blurred(mask, n, n);
}

// Where each seam band starts and which shots it blends: the seam's column (theta 30, 150 and 270
// degrees lie at columns 11 W / 12, 7 W / 12 and W / 4), the shot on its lower-column side (the
// larger azimuth) and the one after it.
struct SeamBand {
    int start;
    int before;
    int after;
};
std::array<SeamBand, 3> seamBands(int width)
{
    const int q = width / 8;
    return {{{width * 11 / 12 - q / 2, 0, 2}, {width * 7 / 12 - q / 2, 1, 0}, {width / 4 - q / 2, 2, 1}}};
}

bool inSeamBand(int width, int column)
{
    for (const SeamBand& band : seamBands(width))
        if (column >= band.start && column < band.start + width / 8)
            return true;
    return false;
}

// Rows nearer the horizon than 45 degrees: the seam bands' rows; the rest is cap.
bool nearHorizon(int width, int row)
{
    return std::abs(width / 4 - row) * 360.0 / width < 45.0 - 1e-9;
}

// The weight of shot `after` that a band pixel shows, from the two shots' own channels.
double seamWeight(const uint8_t* px, const SeamBand& band)
{
    return 0.5 * ((200.0 - px[band.before]) / 160.0 + (px[band.after] - 40.0) / 160.0);
}

void expectSeamBandsFollowTheMask(const Pano& pano)
{
    const int width = pano.width, q = width / 8;
    const std::vector<uint8_t> mask = expectedSeamMask(width);
    int checked = 0, wrong = 0;
    for (const SeamBand& band : seamBands(width))
        for (int row = 0; row < width / 2; ++row) {
            if (!nearHorizon(width, row))
                continue;
            for (int c = 0; c < q; ++c) {
                const uint8_t* px = pano.at(row, band.start + c);
                const double found = 255.0 * seamWeight(px, band);
                const int expected = mask[size_t(row) * q + c];
                ++checked;
                if (std::fabs(found - expected) > 2.0 || px[3 - band.before - band.after] != 40) {
                    if (++wrong <= 5)
                        ADD_FAILURE() << "width " << width << " row " << row << " band column " << c << ": weight "
                                      << found << ", mask " << expected;
                }
            }
        }
    EXPECT_EQ(wrong, 0) << "of " << checked;
}

int maskIndex(double a, int side)
{
    return std::clamp(int(std::floor((a + 1.0) * 0.5 * side)), 0, side - 1);
}
} // namespace

// Shots of different colours: each pixel of a seam band shows the shots in the proportion of the
// seam mask (a swapped shot, another mask, band width or widening would show), and every other
// pixel near the horizon shows its sector's shot alone.
TEST(OneLensBlend, SeamBandsMixTheirTwoShotsByTheSeamMaskAtBothWidths)
{
    OneLensTestModel model(kSide);
    model.initBlendMasks(7200, 1800);
    for (const int width : {1800, 7200}) {
        SCOPED_TRACE(width);
        const Pano pano = renderFlat(model, width, kShotColours);
        expectSeamBandsFollowTheMask(pano);
        int wrong = 0;
        for (int row = 0; row < width / 2; ++row) {
            if (!nearHorizon(width, row))
                continue;
            for (int column = 0; column < width; ++column) {
                if (inSeamBand(width, column))
                    continue;
                const double theta = 360.0 - column * 360.0 / width;
                const int shot = theta < 30.0 ? 2 : theta < 150.0 ? 0 : theta < 270.0 ? 1 : 2;
                const uint8_t* px = pano.at(row, column);
                wrong += !std::equal(px, px + 3, kShotColours[shot].begin());
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// Nearer the poles three shots meet in the caps: their weights follow the cap masks at the point
// where the direction meets the cube face looking up or down.
TEST(OneLensBlend, CapsMixTheThreeShotsByTheCapMasks)
{
    OneLensTestModel model(kSide);
    model.initBlendMasks(7200, 1800);
    const int width = 7200, n = width / 6;
    const Pano pano = renderFlat(model, width, kShotColours);
    const std::vector<uint8_t> masks[4] = {expectedCapMask(3, n), expectedCapMask(4, n), expectedCapMask(5, n),
                                           expectedCapMask(6, n)};
    const double step = 2.0 * kPi / width;
    int checked = 0, wrong = 0;
    for (int row = 0; row < width / 2; row += 3) {
        const double phi = (width / 4 - row) * step;
        if (std::fabs(phi) < kPi / 4 + 1e-6 || std::fabs(phi) > 75.0 * kPi / 180.0)
            continue;
        for (int column = 0; column < width; column += 3) {
            const double theta = 2.0 * kPi - column * step;
            const double d[3] = {std::cos(phi) * std::cos(theta), std::sin(phi), std::cos(phi) * std::sin(theta)};
            const bool top = d[1] > 0;
            const double a = top ? d[0] / d[1] : d[0] / -d[1];
            const double b = top ? -d[2] / d[1] : d[2] / -d[1];
            const int mc = maskIndex(a, n), mr = maskIndex(b, n);
            const std::vector<uint8_t>& first = masks[top ? 0 : 2];
            const std::vector<uint8_t>& second = masks[top ? 1 : 3];
            // The cube-face point lands within a pixel of the mask position: any value around it.
            const auto range = [&](const std::vector<uint8_t>& mask) {
                int lo = 255, hi = 0;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc) {
                        const int v = mask[size_t(std::clamp(mr + dr, 0, n - 1)) * n + std::clamp(mc + dc, 0, n - 1)];
                        lo = std::min(lo, v), hi = std::max(hi, v);
                    }
                return std::pair<int, int>{lo, hi};
            };
            const uint8_t* px = pano.at(row, column);
            const double w2 = (px[2] - 40.0) / 160.0;
            const auto [lo2, hi2] = range(second);
            bool ok = 255.0 * w2 >= lo2 - 3.0 && 255.0 * w2 <= hi2 + 3.0;
            if (w2 < 0.9) {
                const double w1 = (px[1] - 40.0) / (160.0 * (1.0 - w2));
                const auto [lo1, hi1] = range(first);
                ok = ok && 255.0 * w1 >= lo1 - 4.0 && 255.0 * w1 <= hi1 + 4.0;
            }
            ++checked;
            if (!ok && ++wrong <= 5)
                ADD_FAILURE() << "row " << row << " column " << column << ": " << int(px[0]) << " " << int(px[1])
                              << " " << int(px[2]);
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << checked;
    // Each cap holds all three shots, each alone in the middle of its sector.
    for (const int row : {width / 4 - width / 6, width / 4 + width / 6}) // 60 degrees either way
        for (int shot = 0; shot < 3; ++shot) {
            const double theta = 90.0 + 120.0 * shot;
            const uint8_t* px = pano.at(row, int(std::lround((360.0 - theta) / 360.0 * width)));
            EXPECT_TRUE(std::equal(px, px + 3, kShotColours[shot].begin()))
                << "row " << row << " shot " << shot << ": " << int(px[0]) << " " << int(px[1]) << " " << int(px[2]);
        }
}

// A lens that sees 75 degrees to the side: past the middle of a seam band the shot before the seam
// no longer sees where the mask may still weigh it. The shot that does see there takes its place,
// so that no pixel near the horizon is darker than the shots, in the preview and the full pano.
TEST(OneLensBlend, NoPixelNearTheHorizonIsDarkerThanTheShotsThatSeeIt)
{
    const float focal = float(kSide / 2) / float(75.0 * kPi / 180.0);
    OneLensTestModel model(kSide, focal);
    model.initBlendMasks(7200, 1800);
    const Rgb greys[3] = {{120, 120, 120}, {160, 160, 160}, {200, 200, 200}};
    for (const int width : {1800, 7200}) {
        SCOPED_TRACE(width);
        const Pano pano = renderFlat(model, width, greys);
        int darker = 0;
        for (const SeamBand& band : seamBands(width))
            for (int row = 0; row < width / 2; ++row) {
                if (!nearHorizon(width, row))
                    continue;
                const int floor = std::min(greys[band.before][0], greys[band.after][0]);
                for (int c = 0; c < width / 8; ++c) {
                    const uint8_t* px = pano.at(row, band.start + c);
                    if (px[0] < floor - 1 && ++darker <= 5)
                        ADD_FAILURE() << "row " << row << " band column " << c << ": " << int(px[0]) << " below "
                                      << floor;
                }
            }
        EXPECT_EQ(darker, 0);
    }
}

// The full pano of a smooth scene, its shots written through the lens model by a script that
// shares no code with the program, against that script's render of the scene itself.
TEST(OneLensBlend, FullPanoMatchesARenderOfTheSceneMadeApart)
{
    QTemporaryDir dir;
    const ProcessResult made =
        runProcess(systemPython(), {QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/one_lens_reference.py"), dir.path(),
                                    "--side", "1024", "--width", "7200", "--stride", "4"},
                   {}, 600000);
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QJsonObject described = QJsonDocument::fromJson(made.out).object();
    const int width = 7200, height = width / 2, stride = described["stride"].toInt();
    const int columns = described["columns"].toInt(), rows = described["rows"].toInt();
    const QByteArray reference = readFile(dir.filePath("reference.rgb"));
    ASSERT_EQ(reference.size(), qsizetype(columns) * rows * 3);

    CamParamsZTM5 camera;
    ASSERT_TRUE(camera.loadSystemFile(dir.filePath("system.cfg")));
    camera.initBlendMasks(7200, 1800);
    QByteArray shots[3];
    for (int k = 0; k < 3; ++k)
        camera.loadFisheyeImage(dir.path(), k, shots[k], true);
    std::vector<uint8_t> pano(size_t(width) * height * 3);
    renderThreeShotPano(camera, bytes(shots[0]), bytes(shots[1]), bytes(shots[2]), width, ImageParams(), pano.data());
    flipRows(pano.data(), width, height);

    // Squared errors inside the seam bands and elsewhere, over the rows within 60 degrees.
    double squares[2] = {0, 0};
    long counts[2] = {0, 0};
    for (int r = 0; r < rows; ++r) {
        const int row = r * stride;
        if (std::fabs((height / 2 - 1 - row) * 360.0 / width) > 60.0)
            continue;
        for (int c = 0; c < columns; ++c) {
            const int column = c * stride;
            const int part = inSeamBand(width, column) ? 0 : 1;
            for (int k = 0; k < 3; ++k) {
                const double e = double(pano[(size_t(row) * width + column) * 3 + k])
                    - double(uint8_t(reference[(qsizetype(r) * columns + c) * 3 + k]));
                squares[part] += e * e;
                counts[part] += 1;
            }
        }
    }
    const auto psnr = [](double sum, long count) { return 10.0 * std::log10(255.0 * 255.0 * count / sum); };
    const double seams = psnr(squares[0], counts[0]), rest = psnr(squares[1], counts[1]);
    const double all = psnr(squares[0] + squares[1], counts[0] + counts[1]);
    RecordProperty("psnr_db", std::to_string(all) + " (seams " + std::to_string(seams) + ", elsewhere " + std::to_string(rest) + ")");
    EXPECT_GE(all, 40.0) << "seams " << seams << " dB, elsewhere " << rest << " dB";
    EXPECT_GE(seams, rest - 3.0) << "seams " << seams << " dB, elsewhere " << rest << " dB";
}
