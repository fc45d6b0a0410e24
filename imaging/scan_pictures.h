#pragma once

#include "imaging/image_io.h"

#include <QString>

#include <cstdint>

// The pictures a scan's processing leaves in its folder: the preview "t.pic" and the full pano
// "s.pic", JPEGs in the data-key envelope. Both writers take 8-bit RGB rows top-down (the file's
// first row first), replace the file as a whole and throw std::runtime_error on failure.

inline constexpr int kPreviewWidth = 1800;
inline constexpr int kPreviewHeight = 900;
inline constexpr int kFullPanoWidth = 7200;
// The widest full pano the program writes, 2:1: inside the pixel budget of its own image reader,
// so that every pano written can be read again. The pano writer refuses a larger one; a user's
// picture wider than this makes a pano of this width.
inline constexpr int kMaxFullPanoWidth = 16384;
static_assert(qint64(kMaxFullPanoWidth) * (kMaxFullPanoWidth / 2) <= kMaxImagePixels);

void writePreviewPic(const QString& path, const uint8_t* rgb, int width, int height);
// Carries the GPano packet of a pano that covers the whole sphere. Throws for a pano wider than
// kMaxFullPanoWidth or higher than half of it, before anything is encoded.
void writeFullPanoPic(const QString& path, const uint8_t* rgb, int width, int height);

// Reverses the order of the rows of an RGB buffer (three bytes per pixel): a bottom-up render
// becomes the top-down rows a JPEG stores, and back.
void flipRows(uint8_t* rgb, int width, int height);
