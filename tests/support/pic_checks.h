#pragma once

#include <QImage>
#include <QJsonObject>
#include <QString>

namespace testsupport {

// The picture inside a ".pic" file, with a GoogleTest expectation that the envelope holds a JPEG.
QImage decipheredPicImage(const QString& picPath);

// What exiftool, which no one here wrote, reads as the XMP-GPano tags of the deciphered picture.
QJsonObject exiftoolGPano(const QString& picPath);

} // namespace testsupport
