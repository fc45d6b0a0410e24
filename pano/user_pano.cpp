#include "pano/user_pano.h"

#include "project/cipher.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QSaveFile>

#include <stdexcept>

namespace {

QImage loadSource(const QString& sourcePath)
{
    QImageReader reader(sourcePath);
    QImage image = reader.read();
    if (image.isNull())
        throw std::runtime_error(QStringLiteral("Could not load image %1: %2")
                                     .arg(sourcePath, reader.errorString()).toStdString());
    return image.convertToFormat(QImage::Format_RGB888);
}

void writeEnciphered(const QImage& image, const QString& path)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 90))
        throw std::runtime_error(QStringLiteral("Could not encode %1").arg(path).toStdString());
    encipherBytes(jpeg, CipherKind::Data);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size() || !file.commit())
        throw std::runtime_error(QStringLiteral("Could not write %1").arg(path).toStdString());
}

} // namespace

void writeUserPreview(const QString& sourcePath, const QString& previewPath)
{
    const QImage source = loadSource(sourcePath);
    writeEnciphered(source.scaled(1800, 900, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), previewPath);
}

void writeUserPano(const QString& sourcePath, const QString& panoPath)
{
    const QImage source = loadSource(sourcePath);
    const int width = source.width();
    const QImage pano = source.height() == width / 2
        ? source
        : source.scaled(width, width / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    writeEnciphered(pano, panoPath);
}
