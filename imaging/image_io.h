#pragma once

#include <QByteArray>
#include <QString>

// Image files in and out of 8-bit RGB buffers (three bytes per pixel, rows without padding).

// Reads an image file and reports its size. With bottomUp the file's first row is stored last.
// With scale the image is first scaled to the width x height given on entry. readerFlag makes the
// reader apply the file's orientation tag. Failure: false with an empty buffer.
bool loadImageRgb(const QString& path, QByteArray& rgb, int& width, int& height, bool bottomUp, bool scale,
                  bool readerFlag);
