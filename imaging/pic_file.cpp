#include "imaging/pic_file.h"

#include "base/cipher.h"
#include "imaging/image_io.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void failRead(const QString& path, const std::string& reason)
{
    throw std::runtime_error("Could not read \"" + path.toStdString() + "\": " + reason);
}

} // namespace

QByteArray readPicFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        failRead(path, file.errorString().toStdString());
    const qint64 size = file.size();
    if (size < kEnvelopeOverhead)
        failRead(path, std::to_string(size) + " bytes is too short for an enciphered image");
    QByteArray data = file.readAll();
    if (data.size() != size)
        failRead(path, file.errorString().toStdString());
    decipherBytes(data, CipherKind::Data); // cannot refuse: the size was checked
    return data;
}

QImage loadPicImage(const QString& path)
{
    QByteArray jpeg = readPicFile(path);
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    if (const QSize declared = reader.size(); declared.isValid() && !withinPixelBudget(declared))
        throw std::runtime_error("Could not decode \"" + path.toStdString() + "\": "
                                 + tooManyPixelsText(declared).toStdString());
    QImage image = reader.read();
    if (image.isNull())
        throw std::runtime_error("Could not decode \"" + path.toStdString() + "\": " +
                                 reader.errorString().toStdString());
    return image;
}
