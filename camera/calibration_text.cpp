#include "camera/calibration_text.h"

#include <charconv>

namespace {

template <typename T>
std::string shortest(T value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return std::string(text, result.ptr);
}

} // namespace

std::string calibrationText(float value)
{
    // The shortest text of the float, checked through the readers' path: parsed as a double, then
    // narrowed. Nine digits always survive that.
    std::string text = shortest(value);
    double parsed = 0;
    std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (static_cast<float>(parsed) == value)
        return text;
    char precise[64];
    const auto result = std::to_chars(precise, precise + sizeof precise, value, std::chars_format::general, 9);
    return std::string(precise, result.ptr);
}

std::string calibrationText(double value)
{
    return shortest(value);
}

std::string lensTermText(double value, float single)
{
    return value == static_cast<double>(single) ? calibrationText(single) : calibrationText(value);
}
