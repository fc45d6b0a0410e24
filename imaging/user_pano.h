#pragma once

#include <QSize>
#include <QString>

// Images of a scan made from one equirectangular picture (top-down JPEG). Both writers throw
// std::runtime_error with the user-facing text on failure and touch no widget or scene.

// Why a picture of this size makes no pano, for the person; empty when it makes one. A pano is
// 2:1: a picture that would have to be stretched or squeezed more than four times to that shape
// (wider than 8:1 or narrower than 1:2), one narrower than two pixels and one beyond the pixel
// budget are refused.
QString userPictureRefusal(const QSize& picture);
// The full pano a picture makes: 2:1, as wide as the picture but no wider than the widest pano
// the program writes (kMaxFullPanoWidth).
QSize userPanoSize(const QSize& picture);

// The preview: 1800 x 900, JPEG in the data-key envelope.
void writeUserPreview(const QString& sourcePath, const QString& previewPath);
// The full pano of userPanoSize, JPEG in the data-key envelope.
void writeUserPano(const QString& sourcePath, const QString& panoPath);
