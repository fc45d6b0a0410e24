#pragma once

#include <QString>

#include <cstdint>

// The pictures a scan's processing leaves in its folder: the preview "t.pic" and the full pano
// "s.pic", JPEGs in the data-key envelope. Both writers take 8-bit RGB rows top-down (the file's
// first row first), replace the file as a whole and throw std::runtime_error on failure.

inline constexpr int kPreviewWidth = 1800;
inline constexpr int kPreviewHeight = 900;
inline constexpr int kFullPanoWidth = 7200;

void writePreviewPic(const QString& path, const uint8_t* rgb, int width, int height);
// Carries the GPano packet of a pano that covers the whole sphere.
void writeFullPanoPic(const QString& path, const uint8_t* rgb, int width, int height);

// Reverses the order of the rows of an RGB buffer (three bytes per pixel): a bottom-up render
// becomes the top-down rows a JPEG stores, and back.
void flipRows(uint8_t* rgb, int width, int height);
