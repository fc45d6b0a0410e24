#pragma once

// Rotation conventions shared by every shot projection: R(a1, a2, a3) = Rz(a1) x Ry(a2) x Rx(a3),
// row-major 3 x 3; a shot's angle triple is (ROLL, YAW, PITCH); y points up.

void rotationFromAngles(float a1, float a2, float a3, float out[9]);
void rotationFromAnglesDouble(double a1, double a2, double a3, double out[9]);

// C = B x A (the second operand on the left). C may be A or B.
void multiplyMat3(const double A[9], const double B[9], double C[9]);
void mul3x3(const float A[9], const float B[9], float C[9]);
