#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Scan images (".pic") are JPEG files in the enciphered-file envelope with the data key.

// The deciphered JPEG bytes of a ".pic" file. Throws std::runtime_error when the file cannot be
// read or is shorter than the envelope itself.
QByteArray readPicFile(const QString& path);

// The decoded image of a ".pic" file. Throws std::runtime_error as readPicFile does, and when the
// deciphered content is not an image (a damaged file, or one enciphered with another key).
QImage loadPicImage(const QString& path);
