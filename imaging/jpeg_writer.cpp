#include "imaging/jpeg_writer.h"

#include "base/cipher.h"
#include "base/write_failure.h"
#include "imaging/gpano_xmp.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <stdexcept>
#include <string>

namespace {

// The largest side a baseline JPEG can describe.
constexpr int kMaxJpegSide = 65535;

[[noreturn]] void failWrite(const QString& path, const QString& reason)
{
    throw std::runtime_error("Could not write \"" + path.toStdString() + "\": " + reason.toStdString());
}

// Whole-file replacement through a temporary beside the target and a rename.
void writeFileReplacing(const QString& path, const QByteArray& bytes)
{
    // Renaming a temporary over a device node or a folder would destroy it, not write to it.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        failWrite(path, QStringLiteral("it is not a regular file"));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        failWrite(path, file.errorString());
    QString reason;
    if (!writeAll(file, bytes, reason)) {
        file.cancelWriting();
        failWrite(path, reason);
    }
    if (!commitAll(file, reason))
        failWrite(path, reason);
}

void saveJpeg(const QString& path, QByteArray jpeg, bool encipher)
{
    if (encipher) {
        QByteArray envelope;
        encipherBytesTo(jpeg, envelope, CipherKind::Data);
        jpeg.swap(envelope);
    }
    writeFileReplacing(path, jpeg);
}

} // namespace

QByteArray encodeJpeg(const uint8_t* rgb, int width, int height, int quality)
{
    if (!rgb || width <= 0 || height <= 0 || width > kMaxJpegSide || height > kMaxJpegSide)
        throw std::runtime_error("Cannot encode a JPEG of " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels");
    if (quality < 0 || quality > 100)
        throw std::runtime_error("JPEG quality " + std::to_string(quality) + " is outside 0 to 100");

    const QImage image(rgb, width, height, static_cast<qsizetype>(width) * 3, QImage::Format_RGB888);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        throw std::runtime_error("JPEG encoding failed: " + writer.errorString().toStdString());
    return jpeg;
}

void saveJpgFile(const QString& path, const uint8_t* rgb, int width, int height, int quality, bool encipher)
{
    saveJpeg(path, encodeJpeg(rgb, width, height, quality), encipher);
}

void saveJpgFileWithXmp(const QString& path, const uint8_t* rgb, int width, int height, int quality,
                        bool encipher, const QByteArray& xmpPacket)
{
    saveJpeg(path, insertXmpSegment(encodeJpeg(rgb, width, height, quality), xmpPacket), encipher);
}
