#include "base/angles.h"

#include <cmath>
#include <limits>

double degreesToJsonAngle(double degrees)
{
    return degrees * -0.017453292519943295;
}

double jsonAngleToDegrees(double radians)
{
    // The two products are no exact inverses: about one angle in twenty would be written a bit
    // off after a load. Radians this program wrote came from degrees within a few doubles of the
    // product; taking degrees that write those very radians keeps a record the same through
    // every load and save.
    const double degrees = radians * -57.29577951308232;
    if (!std::isfinite(degrees) || degreesToJsonAngle(degrees) == radians)
        return degrees;
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    double below = degrees, above = degrees;
    for (int step = 0; step < 4; ++step) {
        below = std::nextafter(below, -kInfinity);
        above = std::nextafter(above, kInfinity);
        if (degreesToJsonAngle(below) == radians)
            return below;
        if (degreesToJsonAngle(above) == radians)
            return above;
    }
    return degrees;
}
