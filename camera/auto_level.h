#pragma once

#include "imaging/image_params.h"

#include <cstdint>
#include <functional>

class CamParams;

// Levelling of a pano from the building's vertical edges: ROLL_GLOBAL and PITCH_GLOBAL move in
// steps of 0.006 radians, each candidate's horizon strip is scored by how vertical its edges are,
// and the best tilt within 13 steps is kept when it is a clear gain.

// Where the search ended: the best offset in steps, the start score and the best score.
struct LevelSearch {
    int x = 0;
    int y = 0;
    double startScore = 0.0;
    double bestScore = 0.0;
    int scored = 0; // how many offsets were scored, the start included
};

// Climbs from offset (0, 0) through the 5 x 5 neighbourhood of the best offset so far, scoring
// each offset once and none farther than 13 steps, until a sweep finds nothing better.
LevelSearch searchLevelOffset(const std::function<double(int x, int y)>& score);
// Whether the offset found is kept: it must move, start from a strip with edges and, when strict,
// gain at least 1.56 percent of the start score per step of its length.
bool acceptLevelOffset(const LevelSearch& search, bool strict);

// Sets the angles' ROLL_GLOBAL and PITCH_GLOBAL (nothing else) to the levelling found. The strips
// come from the camera's renderStrip over the shots, or without a camera from the equirectangular
// source in shot1 (width x height, RGB, rows top-down).
void autoLevelFromVerticals(const uint8_t* shot1, const uint8_t* shot2, const uint8_t* shot3, int width, int height,
                            ImageParams& angles, bool strict, const CamParams* camera);
