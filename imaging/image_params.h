#pragma once

#include <array>
#include <cstddef>

// The 29 floats of one scan's alignment and colour settings. The eight alignment angles come
// first so that the calibration algorithms can work on them through a pointer to the first float.
struct ImageParams {
    enum Index {
        ROLL_2, YAW_2, PITCH_2, ROLL_GLOBAL, PITCH_GLOBAL, ROLL_3, YAW_3, PITCH_3,
        RED_GAIN_2, GREEN_GAIN_2, BLUE_GAIN_2, RED_GAIN_3, GREEN_GAIN_3, BLUE_GAIN_3,
        EXPOSURE, CONTRAST, BRIGHTNESS, SATURATION, VIBRANCE, TEMPERATURE, TINT,
        HIGHLIGHTS, SHADOWS, WHITES, BLACKS, CLARITY, SHARPNESS, DEHAZE, GAMMA,
        COUNT
    };
    static constexpr int kAngleCount = 8;
    static constexpr int kFirstGain = RED_GAIN_2;
    static constexpr int kGainCount = 6;
    static constexpr int kFirstColour = EXPOSURE;
    static constexpr float kNeutralGain = 0.5f;

    std::array<float, COUNT> values{};

    ImageParams() { resetAlignment(); resetColour(); }

    float& operator[](int i) { return values[static_cast<size_t>(i)]; }
    float operator[](int i) const { return values[static_cast<size_t>(i)]; }

    // The eight alignment angles, in radians, in index order.
    float* angles() { return values.data(); }
    const float* angles() const { return values.data(); }

    void resetAlignment()
    {
        for (int i = 0; i < kAngleCount; ++i)
            values[static_cast<size_t>(i)] = 0.0f;
    }

    // Lens gains back to neutral and every colour and tone setting to its neutral value.
    void resetColour()
    {
        for (int i = kFirstGain; i < kFirstGain + kGainCount; ++i)
            values[static_cast<size_t>(i)] = kNeutralGain;
        for (int i = kFirstColour; i < COUNT; ++i)
            values[static_cast<size_t>(i)] = 0.0f;
        values[GAMMA] = 1.0f;
    }

    bool operator==(const ImageParams&) const = default;
};

static_assert(ImageParams::COUNT == 29, "a scan's settings are 29 floats");
