#include "imaging/pano_mapping.h"

#include <QQuaternion>
#include <QVector3D>

#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;

QQuaternion levelling(const ImageParams& p)
{
    return QQuaternion::fromEulerAngles(-57.29578f * p[ImageParams::ROLL_GLOBAL],
                                        -57.29578f * p[ImageParams::PITCH_GLOBAL], 0.0f);
}
} // namespace

void levelPanoDirection(float theta, float lambda, const ImageParams& p, bool inverse, float& outU, float& outV)
{
    const QQuaternion q = inverse ? levelling(p).inverted() : levelling(p);
    const QVector3D d(std::sin(theta) * std::cos(lambda), std::sin(theta) * std::sin(lambda), std::cos(theta));
    const QVector3D e = q.rotatedVector(d);
    outV = static_cast<float>(std::atan2(std::sqrt(e.x() * e.x() + e.y() * e.y()), e.z()) / kPi);
    outU = static_cast<float>((std::atan2(e.y(), e.x()) + kPi) / (2.0 * kPi));
}

void cameraToPanoPoint(float u, float v, const ImageParams& p, float& outU, float& outV)
{
    levelPanoDirection(static_cast<float>(kPi * v), static_cast<float>(2.0 * kPi * u - kPi), p, false, outU, outV);
}

void panoToCameraPoint(float u, float v, const ImageParams& p, float& outU, float& outV)
{
    levelPanoDirection(static_cast<float>(kPi * v), static_cast<float>(2.0 * kPi * u - kPi), p, true, outU, outV);
}
