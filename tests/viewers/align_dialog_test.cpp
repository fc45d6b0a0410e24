#include "model/panorama.h"
#include "support/model_fixture.h"
#include "support/one_lens_model.h"
#include "support/room_scene.h"
#include "support/test_support.h"
#include "viewers/align_dialog.h"

#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {
constexpr float kStep = 0.006f;
constexpr double kPi = 3.14159265358979323846;

ImageParams tilted(int x, int y)
{
    ImageParams p;
    p[ImageParams::ROLL_GLOBAL] = float(x) * kStep;
    p[ImageParams::PITCH_GLOBAL] = float(y) * kStep;
    return p;
}

// A one-lens scan of the room, its camera tilted by `pose`'s levelling; not processed.
struct OneLensRoomScan : ProjectFixture {
    OneLensTestModel* camera = new OneLensTestModel(600);
    Floor* floor = addFloor(addBuilding("House"), "Ground");
    Panorama* scan = nullptr;

    explicit OneLensRoomScan(const ImageParams& pose, const std::function<Rgb(const Direction&)>& scene = {})
    {
        property->setCamParams(camera);
        const QString folder = floor->folderPath() + "/s1";
        if (scene) {
            QDir().mkpath(folder);
            for (int k = 0; k < 3; ++k) {
                const QByteArray shot = renderSceneShot(*camera, pose, k, scene);
                QImage image(reinterpret_cast<const uchar*>(shot.constData()), 600, 600, 1800, QImage::Format_RGB888);
                image.mirrored().save(camera->shotPath(folder, k), "JPG", 100);
            }
        } else {
            writeRoomShots(*camera, pose, RoomScene{}, folder);
        }
        writeFile(folder + "/scan.json", R"({"pos": [0, 0], "rot": 0})");
        scan = Panorama::createFromFolder(QJsonObject(), "s1", floor);
    }
};

QRgb previewAt(const AlignDialog& dialog, double azimuthDeg, double elevationDeg)
{
    const QImage& preview = dialog.preview();
    const int column = int(std::lround((360.0 - azimuthDeg) / 360.0 * preview.width())) % preview.width();
    const int row = int(std::lround((90.0 - elevationDeg) / 180.0 * preview.height()));
    return preview.pixel(column, row);
}
} // namespace

TEST(AlignDialog, ThePreviewShowsTheSkyAtTheTop)
{
    const Direction marker = directionOf(90, 50);
    OneLensRoomScan f(ImageParams{}, [&marker](const Direction& d) -> Rgb {
        return angleBetweenDeg(d, marker) < 8 ? Rgb{230, 20, 20} : Rgb{40, 60, 200};
    });
    ASSERT_TRUE(f.scan);
    AlignDialog dialog(f.scan);
    ASSERT_EQ(dialog.preview().size(), QSize(AlignDialog::kPreviewWidth, AlignDialog::kPreviewWidth / 2));
    EXPECT_GT(qRed(previewAt(dialog, 90, 50)), 200);
    EXPECT_LT(qRed(previewAt(dialog, 90, -50)), 80) << "the mirror image below the horizon is not red";
    EXPECT_LT(qRed(previewAt(dialog, 270, 50)), 80);
}

TEST(AlignDialog, AutoVerticalsLevelsThePreviewAndOkHandsItToTheScan)
{
    const ImageParams pose = tilted(3, -4);
    OneLensRoomScan f(pose);
    ASSERT_TRUE(f.scan);
    f.property->setDirty(false);
    AlignDialog dialog(f.scan);
    const QImage before = dialog.preview();
    dialog.autoVerticalsButton()->click();
    const ImageParams& found = dialog.imageParams();
    EXPECT_NEAR(found[ImageParams::ROLL_GLOBAL], pose[ImageParams::ROLL_GLOBAL], kStep * 1.01);
    EXPECT_NEAR(found[ImageParams::PITCH_GLOBAL], pose[ImageParams::PITCH_GLOBAL], kStep * 1.01);
    EXPECT_NE(dialog.preview(), before) << "the preview shows the levelled pano";

    // The dialog works on its own copy until OK.
    EXPECT_EQ(f.scan->imageParams(), ImageParams{});
    EXPECT_FALSE(f.property->isDirty());
    dialog.accept();
    EXPECT_EQ(f.scan->imageParams(), found);
    EXPECT_TRUE(f.property->isDirty());
}

TEST(AlignDialog, CancelLeavesTheScanAsItWas)
{
    OneLensRoomScan f(tilted(2, 2));
    ASSERT_TRUE(f.scan);
    f.property->setDirty(false);
    AlignDialog dialog(f.scan);
    dialog.autoVerticalsButton()->click();
    dialog.reject();
    EXPECT_EQ(f.scan->imageParams(), ImageParams{});
    EXPECT_FALSE(f.property->isDirty());
}

// A user scan has no camera: its picture is levelled as the equirectangular picture it is.
TEST(AlignDialog, AUserScanIsLevelledFromItsPicture)
{
    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    const int width = 2400, height = 1200;
    // The room as a camera tilted by (-3, 5) steps took it: the levelled strip at d reads it at G d.
    const ImageParams pose = tilted(-3, 5);
    const double a = pose[ImageParams::ROLL_GLOBAL], c = pose[ImageParams::PITCH_GLOBAL];
    const double g[9] = {std::cos(a), -std::sin(a) * std::cos(c), std::sin(a) * std::sin(c),
                         std::sin(a), std::cos(a) * std::cos(c),  -std::cos(a) * std::sin(c),
                         0.0,         std::sin(c),                std::cos(c)};
    QImage picture(width, height, QImage::Format_RGB888);
    const RoomScene room;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double azimuth = 2 * kPi - (x + 0.5) * 2 * kPi / width;
            const double elevation = kPi / 2 - (y + 0.5) * kPi / height;
            const double e[3] = {std::cos(elevation) * std::cos(azimuth), std::sin(elevation),
                                 std::cos(elevation) * std::sin(azimuth)};
            const Rgb colour = room.at({g[0] * e[0] + g[3] * e[1] + g[6] * e[2], g[1] * e[0] + g[4] * e[1] + g[7] * e[2],
                                        g[2] * e[0] + g[5] * e[1] + g[8] * e[2]});
            picture.setPixel(x, y, qRgb(colour[0], colour[1], colour[2]));
        }
    const QString folder = f.makeUserScanFolder(floor, "garden");
    ASSERT_TRUE(picture.save(folder + "/u.jpg", "JPG", 95));
    Panorama* scan = Panorama::createFromFolder(QJsonObject(), "garden", floor);
    ASSERT_TRUE(scan);
    AlignDialog dialog(scan);
    dialog.autoVerticalsButton()->click();
    EXPECT_NEAR(dialog.imageParams()[ImageParams::ROLL_GLOBAL], pose[ImageParams::ROLL_GLOBAL], kStep * 1.01);
    EXPECT_NEAR(dialog.imageParams()[ImageParams::PITCH_GLOBAL], pose[ImageParams::PITCH_GLOBAL], kStep * 1.01);
}

TEST(AlignDialog, AScanWithoutItsImagesCannotBeOpened)
{
    OneLensRoomScan f(ImageParams{});
    ASSERT_TRUE(f.scan);
    QFile::remove(f.scan->folder() + "/h2.jpg");
    const QString text = thrownMessage([&] { AlignDialog dialog(f.scan); });
    EXPECT_TRUE(text.contains("h2.jpg")) << text.toStdString();
}
