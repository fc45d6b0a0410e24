#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <functional>

// Image files in and out of 8-bit RGB buffers (three bytes per pixel, rows without padding).

// The most pixels an image may declare before it is decoded: 128 Mi pixels, as 16384 x 8192. The
// largest panoramic pictures in use (12000 x 6000, 72 M) fit, the lens images of any calibration
// this program accepts too; decoding one this large takes 512 MB, within the reader's limit. A
// file that declares more (a few hundred hostile bytes may declare 16000 x 16000) is refused from
// its header, before its pixels cost seconds and gigabytes.
inline constexpr qint64 kMaxImagePixels = qint64(16384) * 8192;

inline bool withinPixelBudget(const QSize& size)
{
    return size.width() > 0 && size.height() > 0 && qint64(size.width()) * size.height() <= kMaxImagePixels;
}

// The most memory, in megabytes, the image reader may take for one picture: full panos are larger
// than Qt's default of 256 MB. The program sets it at start; what decodes images under test or
// fuzzing sets the same.
inline constexpr int kImageReaderLimitMb = 1024;

// The text that refuses an image of this declared size.
QString tooManyPixelsText(const QSize& size);

// Reads an image file and reports its size. With bottomUp the file's first row is stored last.
// With scale the image is first scaled to the width x height given on entry. readerFlag makes the
// reader apply the file's orientation tag. Failure: false with an empty buffer; an image that
// declares more pixels than the budget fails before it is decoded.
bool loadImageRgb(const QString& path, QByteArray& rgb, int& width, int& height, bool bottomUp, bool scale,
                  bool readerFlag);

// What loadImageRgbOfSize found.
enum class SizedImage { Loaded, Unreadable, WrongSize };

// Reads, as loadImageRgb does without scaling, an image that must have a size the caller knows
// (a camera's shot or lens image, an exposure). The size the file declares in its header (turned
// as the orientation tag turns it, with readerFlag) goes to `fits` before any pixel is decoded:
// a few hundred bytes may declare gigapixels. The decoded size is checked once more. Unreadable
// for a missing file or one that does not decode; rgb is empty unless Loaded.
SizedImage loadImageRgbOfSize(const QString& path, QByteArray& rgb, int& width, int& height, bool bottomUp,
                              bool readerFlag, const std::function<bool(int width, int height)>& fits);
