#include "base/angles.h"

double degreesToJsonAngle(double degrees)
{
    return degrees * -0.017453292519943295;
}

double jsonAngleToDegrees(double radians)
{
    return radians * -57.29577951308232;
}
