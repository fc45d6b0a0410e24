#pragma once

#include "camera/shot_alignment.h"
#include "numerics/features.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CamParamsOneLens;
class LmSolver;

// What the residual functions of the shot alignment and the lens-centre fit share with their
// caller: the bands rendered from both shots of each pair, their geometry, and the matches.
struct ShotAlignmentContext {
    bool pruning = false;
    // Root-mean-square residuals of the last evaluation, per band and overall (the photometric
    // residuals set only the overall one), and the matches kept in it.
    double bandRms[3] = {};
    double rms = 0.0;
    int bandMatchCount[3] = {};
    int matchCount = 0;

    SeamBandLayout layout;
    const uint8_t* shots[3] = {};
    const CamParamsOneLens* camera = nullptr;
    // The photometric residuals render shot 1's bands anew too: the lens-centre fit moves shot
    // 1's projection with every candidate centre.
    bool rerenderFirstShot = false;

    // Bands 0, 1, 2 one after the other, RGB: A from the first shot of each pair, B from the second.
    std::vector<uint8_t> bandsA, bandsB;
    // 1 where the band's shot sees the pixel's direction, 0 where the band is black beyond its view.
    std::vector<uint8_t> seenA, seenB;
    std::vector<float> grayA, grayB;
    std::vector<float> cosA[3], sinA[3], cosE, sinE;
    float columnAngle = 0.0f; // radians per band column
    double pixelsPerRadian = 0.0;
    std::vector<FeatureMatch> matches[3];

    // Sizes the buffers and fills the angle tables for the layout. False when the layout holds no
    // block or memory is short.
    bool prepare(const SeamBandLayout& bandLayout);
    // Renders every band part of A and B at the current angles, and where each shot sees.
    void renderBands(const float* angles);
    void convertToGray();
    size_t bandPixels() const { return size_t(layout.W) * size_t(layout.L); }
};

// Where the six fitted angles (ROLL_2, YAW_2, PITCH_2, ROLL_3, YAW_3, PITCH_3) sit among the eight
// alignment floats.
inline constexpr int kFittedAngles[6] = {0, 1, 2, 5, 6, 7};
// ROLL_GLOBAL and PITCH_GLOBAL as the fitted shots imply them: a quarter of the sums of their rolls
// and of their pitches.
void deriveLevelling(float* angles);

// Solver callbacks; x holds ROLL_2, YAW_2, PITCH_2, ROLL_3, YAW_3, PITCH_3. Both return 0.
// Feature residuals: per match the elevation and azimuth differences, in band pixels, of its two
// directions turned back into the pano frame; with pruning on, matches far off the previous
// evaluation are removed (their residuals still written).
int32_t shotFeatureResiduals(const double* x, double* residuals, void* context);
// Photometric residuals: the bands rendered at x; per band, block and colour channel the
// normalised correlation of A and B less 1 (1 for a flat block).
int32_t shotPhotometricResiduals(const double* x, double* residuals, void* context);

// Runs the solver, once started, until the residual norm improves by less than 0.1 percent
// between calls, it converges, or it has made 100 successful iterations. False when it stopped
// on an error before that many iterations.
bool runSolverToRest(LmSolver& solver);
