#include "camera/lens_centre_fit.h"

#include "camera/cam_params_one_lens.h"
#include "camera/shot_alignment.h"
#include "camera/shot_alignment_context.h"
#include "numerics/lm_solver.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

namespace {
constexpr double kCentreStep = 0.005; // five pixels, in thousands

struct LensCentreContext {
    ShotAlignmentContext bands;
    CamParamsOneLens* camera = nullptr;
};

// The centre as the solver holds it, in both precisions.
void setCentre(CamParamsOneLens& camera, double u, double v)
{
    CamParamsOneLens::LensCentre centre;
    centre.u = static_cast<float>(u) * 1000.0f;
    centre.v = static_cast<float>(v) * 1000.0f;
    centre.uDouble = u * 1000.0;
    centre.vDouble = v * 1000.0;
    camera.setLensCentre(centre);
}

bool fitCentre(LensCentreContext& ctx, const float* angles, int32_t evaluationFactor, double fitted[8])
{
    const SeamBandLayout& layout = ctx.bands.layout;
    const int m = 9 * layout.blocksDown * layout.blocksAcross;
    LmSolver solver;
    solver.evaluationLimitFactor = evaluationFactor;
    if (solver.allocate(8, m) != kLmSuccess)
        return false;
    const double angleStep = static_cast<double>(ctx.bands.columnAngle);
    const double steps[8] = {kCentreStep, kCentreStep, angleStep, angleStep, angleStep, angleStep, angleStep, angleStep};
    const CamParamsOneLens::LensCentre start = ctx.camera->lensCentre();
    double x[8] = {static_cast<double>(start.u) * 0.001, static_cast<double>(start.v) * 0.001};
    for (int i = 0; i < 6; ++i)
        x[i + 2] = static_cast<double>(angles[kFittedAngles[i]]);
    if (solver.start(x, steps, lensCenterResiduals, &ctx) != kLmSuccess)
        return false;
    std::vector<double> scratch(static_cast<size_t>(m));
    setCentre(*ctx.camera, x[0], x[1]);
    shotPhotometricResiduals(x + 2, scratch.data(), &ctx.bands);
    if (!runSolverToRest(solver))
        return false;
    std::copy(solver.x(), solver.x() + 8, fitted);
    return true;
}
} // namespace

int32_t lensCenterResiduals(const double* x, double* residuals, void* context)
{
    LensCentreContext& ctx = *static_cast<LensCentreContext*>(context);
    setCentre(*ctx.camera, x[0], x[1]);
    return shotPhotometricResiduals(x + 2, residuals, &ctx.bands);
}

bool refineLensCenter(CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3,
                      int size, float* angles, int32_t evaluationFactor)
{
    const SeamBandLayout layout = lensCentreBandLayout(size);
    if (!layout.usable() || !angles || !shot1 || !shot2 || !shot3)
        return false;
    const CamParamsOneLens::LensCentre original = camera.lensCentre();
    double fitted[8];
    bool done = false;
    try {
        LensCentreContext ctx;
        ctx.camera = &camera;
        ctx.bands.camera = &camera;
        ctx.bands.shots[0] = shot1, ctx.bands.shots[1] = shot2, ctx.bands.shots[2] = shot3;
        // Shot 1 is projected through the candidate centre as much as the other two.
        ctx.bands.rerenderFirstShot = true;
        if (!ctx.bands.prepare(layout))
            return false;
        ctx.bands.renderBands(angles);
        done = fitCentre(ctx, angles, evaluationFactor, fitted);
    } catch (const std::bad_alloc&) {
        done = false;
    }
    // Every evaluation wrote its candidate into the camera: a fit that did not finish puts back the
    // centre it started from.
    if (!done) {
        camera.setLensCentre(original);
        return false;
    }
    setCentre(camera, fitted[0], fitted[1]);
    for (int i = 0; i < 6; ++i)
        angles[kFittedAngles[i]] = static_cast<float>(fitted[i + 2]);
    deriveLevelling(angles);
    return true;
}

void adjustLensCentre(CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3,
                      int32_t evaluationFactor)
{
    const CamParamsOneLens::LensCentre original = camera.lensCentre();
    const auto fail = [&](const char* text) {
        camera.setLensCentre(original);
        throw std::runtime_error(text);
    };
    const int size = camera.imageHeight() / 3;
    float angles[8] = {};
    if (!alignShots(camera, shot1, shot2, shot3, size, 0, angles))
        fail("Initial image alignment failed: Not enough texture");
    for (int round = 0; round < 3; ++round) {
        if (!refineLensCenter(camera, shot1, shot2, shot3, size, angles, evaluationFactor))
            fail("Failed to fit lens center");
        if (!alignShots(camera, shot1, shot2, shot3, size, 0, angles))
            fail("Final image alignment failed: Not enough texture");
    }
}
