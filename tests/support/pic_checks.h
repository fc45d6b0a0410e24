#pragma once

#include <QImage>
#include <QJsonObject>
#include <QString>

namespace testsupport {

// The picture inside a ".pic" file, with a GoogleTest expectation that the envelope holds a JPEG.
QImage decipheredPicImage(const QString& picPath);

// A JPEG of a few hundred bytes whose frame header declares width x height pixels: its data holds
// only a 16 x 16 picture, so a decoder that believes the header allocates and fills the whole size.
QByteArray jpegDeclaringSize(int width, int height);

// Lets the image reader take up to this many megabytes for one picture while it lives, as the
// program does (the default of 256 MB would refuse the large decodes by itself).
class ImageAllocationLimit {
public:
    explicit ImageAllocationLimit(int megabytes);
    ~ImageAllocationLimit();

private:
    int m_saved;
};

// What exiftool, which no one here wrote, reads as the XMP-GPano tags of the deciphered picture.
QJsonObject exiftoolGPano(const QString& picPath);

} // namespace testsupport
