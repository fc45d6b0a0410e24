#include "base/main_thread.h"
#include "camera/cam_params_ztm5.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/model_fixture.h"
#include "support/one_lens_model.h"
#include "support/pic_checks.h"
#include "support/room_scene.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {
constexpr int kSide = 800;
constexpr int kPanoWidth = 7200;
constexpr int kCompareWidth = 900;
constexpr int kShrink = kPanoWidth / kCompareWidth;
// The caps are blended from all three shots through masks; the comparison keeps to where the
// shots' turns show.
constexpr double kCompareElevation = 75.0;

// How the camera really stood in each scan: the shots' own turns, and the tilt of the whole
// camera that the levelling has to take out.
ImageParams cameraPose(int scan)
{
    const float turns[2][6] = {{0.012f, -0.026f, 0.009f, -0.007f, 0.031f, -0.015f},
                               {-0.015f, 0.022f, -0.006f, 0.011f, -0.028f, 0.013f}};
    ImageParams p;
    const int fields[6] = {ImageParams::ROLL_2, ImageParams::YAW_2, ImageParams::PITCH_2,
                           ImageParams::ROLL_3, ImageParams::YAW_3, ImageParams::PITCH_3};
    for (int i = 0; i < 6; ++i)
        p[fields[i]] = turns[scan][i];
    p[ImageParams::ROLL_GLOBAL] = (p[ImageParams::ROLL_2] + p[ImageParams::ROLL_3]) * 0.25f;
    p[ImageParams::PITCH_GLOBAL] = (p[ImageParams::PITCH_2] + p[ImageParams::PITCH_3]) * 0.25f;
    return p;
}

QByteArray rgbOf(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray out(qsizetype(rgb.width()) * rgb.height() * 3, '\0');
    for (int y = 0; y < rgb.height(); ++y)
        std::copy_n(rgb.constScanLine(y), rgb.width() * 3, out.data() + qsizetype(y) * rgb.width() * 3);
    return out;
}

double panoPsnr(Panorama& scan, const QByteArray& reference)
{
    scan.buildPano();
    const QByteArray pano = rgbOf(decipheredPicImage(scan.folder() + "/s.pic"));
    if (pano.size() != qsizetype(kPanoWidth) * kPanoWidth / 2 * 3)
        return 0.0;
    const QByteArray small = shrinkByBlocks(reinterpret_cast<const uint8_t*>(pano.constData()), kPanoWidth, kShrink);
    return psnrDb(small, reference, kCompareWidth, kCompareElevation);
}
} // namespace

// A project of the one-lens lidar camera whose shots were taken with the camera's turns off and
// the camera tilted: the scans come out of the load aligned and level, so that their panos show
// the room as it is.
TEST(OneLensAlignment, AGeneratedProjectBuildsPanosOfTheRoomItWasMadeFrom)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Room");
    const QJsonObject description = makeZtm5Project(folder, {"--scans", "2", "--side", QString::number(kSide)});
    makeSystemCfg(folder + "/system.cfg",
                  {"--model", "ztm5", "--serial", description["serial"].toString(), "--width", QString::number(kSide),
                   "--height", QString::number(kSide), "--set", "F=247.7", "--set", "U0=400", "--set", "V0=400",
                   "--set", "RCA=1", "--set", "BCA=1"});
    CamParamsZTM5 camera;
    ASSERT_TRUE(camera.loadSystemFile(folder + "/system.cfg"));
    const RoomScene room;
    const QJsonArray scans = description["scans"].toArray();
    ASSERT_EQ(scans.size(), 2);
    for (int k = 0; k < 2; ++k)
        writeRoomShots(camera, cameraPose(k), room, folder + "/" + scans[k]["dir"].toString());

    Property property;
    ASSERT_TRUE(property.load(folder));
    runPendingMainThreadJobs();
    const QList<Panorama*> loaded = scansOf(property);
    ASSERT_EQ(loaded.size(), 2);

    const QByteArray reference = renderRoomEquirect(room, kCompareWidth, kShrink, 4);
    for (Panorama* scan : loaded) {
        const int k = scan->dir().endsWith("1") ? 0 : 1;
        const ImageParams pose = cameraPose(k);
        const double aligned = panoPsnr(*scan, reference);
        EXPECT_GT(aligned, 30.0) << scan->dir().toStdString();
        // Within two steps of the alignment's bands, the levelling included.
        for (int i = 0; i < ImageParams::kAngleCount; ++i)
            EXPECT_NEAR(scan->imageParams()[i], pose[i], 0.0053) << scan->dir().toStdString() << " angle " << i;

        // The same scan built as the shots came, without their turns and the levelling.
        scan->imageParams().resetAlignment();
        const double unaligned = panoPsnr(*scan, reference);
        EXPECT_LT(unaligned, aligned - 4.0) << scan->dir().toStdString();
    }
}

// The outline is read under the turns and the levelling the alignment found, on the first load as
// on every later one: the floor shows the same scan after the project is opened again.
TEST(OneLensAlignment, TheOutlineAndTheLidarHeadingFollowTheAlignedShotsFromTheFirstLoad)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Room");
    const QJsonObject description = makeZtm5Project(folder, {"--scans", "1", "--side", "400"});
    CamParamsZTM5 camera;
    ASSERT_TRUE(camera.loadSystemFile(folder + "/system.cfg"));
    const QString scanFolder = folder + "/" + description["scans"].toArray().at(0).toObject()["dir"].toString();
    writeRoomShots(camera, cameraPose(0), RoomScene{}, scanFolder);

    QList<QPoint> outline;
    double heading = 0.0;
    ImageParams aligned;
    {
        Property property;
        ASSERT_TRUE(property.load(folder));
        runPendingMainThreadJobs();
        ASSERT_EQ(scansOf(property).size(), 1);
        Panorama* scan = scansOf(property)[0];
        aligned = scan->imageParams();
        ASSERT_NE(aligned[ImageParams::YAW_2], 0.0f) << "the shots were turned";
        outline = scan->outline();
        heading = scan->capture()["lidarHeading"].toDouble();
        ASSERT_TRUE(property.save());
    }
    Property reopened;
    ASSERT_TRUE(reopened.load(folder));
    runPendingMainThreadJobs();
    Panorama* scan = scansOf(reopened)[0];
    EXPECT_EQ(scan->imageParams(), aligned);
    EXPECT_EQ(scan->outline(), outline);
    EXPECT_EQ(scan->capture()["lidarHeading"].toDouble(), heading);
}

// Only a full scan turns its shots onto each other; a partial one is levelled all the same.
TEST(OneLensAlignment, APartialScanIsLevelledButItsShotsKeepTheirTurns)
{
    ProjectFixture f;
    auto* camera = new OneLensTestModel(600);
    camera->initBlendMasks(7200, 1800);
    f.property->setCamParams(camera);
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    ImageParams pose = cameraPose(0);
    pose[ImageParams::ROLL_GLOBAL] = 4 * 0.006f;
    pose[ImageParams::PITCH_GLOBAL] = -4 * 0.006f;
    for (const QString name : {"full", "partial"}) {
        writeRoomShots(*camera, pose, RoomScene{}, floor->folderPath() + "/" + name);
        writeFile(floor->folderPath() + "/" + name + "/scan.json", R"({"pos": [0, 0], "rot": 0})");
    }
    Panorama* full = Panorama::createFromFolder(QJsonObject(), "full", floor);
    Panorama* partial = Panorama::createFromFolder(QJsonObject(), "partial", floor);
    ASSERT_TRUE(full && partial);
    partial->setPanoType(PanoType::Partial);
    full->reload(true);
    partial->reload(true);

    for (const int i : {ImageParams::ROLL_2, ImageParams::YAW_2, ImageParams::YAW_3, ImageParams::PITCH_3}) {
        EXPECT_NEAR(full->imageParams()[i], pose[i], 0.0053) << i;
        EXPECT_EQ(partial->imageParams()[i], 0.0f) << i;
    }
    // Levelled within a step of the tilt; the partial scan's turns were not taken out, which
    // blurs its vertical edges a little, so it gets two.
    EXPECT_NEAR(full->imageParams()[ImageParams::ROLL_GLOBAL], pose[ImageParams::ROLL_GLOBAL], 0.0061);
    EXPECT_NEAR(full->imageParams()[ImageParams::PITCH_GLOBAL], pose[ImageParams::PITCH_GLOBAL], 0.0061);
    EXPECT_NEAR(partial->imageParams()[ImageParams::ROLL_GLOBAL], pose[ImageParams::ROLL_GLOBAL], 0.0121);
    EXPECT_NEAR(partial->imageParams()[ImageParams::PITCH_GLOBAL], pose[ImageParams::PITCH_GLOBAL], 0.0121);
}
