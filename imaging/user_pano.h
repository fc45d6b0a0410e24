#pragma once

#include <QString>

// Images of a scan made from one equirectangular picture (top-down JPEG). Both throw
// std::runtime_error with the user-facing text on failure and touch no widget or scene.

// The preview: 1800 x 900, JPEG in the data-key envelope.
void writeUserPreview(const QString& sourcePath, const QString& previewPath);
// The full pano: W x W/2 for a source W pixels wide, JPEG in the data-key envelope.
void writeUserPano(const QString& sourcePath, const QString& panoPath);
