#pragma once

#include "camera/shot_alignment.h"

#include <cstdint>

class CamParamsOneLens;

// The lens centre (U0, V0) of a one-lens camera fitted together with the six shot angles on the
// seam bands of the shot alignment, by their photometric residuals. The centre enters the solver
// in thousands of pixels.

// Fits the camera's centre and the shot angles (the eight alignment floats; ROLL_GLOBAL and
// PITCH_GLOBAL derived from the fit). True when the fit ran to its end: centre (both precisions)
// and angles updated. False when the bands are too small or the fit failed: the centre is then
// the one the call started with, the angles unchanged.
bool refineLensCenter(CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3,
                      int size, float* angles, int32_t evaluationFactor = kFitEvaluationFactor);

// Solver callback: x = (U0 / 1000, V0 / 1000, ROLL_2, YAW_2, PITCH_2, ROLL_3, YAW_3, PITCH_3). Writes
// the candidate centre into the camera, then the photometric residuals of the shots under it.
int32_t lensCenterResiduals(const double* x, double* residuals, void* context);

// The lens-centre adjustment of one scan's square shots (rows bottom-up): the shots aligned by
// their features from level, then three rounds of the centre fit each followed by a new alignment.
// Throws std::runtime_error with the text for the user, leaving the centre as it found it.
void adjustLensCentre(CamParamsOneLens& camera, const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3,
                      int32_t evaluationFactor = kFitEvaluationFactor);
