#pragma once

// Angles are stored in project files as radians with the sign flipped against the scene's degrees.
double degreesToJsonAngle(double degrees);
double jsonAngleToDegrees(double radians);
