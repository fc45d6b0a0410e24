#include "pano/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/pic_checks.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QBuffer>
#include <QImage>
#include <QJsonObject>
#include <QMenu>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct UserScanFixture : ProjectFixture {
    Building* building = addBuilding("House");
    Floor* floor = addFloor(building, "Ground");
    QTemporaryDir pictures;

    QString picture(const QString& name, int width, int height)
    {
        const QString path = pictures.filePath(name);
        EXPECT_TRUE(plantedSkyImage(width, height).save(path, "JPG", 92));
        return path;
    }

    void addThroughMenu(const QStringList& files)
    {
        ScriptedPrompt prompt;
        prompt.answerFiles(files);
        QMenu menu;
        floor->contextMenuActions(&menu);
        for (QAction* action : menu.actions())
            if (action->text() == "Add user pano")
                floor->onContextAction(action);
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].title, "Select image (preferably >= 7200x3600)");
        EXPECT_EQ(prompt.asked()[0].text, "JPG Files (*.jpg *.jpeg)");
    }
};

void expectSkyOnTop(const QImage& image)
{
    ASSERT_FALSE(image.isNull());
    const int w = image.width();
    const int h = image.height();
    EXPECT_TRUE(isSkyColour(image.pixel(w / 2, h / 8))) << "sky at the top";
    EXPECT_TRUE(isGroundColour(image.pixel(w / 2, h - 1 - h / 8))) << "ground at the bottom";
    const QRgb marker = image.pixel(w / 80, h / 40);
    EXPECT_GT(qRed(marker), 180);
    EXPECT_LT(qGreen(marker), 80) << "the red marker stays at the top left";
}

} // namespace

TEST(UserPano, PictureBecomesAScanWithPreviewAndFullPano)
{
    UserScanFixture f;
    LogCapture log;
    f.addThroughMenu({f.picture("garden.jpg", 3000, 1500)});
    ASSERT_EQ(f.floor->panos().size(), 1);
    Panorama* scan = f.floor->panos().first();
    EXPECT_EQ(scan->panoType(), PanoType::User);
    EXPECT_EQ(scan->dir(), "User Pano_garden");
    EXPECT_EQ(f.floor->highlightedPanos(), QList<QGraphicsItem*>{scan});
    EXPECT_TRUE(log.contains(QtInfoMsg, "Please adjust scan position, rotation and initial angle"));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Selected image resolution is too low: 3000x1500. For better experience"));
    EXPECT_FALSE(log.contains(QtWarningMsg, "Aspect ratio"));

    const QImage preview = decipheredPicImage(scan->folder() + "/t.pic");
    EXPECT_EQ(preview.size(), QSize(1800, 900));
    expectSkyOnTop(preview);

    scan->buildPano();
    const QImage pano = decipheredPicImage(scan->folder() + "/s.pic");
    EXPECT_EQ(pano.size(), QSize(3000, 1500));
    expectSkyOnTop(pano);
    const QJsonObject gpano = exiftoolGPano(scan->folder() + "/s.pic");
    EXPECT_EQ(gpano["ProjectionType"].toString(), "equirectangular");
    EXPECT_EQ(gpano["FullPanoWidthPixels"].toInt(), 3000);
    EXPECT_EQ(gpano["FullPanoHeightPixels"].toInt(), 1500);
    EXPECT_EQ(gpano["CroppedAreaImageWidthPixels"].toInt(), 3000);
    EXPECT_EQ(gpano["CroppedAreaImageHeightPixels"].toInt(), 1500);
    EXPECT_EQ(listTree(f.path("Ground")), (QStringList{"User Pano_garden/", "User Pano_garden/s.pic",
                                                       "User Pano_garden/t.pic", "User Pano_garden/u.jpg"}));
}

TEST(UserPano, OddPicturesAreWarnedAboutAndScaledToTwoToOne)
{
    UserScanFixture f;
    LogCapture log;
    const QString path = f.picture("wide.jpg", 3000, 1000);
    f.addThroughMenu({path, path});
    EXPECT_TRUE(log.contains(QtWarningMsg, "Aspect ratio of equirectangular image should be exactly 2:1."));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Selected image resolution is too low: 3000x1000"));
    ASSERT_EQ(f.floor->panos().size(), 2);
    EXPECT_EQ(f.floor->panos()[1]->dir(), "User Pano_wide_001");
    f.floor->panos()[0]->buildPano();
    EXPECT_EQ(decipheredPicImage(f.floor->panos()[0]->folder() + "/s.pic").size(), QSize(3000, 1500));
}

TEST(UserPano, FailuresLeaveNoScanAndNoFolderBehind)
{
    UserScanFixture f;
    LogCapture log;
    // A header that claims far more pixels than the reader may allocate: readable size, no image.
    QImage small(8, 8, QImage::Format_RGB888);
    small.fill(Qt::blue);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(small.save(&buffer, "JPG"));
    const qsizetype sof = jpeg.indexOf("\xff\xc0");
    ASSERT_GT(sof, 0);
    jpeg[sof + 5] = char(0x75); // height 30000
    jpeg[sof + 6] = char(0x30);
    jpeg[sof + 7] = char(0xea); // width 60000
    jpeg[sof + 8] = char(0x60);
    const QString huge = f.pictures.filePath("huge.jpg");
    writeFile(huge, jpeg);
    const QString garbage = f.pictures.filePath("garbage.jpg");
    writeFile(garbage, "not a picture");

    f.addThroughMenu({garbage, huge});
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load image"));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load scan:"));
    EXPECT_TRUE(f.floor->panos().isEmpty());
    EXPECT_TRUE(listTree(f.path("Ground")).isEmpty()) << "the half-made scan folder is removed";

    // The floor's folder is gone: nothing can be made, nothing may crash.
    log.clear();
    QDir(f.path("Ground")).removeRecursively();
    f.addThroughMenu({f.picture("ok.jpg", 400, 200)});
    EXPECT_TRUE(f.floor->panos().isEmpty());
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load scan:"));
    EXPECT_EQ(listTree(f.path()), QStringList{}) << "nothing appears outside the floor either";
}

TEST(UserPano, ScanFromAnExportKeepsItsPicturesWithoutTheSourcePicture)
{
    UserScanFixture f;
    LogCapture log;
    f.addThroughMenu({f.picture("garden.jpg", 3000, 1500)});
    ASSERT_EQ(f.floor->panos().size(), 1);
    Panorama* scan = f.floor->panos().first();
    scan->buildPano();
    // An export archive carries "t.pic" and "s.pic" but not "u.jpg".
    ASSERT_TRUE(QFile::remove(scan->folder() + "/u.jpg"));
    const QByteArray preview = readFile(scan->folder() + "/t.pic");
    const QByteArray pano = readFile(scan->folder() + "/s.pic");

    EXPECT_NO_THROW(scan->reload(false));
    EXPECT_NO_THROW(scan->buildPano());
    EXPECT_EQ(readFile(scan->folder() + "/t.pic"), preview);
    EXPECT_EQ(readFile(scan->folder() + "/s.pic"), pano);

    // Reprocessing needs the source picture, and so does a scan that has no preview yet.
    EXPECT_THAT(thrownMessage([&] { scan->reload(true); }).toStdString(),
                ::testing::EndsWith("Main image is missing and pano will be omitted."));
    ASSERT_TRUE(QFile::remove(scan->folder() + "/s.pic"));
    EXPECT_THAT(thrownMessage([&] { scan->buildPano(); }).toStdString(),
                ::testing::EndsWith("Main image is missing and pano will be omitted."));
}
