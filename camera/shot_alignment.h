#pragma once

#include "numerics/features.h"

#include <cstdint>
#include <vector>

class CamParamsOneLens;

// Alignment of the three shots of a one-lens scan: the turns of shots 2 and 3 against shot 1 are
// fitted on three seam bands, each rendered from both shots that meet there (band 0: shots 1 and
// 2 about azimuth 150 degrees, band 1: shots 1 and 3 about 30, band 2: shots 2 and 3 about 270).
// `angles` is the first eight floats of the scan's ImageParams (ROLL_2, YAW_2, PITCH_2,
// ROLL_GLOBAL, PITCH_GLOBAL, ROLL_3, YAW_3, PITCH_3); the fit writes only these.

// The band geometry one call works on; empty (blocksAcross 0) when the bands hold no block.
struct SeamBandLayout {
    int W = 0;            // columns of a band, each spanning 45 degrees / (W - 1)
    int L = 0;            // rows of a band
    int block = 0;        // side of a photometric block: odd, at least 11
    int blocksAcross = 0; // W / block
    int blocksDown = 0;   // L / block

    bool usable() const { return blocksAcross > 0; }
};

// The layouts of the feature and photometric modes for a size argument, and of the lens-centre
// fit, whose bands reach higher up.
SeamBandLayout featureBandLayout(int size);
SeamBandLayout photometricBandLayout(int size, int mode);
SeamBandLayout lensCentreBandLayout(int size);

// Fits shots 2 and 3 to shot 1 in the feature mode (mode 0: matched corners) or the photometric
// mode (any other mode: block-wise colour correlation), then sets ROLL_GLOBAL and PITCH_GLOBAL to
// a quarter of the sums of the shots' rolls and pitches. Shots are the camera's square RGB shots,
// rows bottom-up. True when the alignment is accepted; false when the bands are too small, there
// is not enough texture (two bands under 7 matches: the fit is written all the same) or the fit
// could not run (angles as the last completed pass left them, levelling consistent with them).
bool alignShots(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3,
                int size, int mode, float* angles);

// The solver of a fit may evaluate at most (unknowns + 1) x this many times; the default never binds.
inline constexpr int32_t kFitEvaluationFactor = 1000000;

// The feature passes of alignShots on prepared matches (their dirA and dirB filled): at most five
// fits, each followed by the removal of matches far off the fit. pixelsPerRadian scales the
// residuals. The lists lose the removed matches. Same result and effect on `angles` as alignShots.
bool fitShotAnglesToMatches(std::vector<FeatureMatch> (&matches)[3], double pixelsPerRadian, float* angles,
                            int32_t evaluationFactor = kFitEvaluationFactor);

// The automatic alignment of a scan at the strip width n: the feature mode at n for alignment
// mode 0 or 2; the photometric mode at n / 4, n / 2 and n (coarse to fine) for mode 1, or for mode
// 2 when the feature mode failed. True when the last alignment run was accepted.
bool alignShotsForScan(const CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2,
                       const uint8_t* shot3, int n, int alignmentMode, float* angles);
