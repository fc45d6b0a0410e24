#include "support/pic_checks.h"

#include "imaging/pic_file.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testsupport {

QImage decipheredPicImage(const QString& picPath)
{
    const QByteArray jpeg = readPicFile(picPath);
    EXPECT_TRUE(jpeg.startsWith("\xff\xd8")) << "a JPEG stream inside the envelope";
    return QImage::fromData(jpeg, "JPG");
}

QJsonObject exiftoolGPano(const QString& picPath)
{
    QTemporaryDir dir;
    const QString jpegPath = dir.filePath("pano.jpg");
    writeFile(jpegPath, readPicFile(picPath));
    const ProcessResult result = runProcess("exiftool", {"-j", "-XMP-GPano:all", jpegPath});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    return QJsonDocument::fromJson(result.out).array().at(0).toObject();
}

} // namespace testsupport
