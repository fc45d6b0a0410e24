#include "camera/cam_params_one_lens.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr float kTiny = 1.1754944e-38f;
constexpr int kUndistortRounds = 5;
} // namespace

void distortPoint(const CamParamsOneLens& camera, float px, float py, float& outX, float& outY)
{
    using L = CamParamsOneLens;
    const float U0 = camera.lensTerm(L::U0), V0 = camera.lensTerm(L::V0);
    const float K1 = camera.lensTerm(L::K1), K2 = camera.lensTerm(L::K2), K3 = camera.lensTerm(L::K3);
    const float P1 = camera.lensTerm(L::P1), P2 = camera.lensTerm(L::P2), P3 = camera.lensTerm(L::P3);
    const float x = px - U0;
    const float y = py - V0;
    const float r2 = x * x + y * y;
    const float radial = K1 * r2 + K2 * (r2 * r2) + K3 * (r2 * r2 * r2);
    const float s = 1.0f + P3 * r2;
    outX = U0 + x - ((2.0f * (x * x) + r2) * P1 + 2.0f * P2 * x * y) * s - radial * x;
    outY = V0 + y - ((2.0f * (y * y) + r2) * P2 + 2.0f * P1 * x * y) * s - radial * y;
}

void undistortPoint(const CamParamsOneLens& camera, float px, float py, float& ux, float& uy)
{
    ux = px;
    uy = py;
    for (int round = 0; round < kUndistortRounds; ++round) {
        float dx = 0.0f, dy = 0.0f;
        distortPoint(camera, ux, uy, dx, dy);
        ux += px - dx;
        uy += py - dy;
    }
}

void projectRay(const CamParamsOneLens& camera, float x, float y, float z, float& outU, float& outV)
{
    using L = CamParamsOneLens;
    const float rho = std::max(std::sqrt(x * x + y * y), kTiny);
    const float r = camera.lensTerm(L::F) * (1.5707963f - std::atan(z / rho));
    const float u = camera.lensTerm(L::U0) + r * x / rho;
    const float v = camera.lensTerm(L::V0) - camera.lensTerm(L::RY) * r * y / rho;
    distortPoint(camera, u, v, outU, outV);
}

void unprojectPixel(const CamParamsOneLens& camera, float px, float py, float& theta, float& dirX, float& dirY)
{
    using L = CamParamsOneLens;
    float ux = 0.0f, uy = 0.0f;
    undistortPoint(camera, px, py, ux, uy);
    const float dx = ux - camera.lensTerm(L::U0);
    const float dy = (uy - camera.lensTerm(L::V0)) / camera.lensTerm(L::RY);
    const float r = std::sqrt(dx * dx + dy * dy);
    if (r <= kTiny) {
        dirX = 1.0f;
        dirY = 0.0f;
    } else {
        dirX = dx / r;
        dirY = -dy / r;
    }
    theta = r / camera.lensTerm(L::F);
}
