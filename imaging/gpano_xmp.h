#pragma once

#include <QByteArray>

// Where an equirectangular image sits inside the whole sphere, in pixels, as panorama viewers
// read it from the image's XMP metadata. A complete pano has the cropped area equal to the whole.
struct GPanoLayout {
    int fullWidth = 0;
    int fullHeight = 0;
    int croppedWidth = 0;
    int croppedHeight = 0;
    int croppedLeft = 0;
    int croppedTop = 0;
};

// A JPEG segment's length field counts itself, so its payload is at most 65535 - 2 bytes.
inline constexpr int kMaxJpegSegmentPayload = 65533;

// The XMP packet (UTF-8 text, no trailing zero) declaring an equirectangular panorama with that
// layout. Throws std::invalid_argument when the cropped area is empty or lies outside the whole.
QByteArray buildGPanoXmpPacket(const GPanoLayout& layout);

// Returns `jpeg` with an APP1 segment holding the XMP packet, placed right after the start-of-image
// marker, or after the APP0 (JFIF) segments that must stay first. Throws std::runtime_error when
// `jpeg` does not start like a JPEG file or the packet does not fit one segment.
QByteArray insertXmpSegment(const QByteArray& jpeg, const QByteArray& packet);
