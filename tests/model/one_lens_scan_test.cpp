#include "model/panorama.h"
#include "model/tag.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/one_lens_model.h"
#include "support/one_lens_scene.h"
#include "support/pic_checks.h"
#include "support/test_support.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {
constexpr int kSide = 256;

const QString kDone = QStringLiteral("(nothing thrown)");
template <typename F>
QString onPoolThread(F&& action)
{
    return QtConcurrent::run([&] { return thrownMessage(action); }).result();
}

// Textured: the scan's processing aligns the shots on the scene's corners.
OneLensScene markers()
{
    return OneLensScene{{{90, 0, 4, {255, 0, 0}},
                         {210, 20, 4, {0, 255, 0}},
                         {330, -25, 4, {0, 0, 255}},
                         {120, 65, 5, {255, 255, 0}},
                         {250, -60, 5, {255, 0, 255}}},
                        true};
}

struct OneLensScans : ProjectFixture {
    OneLensTestModel* model = new OneLensTestModel(kSide);
    Floor* floor = addFloor(addBuilding("House"), "Ground");
    ImageParams shotAngles;
    OneLensScans()
    {
        model->initBlendMasks(7200, 1800);
        property->setCamParams(model);
        shotAngles[ImageParams::ROLL_2] = 0.01f;
        shotAngles[ImageParams::YAW_3] = -0.015f;
    }
    QString scanPath(const QString& name) const { return floor->folderPath() + "/" + name; }
    Panorama* addScan(const QString& name)
    {
        writeSceneShots(*model, shotAngles, markers(), scanPath(name));
        writeFile(scanPath(name) + "/scan.json",
                  R"({"pos": [1500, 700], "rot": 0.5, "lensLidarOffset": 0.25, "shutterCounter": 77,
                      "temperature": 31.5, "systemcfg": "system.cfg", "globalId": "g-1"})");
        return Panorama::createFromFolder(QJsonObject(), name, floor);
    }
};

std::vector<uint8_t> rgbOf(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::vector<uint8_t> out(size_t(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        std::copy_n(rgb.constScanLine(y), rgb.width() * 3, out.begin() + ptrdiff_t(y) * rgb.width() * 3);
    return out;
}
} // namespace

TEST(OneLensScan, ReloadReadsTheScanAndBuildPutsEveryMarkerWhereTheGeometrySays)
{
    OneLensScans f;
    Panorama* scan = f.addScan("s1");
    ASSERT_TRUE(scan);
    ASSERT_EQ(onPoolThread([&] { scan->reload(false); }), kDone);
    EXPECT_EQ(f.model->hdrBuilds, 3) << "the shots are built before they are read";
    ASSERT_TRUE(processEventsUntil([&] { return !scan->outline().isEmpty(); }));
    EXPECT_EQ(scan->outline(), OneLensTestModel::kOutline);
    EXPECT_EQ(scan->pos(), QPointF(1500, -700));
    EXPECT_NEAR(scan->rotation(), (0.25 - 0.5) * 57.29577951308232, 1e-3);
    EXPECT_EQ(scan->scanHash(), "hash:s1");
    EXPECT_EQ(scan->capture()["shutterCounter"].toInt(), 77);
    EXPECT_EQ(scan->capture()["globalId"].toString(), "g-1");
    EXPECT_NEAR(scan->capture()["temperature"].toDouble(), 31.5, 1e-6);
    const QImage preview = decipheredPicImage(f.scanPath("s1/t.pic"));
    EXPECT_EQ(preview.size(), QSize(1800, 900));

    ASSERT_EQ(onPoolThread([&] { scan->buildPano(); }), kDone);
    const QImage pano = decipheredPicImage(f.scanPath("s1/s.pic"));
    ASSERT_EQ(pano.size(), QSize(7200, 3600));
    // The file's rows run top-down: the markers above the horizon are in its upper half, where the
    // scene has them.
    // The shots went through JPEG files of 256 pixels (0.7 degree each): a degree is the bound here;
    // the renders' own precision is pinned by the camera tests.
    const std::vector<uint8_t> rgb = rgbOf(pano);
    for (const SceneMarker& m : markers().markers) {
        const Direction found = markerCentroid(rgb.data(), 7200, true, m.colour, 60);
        ASSERT_GT(std::abs(found[0]) + std::abs(found[1]) + std::abs(found[2]), 0.0) << m.azimuthDeg;
        EXPECT_LT(angleBetweenDeg(found, directionOf(m.azimuthDeg, m.elevationDeg)), 1.0)
            << m.azimuthDeg << "/" << m.elevationDeg;
    }
    const QColor top = pano.pixelColor(int((360 - 120) / 360.0 * 7200), int((90 - 65) / 180.0 * 3600));
    EXPECT_GT(top.red(), 200);
    EXPECT_GT(top.green(), 200);
}

TEST(OneLensScan, AMissingOrShortShotRefusesTheScanNamingTheFile)
{
    OneLensScans f;
    Panorama* scan = f.addScan("s2");
    ASSERT_TRUE(scan);
    QFile::remove(f.scanPath("s2/h2.jpg"));
    QString text = onPoolThread([&] { scan->reload(true); });
    EXPECT_TRUE(text.contains(f.scanPath("s2/h2.jpg"))) << text.toStdString();

    plantedSkyImage(100, 60).save(f.scanPath("s2/h2.jpg"));
    text = onPoolThread([&] { scan->buildPano(); });
    EXPECT_TRUE(text.contains(f.scanPath("s2/h2.jpg")) && text.contains("improper size")) << text.toStdString();

    // The main shot missing is the missing main image, which the load drops silently.
    QFile::remove(f.scanPath("s2/h1.jpg"));
    text = onPoolThread([&] { scan->reload(true); });
    EXPECT_TRUE(text.endsWith("Main image is missing and pano will be omitted.")) << text.toStdString();
}

TEST(OneLensScan, RendersFailWithTheMaskMessageWhenTheModelHasNoMasksForTheWidth)
{
    OneLensScans f;
    f.model->initBlendMasks(3600, 900);
    Panorama* scan = f.addScan("s3");
    ASSERT_TRUE(scan);
    EXPECT_EQ(onPoolThread([&] { scan->buildPano(); }), "no mask was initialized for this image size");
    EXPECT_FALSE(QFile::exists(f.scanPath("s3/s.pic")));
}
