#pragma once

#include <cstddef>
#include <cstdint>

// The one-parameter tone curve of a lens gain over the 256 byte values, as fractions 0..1:
// g = 0.5 is the identity and g itself maps to 0.5. The colour equalisation searches g; the
// pano build applies the chosen curves to the lens they were found for.
void gainCurve(float g, float curve[256]);

// Maps every pixel of an RGB buffer (three bytes per pixel) through the curves of the three
// channel gains, rounding each curve value to the nearest byte.
void applyGainCurves(uint8_t* rgb, size_t pixelCount, float redGain, float greenGain, float blueGain);
