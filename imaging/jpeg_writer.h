#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// JPEG output of 8-bit RGB images whose rows run top-down (the file's first row first), three
// bytes per pixel without row padding, as the images a user opens are stored.

// The JPEG encoding of the image at `quality` (0 to 100). Throws std::runtime_error when the
// arguments are out of range or the encoder fails.
QByteArray encodeJpeg(const uint8_t* rgb, int width, int height, int quality);

// Writes the image as a JPEG file, in the enciphered-file envelope with the data key when
// `encipher`. The file is replaced as a whole or not at all: a failure leaves whatever was under
// `path` before. Throws std::runtime_error with the reason on any failure, also when `path` is
// something other than a regular file (a device or a folder is never replaced).
void saveJpgFile(const QString& path, const uint8_t* rgb, int width, int height, int quality, bool encipher);

// As saveJpgFile, with an XMP packet (see gpano_xmp.h) embedded in an APP1 segment.
void saveJpgFileWithXmp(const QString& path, const uint8_t* rgb, int width, int height, int quality,
                        bool encipher, const QByteArray& xmpPacket);
