#include "imaging/pano_directions.h"

#include "imaging/rotation.h"

#include <algorithm>

namespace {
constexpr double kPiDouble = 3.14159265358979323846;
// The largest float below pi/2: its cosine is positive, so a pole row keeps its azimuth.
constexpr float kElevationLimit = 1.5707963f;
} // namespace

PanoDirections::PanoDirections(int width, int height, int lensHeight, const ImageParams& p)
    : m_step(static_cast<float>(2.0 * kPiDouble / width))
    , m_scale(static_cast<float>(lensHeight / kPiDouble))
    , m_cosAz(static_cast<size_t>(width))
    , m_sinAz(static_cast<size_t>(width))
    , m_cosEl(static_cast<size_t>(height))
    , m_sinEl(static_cast<size_t>(height))
{
    rotationFromAngles(-p[ImageParams::PITCH_GLOBAL], 0.0f, -p[ImageParams::ROLL_GLOBAL], m_levelling);
    for (int c = 0; c < width; ++c) {
        const float a = static_cast<float>(c) * m_step - kPi;
        m_cosAz[static_cast<size_t>(c)] = std::cos(a);
        m_sinAz[static_cast<size_t>(c)] = std::sin(a);
    }
    // Built from cos and sin rather than tan: at the pole row tan(pi/2) in float is a huge
    // negative number and would point at the opposite pole.
    const int hh = static_cast<int>(height * 0.5);
    for (int r = 0; r < height; ++r) {
        const float e = std::clamp(static_cast<float>(hh - r) * m_step, -kElevationLimit, kElevationLimit);
        m_cosEl[static_cast<size_t>(r)] = std::cos(e);
        m_sinEl[static_cast<size_t>(r)] = std::sin(e);
    }
}
