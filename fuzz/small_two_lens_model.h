#pragma once

#include "camera/cam_params_ztm6.h"

#include <memory>

// A two-lens model of 64 x 32 lens images whose lenses correct nothing, for the targets that read
// a scan's files: the readers need a model, not a real calibration.
inline std::unique_ptr<CamParamsZTM6> smallTwoLensModel(float yaw = 0.0f)
{
    auto model = std::make_unique<CamParamsZTM6>();
    model->header().IMG_WIDTH = 64;
    model->header().IMG_HEIGHT = 32;
    model->header().NUM_LENS = 2;
    model->header().YAW = yaw;
    model->lenses().resize(2);
    model->lenses()[0].U0 = 32.0f;
    model->lenses()[0].V0 = 16.0f;
    model->lenses()[1].V0 = 16.0f;
    return model;
}
