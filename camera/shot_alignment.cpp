#include "camera/shot_alignment.h"

#include "camera/cam_params_one_lens.h"
#include "camera/shot_alignment_context.h"
#include "imaging/rotation.h"
#include "numerics/lm_solver.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {
constexpr double kPi = 3.14159265358979323846;
// The turn constants are the float values in double code too, so that both precisions agree on
// where a shot looks.
constexpr float kSecondShotTurn = 2.094395f;
constexpr float kThirdShotTurn = 4.18879f;
constexpr float kFullTurn = 6.2831850f;
constexpr int kMaxFeaturePasses = 5;
constexpr int kMaxSolverIterations = 100;
constexpr int kFewMatches = 7;
constexpr double kPruneFactor = 2.4;
// The shot pair of each band: first in A, second in B.
constexpr int kPair[3][2] = {{0, 1}, {0, 2}, {1, 2}};

// Camera frame of a shot from the pano frame, single precision: R(own) x R(0, turn, 0).
void shotRotation(const float* own, float turn, float out[9])
{
    float mine[9], base[9];
    rotationFromAngles(own[0], own[1], own[2], mine);
    rotationFromAngles(0.0f, turn, 0.0f, base);
    mul3x3(base, mine, out);
}

// Pano frame of a shot from its camera frame, double precision: the transpose of the above.
void backRotation(const double* own, float turn, double out[9])
{
    double mine[9], base[9], forward[9];
    rotationFromAnglesDouble(own[0], own[1], own[2], mine);
    rotationFromAnglesDouble(0.0, static_cast<double>(turn), 0.0, base);
    multiplyMat3(base, mine, forward);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i * 3 + j] = forward[j * 3 + i];
}

void identity(double m[9])
{
    std::fill(m, m + 9, 0.0);
    m[0] = m[4] = m[8] = 1.0;
}

template <typename T>
void apply(const T m[9], const float v[3], T out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = m[3 * i] * static_cast<T>(v[0]) + m[3 * i + 1] * static_cast<T>(v[1])
            + m[3 * i + 2] * static_cast<T>(v[2]);
}

double elevationOf(const double w[3])
{
    return std::asin(std::clamp(w[1], -1.0, 1.0));
}

// In [0, 2pi); a direction straight up or down has azimuth 0.
double azimuthOf(const double w[3])
{
    const double horizontal = std::sqrt(w[0] * w[0] + w[2] * w[2]);
    if (!(horizontal > 0.0))
        return 0.0;
    const double azimuth = std::acos(std::clamp(w[0] / horizontal, -1.0, 1.0));
    return w[2] < 0.0 ? static_cast<double>(kFullTurn) - azimuth : azimuth;
}

// The azimuth difference the shorter way round: two directions either side of azimuth 0 are close,
// not a turn apart. The turn is the constant azimuthOf uses, so it cancels exactly.
double azimuthDifference(double a, double b)
{
    double difference = a - b;
    if (difference > kPi)
        difference -= static_cast<double>(kFullTurn);
    else if (difference <= -kPi)
        difference += static_cast<double>(kFullTurn);
    return difference;
}

int totalMatches(const std::vector<FeatureMatch> (&matches)[3])
{
    return static_cast<int>(matches[0].size() + matches[1].size() + matches[2].size());
}

void startValues(const float* angles, double x[6])
{
    for (int i = 0; i < 6; ++i)
        x[i] = static_cast<double>(angles[kFittedAngles[i]]);
}

void writeBack(const double* x, float* angles)
{
    for (int i = 0; i < 6; ++i)
        angles[kFittedAngles[i]] = static_cast<float>(x[i]);
}

// How far a corner's response and its matching patch reach: the derivative and integration
// kernels (2 + 4 pixels) and half the 11-pixel patch.
constexpr int kCornerReach = 6;

// Drops the corners whose neighbourhood holds a pixel the band's shot does not see: the edge of
// a lens's view against the black beyond it is a corner of the shot, not of the scene, and lies
// elsewhere in the other shot.
void keepCornersInView(std::vector<FeaturePoint>& points, const uint8_t* seen, int W, int L)
{
    const auto inView = [&](const FeaturePoint& p) {
        for (int y = std::max(p.y - kCornerReach, 0); y <= std::min(p.y + kCornerReach, L - 1); ++y)
            for (int x = std::max(p.x - kCornerReach, 0); x <= std::min(p.x + kCornerReach, W - 1); ++x)
                if (!seen[size_t(y) * size_t(W) + size_t(x)])
                    return false;
        return true;
    };
    points.erase(std::remove_if(points.begin(), points.end(), [&](const FeaturePoint& p) { return !inView(p); }),
                 points.end());
}

// Corners of both renderings of every band, paired, with the directions they show in their
// shots' camera frames at the current angles.
void collectMatches(ShotAlignmentContext& ctx, const float* angles)
{
    float m[3][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};
    shotRotation(angles + 0, kSecondShotTurn, m[1]);
    shotRotation(angles + 5, kThirdShotTurn, m[2]);
    const int W = ctx.layout.W, L = ctx.layout.L;
    const float distanceSigma = 0.12217305f / ctx.columnAngle;
    // The six band images and then the three bands are worked on side by side, each on one thread:
    // a band is too small to keep a whole team busy through the detector's many short loops.
    // Memory running out inside a parallel loop must not end the program: it ends the alignment.
    std::vector<FeaturePoint> points[3][2];
    bool outOfMemory = false;
#pragma omp parallel for schedule(dynamic, 1) reduction(|| : outOfMemory)
    for (int task = 0; task < 6; ++task) {
        const int k = task / 2;
        const std::vector<float>& gray = task % 2 == 0 ? ctx.grayA : ctx.grayB;
        const std::vector<uint8_t>& seen = task % 2 == 0 ? ctx.seenA : ctx.seenB;
        try {
            detectFeatures(gray.data() + size_t(k) * ctx.bandPixels(), W, L, 1.0f, 1.9f, 0.02f, 100,
                           points[k][task % 2]);
            keepCornersInView(points[k][task % 2], seen.data() + size_t(k) * ctx.bandPixels(), W, L);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    }
#pragma omp parallel for schedule(dynamic, 1) reduction(|| : outOfMemory)
    for (int k = 0; k < 3; ++k) {
        try {
            matchFeatures(ctx.grayA.data() + size_t(k) * ctx.bandPixels(),
                          ctx.grayB.data() + size_t(k) * ctx.bandPixels(), W, L, points[k][0], points[k][1], 11,
                          distanceSigma, 0.4f, ctx.matches[k]);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    }
    if (outOfMemory)
        throw std::bad_alloc();
    for (int k = 0; k < 3; ++k) {
        const auto direction = [&](int column, int row, float d[3]) {
            d[0] = ctx.cosE[size_t(row)] * ctx.cosA[k][size_t(column)];
            d[1] = ctx.sinE[size_t(row)];
            d[2] = ctx.cosE[size_t(row)] * ctx.sinA[k][size_t(column)];
        };
        for (FeatureMatch& match : ctx.matches[k]) {
            float d[3];
            direction(match.xA, match.yA, d);
            apply(m[kPair[k][0]], d, match.dirA);
            direction(match.xB, match.yB, d);
            apply(m[kPair[k][1]], d, match.dirB);
        }
    }
}

// A feature pass that could not run ends the fit. Angles an earlier pass wrote stay, and so
// must the levelling derived from them.
bool abandonFeaturePass(int pass, float* angles)
{
    if (pass > 0)
        deriveLevelling(angles);
    return false;
}

bool fitFeaturePasses(ShotAlignmentContext& ctx, float* angles, int32_t evaluationFactor = kFitEvaluationFactor)
{
    for (int pass = 0; pass < kMaxFeaturePasses; ++pass) {
        const int total = totalMatches(ctx.matches);
        LmSolver solver;
        solver.evaluationLimitFactor = evaluationFactor;
        if (solver.allocate(6, 2 * total) != kLmSuccess)
            return abandonFeaturePass(pass, angles);
        double x[6];
        startValues(angles, x);
        if (solver.start(x, nullptr, shotFeatureResiduals, &ctx) != kLmSuccess)
            return abandonFeaturePass(pass, angles);
        std::vector<double> scratch;
        try {
            scratch.resize(size_t(2) * size_t(total));
        } catch (const std::bad_alloc&) {
            return abandonFeaturePass(pass, angles);
        }
        ctx.pruning = false;
        shotFeatureResiduals(x, scratch.data(), &ctx);
        if (!runSolverToRest(solver))
            return abandonFeaturePass(pass, angles);
        writeBack(solver.x(), angles);

        ctx.pruning = true;
        shotFeatureResiduals(solver.x(), scratch.data(), &ctx);
        ctx.pruning = false;
        if (totalMatches(ctx.matches) == total)
            break;
    }
    deriveLevelling(angles);
    int sparseBands = 0;
    for (const auto& list : ctx.matches)
        sparseBands += list.size() < size_t(kFewMatches);
    return sparseBands < 2;
}

bool fitPhotometric(ShotAlignmentContext& ctx, float* angles)
{
    const int m = 9 * ctx.layout.blocksDown * ctx.layout.blocksAcross;
    LmSolver solver;
    if (solver.allocate(6, m) != kLmSuccess)
        return false;
    const double step = static_cast<double>(ctx.columnAngle);
    const double steps[6] = {step, step, step, step, step, step};
    double x[6];
    startValues(angles, x);
    if (solver.start(x, steps, shotPhotometricResiduals, &ctx) != kLmSuccess)
        return false;
    std::vector<double> scratch(static_cast<size_t>(m));
    shotPhotometricResiduals(x, scratch.data(), &ctx);
    if (!runSolverToRest(solver))
        return false;
    writeBack(solver.x(), angles);
    deriveLevelling(angles);
    return true;
}
} // namespace

void deriveLevelling(float* angles)
{
    angles[3] = (angles[0] + angles[5]) * 0.25f;
    angles[4] = (angles[2] + angles[7]) * 0.25f;
}

int32_t shotFeatureResiduals(const double* x, double* residuals, void* context)
{
    ShotAlignmentContext& ctx = *static_cast<ShotAlignmentContext*>(context);
    double back[3][9];
    identity(back[0]);
    backRotation(x, kSecondShotTurn, back[1]);
    backRotation(x + 3, kThirdShotTurn, back[2]);
    double bandLimit[3] = {}, overallLimit = 0.0;
    if (ctx.pruning) {
        for (int k = 0; k < 3; ++k)
            bandLimit[k] = (kPruneFactor * ctx.bandRms[k]) * (kPruneFactor * ctx.bandRms[k]);
        overallLimit = (kPruneFactor * ctx.rms) * (kPruneFactor * ctx.rms);
    }
    const double s = ctx.pixelsPerRadian;
    double* out = residuals;
    double allSum = 0.0;
    int allCount = 0;
    for (int k = 0; k < 3; ++k) {
        double sum = 0.0;
        int count = 0;
        std::vector<FeatureMatch>& list = ctx.matches[k];
        for (size_t index = list.size(); index-- > 0;) {
            double wA[3], wB[3];
            apply(back[kPair[k][0]], list[index].dirA, wA);
            apply(back[kPair[k][1]], list[index].dirB, wB);
            const double r0 = (elevationOf(wA) - elevationOf(wB)) * s;
            const double r1 = azimuthDifference(azimuthOf(wA), azimuthOf(wB)) * s;
            *out++ = r0;
            *out++ = r1;
            const double q = r0 * r0 + r1 * r1;
            if (ctx.pruning && (q > bandLimit[k] || q > overallLimit)) {
                list.erase(list.begin() + std::ptrdiff_t(index));
                continue;
            }
            sum += q;
            count += 1;
        }
        ctx.bandRms[k] = count > 0 ? std::sqrt(sum / count) : 0.0;
        ctx.bandMatchCount[k] = count;
        allSum += sum;
        allCount += count;
    }
    ctx.matchCount = allCount;
    ctx.rms = allCount < 1 ? 0.0 : std::sqrt(allSum / allCount);
    return 0;
}

bool runSolverToRest(LmSolver& solver)
{
    double previous = 0.0;
    for (;;) {
        const int32_t result = solver.minimize();
        const double current = solver.fnorm();
        if (0.001 * previous > std::fabs(previous - current))
            return true;
        previous = current;
        if (result == kLmContinue) {
            if (solver.iterationCount() >= kMaxSolverIterations)
                return true;
            continue;
        }
        if (result == kLmSuccess)
            return true;
        return solver.iterationCount() >= kMaxSolverIterations;
    }
}

bool fitShotAnglesToMatches(std::vector<FeatureMatch> (&matches)[3], double pixelsPerRadian, float* angles,
                            int32_t evaluationFactor)
{
    ShotAlignmentContext ctx;
    ctx.pixelsPerRadian = pixelsPerRadian;
    for (int k = 0; k < 3; ++k)
        ctx.matches[k].swap(matches[k]);
    bool accepted = false;
    try {
        accepted = fitFeaturePasses(ctx, angles, evaluationFactor);
    } catch (const std::bad_alloc&) {
        accepted = false;
    }
    for (int k = 0; k < 3; ++k)
        matches[k].swap(ctx.matches[k]);
    return accepted;
}

bool alignShots(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3,
                int size, int mode, float* angles)
{
    const bool features = mode == 0;
    const SeamBandLayout layout = features ? featureBandLayout(size) : photometricBandLayout(size, mode);
    if (!layout.usable() || !angles || !shot1 || !shot2 || !shot3)
        return false;
    try {
        ShotAlignmentContext ctx;
        ctx.camera = &camera;
        ctx.shots[0] = shot1, ctx.shots[1] = shot2, ctx.shots[2] = shot3;
        if (!ctx.prepare(layout))
            return false;
        ctx.renderBands(angles);
        if (!features)
            return fitPhotometric(ctx, angles);
        ctx.convertToGray();
        collectMatches(ctx, angles);
        return fitFeaturePasses(ctx, angles);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool alignShotsForScan(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                       const uint8_t* shot3, int n, int alignmentMode, float* angles)
{
    bool accepted = false;
    if (alignmentMode == 0 || alignmentMode == 2)
        accepted = alignShots(camera, shot1, shot2, shot3, n, 0, angles);
    if (alignmentMode == 1 || (alignmentMode == 2 && !accepted))
        for (const int size : {n / 4, n / 2, n})
            accepted = alignShots(camera, shot1, shot2, shot3, size, 1, angles);
    return accepted;
}
