#include "camera/cam_params_ztm4.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/log_capture.h"
#include "support/pic_checks.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/laser_line_project.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace testsupport;

namespace {

Panorama* scanIn(Property& property, const QString& floorDir, const QString& dir)
{
    for (Building* building : property.buildings())
        for (Floor* floor : building->floors())
            for (Panorama* pano : floor->panos())
                if (floor->dir() == floorDir && pano->dir() == dir)
                    return pano;
    return nullptr;
}

double degreesApart(double a, double b)
{
    return std::abs(std::remainder(a - b, 360.0));
}

} // namespace

// The laser-line camera's raw folder opens as a project: the legacy layout sorts the scans into
// their floors, the exposures are fused into shots, every scan stands where its camera files say,
// and its outline, placed by the scan's position and rotation, lies on the walls of its room.
TEST(LaserLineProject, RawFolderLoadsWithEveryScanOnItsWalls)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Laser Lane");
    const QJsonObject project = makeProject(folder, {"--camera", "laser-line", "--floors", "2", "--scans-per-floor",
                                                     "2", "--user-scans", "1", "--lens-height", "96"});
    ScriptedPrompt prompt;
    LogCapture log;
    Property property;
    ASSERT_TRUE(property.load(folder)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(dynamic_cast<const CamParamsZTM4*>(property.camParams()));
    EXPECT_EQ(property.cameraSerialNumber(), project["serial"].toString());
    EXPECT_FALSE(QFile::exists(folder + "/house.dat"));

    int laserScans = 0;
    for (const QJsonValue floor : project["floors"].toArray()) {
        const QJsonArray room = floor["room"].toArray();
        for (const QJsonValue value : floor["scans"].toArray()) {
            const QJsonObject scan = value.toObject();
            SCOPED_TRACE((floor["dir"].toString() + "/" + scan["dir"].toString()).toStdString());
            Panorama* pano = scanIn(property, floor["dir"].toString(), scan["dir"].toString());
            ASSERT_TRUE(pano);
            EXPECT_FALSE(QFileInfo::exists(folder + "/" + scan["raw"].toString()));
            if (scan["kind"].toString() == "user") {
                EXPECT_EQ(pano->panoType(), PanoType::User);
                continue;
            }
            ++laserScans;
            EXPECT_EQ(pano->panoType(), PanoType::Full);
            EXPECT_NEAR(pano->pos().x(), scan["position"][0].toDouble(), 1e-2);
            EXPECT_NEAR(pano->pos().y(), scan["position"][1].toDouble(), 1e-2);
            EXPECT_LT(degreesApart(pano->rotation(), scan["heading"].toDouble()), 1e-2);
            const qsizetype expected = laserWallPoints(scan).size();
            EXPECT_GT(expected, 150);
            ASSERT_EQ(pano->outline().size(), expected);
            double worst = 0;
            for (const QPoint& point : pano->outline())
                worst = std::max(worst, distanceToPolygon(room, pano->mapToScene(QPointF(point))));
            EXPECT_LT(worst, 2.0) << "every laser point on a wall";

            const QString dir = pano->folder() + "/";
            for (const char* shot : {"ha.jpg", "hb.jpg", "hc.jpg", "t.pic", "pc.dat"})
                EXPECT_TRUE(QFile::exists(dir + shot)) << shot;
            EXPECT_TRUE(QDir(dir).entryList({"p??.jpg"}, QDir::Files).isEmpty()) << "exposures fused and removed";
            const QImage preview = decipheredPicImage(dir + "t.pic");
            EXPECT_EQ(preview.size(), QSize(1800, 900)) << "the preview";
        }
    }
    EXPECT_EQ(laserScans, 4);
}

// A camera without scan fingerprints cannot say whether its data were read before: the scans it
// placed keep the place the user gives them through saves and loads.
TEST(LaserLineProject, ScansTheUserMovedStayWhereTheUserPutThem)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Laser Lane");
    makeProject(folder, {"--camera", "laser-line", "--floors", "1", "--scans-per-floor", "2", "--lens-height", "64"});
    ScriptedPrompt prompt;
    QPointF moved;
    {
        Property property;
        ASSERT_TRUE(property.load(folder));
        ASSERT_TRUE(runPostedJobs());
        Panorama* pano = scanIn(property, "Ground", "001");
        ASSERT_TRUE(pano);
        moved = pano->pos() + QPointF(750, -420);
        pano->setPos(moved);
        pano->setRotation(pano->rotation() + 25);
        ASSERT_TRUE(property.save());
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Property property;
        ASSERT_TRUE(property.load(folder));
        ASSERT_TRUE(runPostedJobs());
        Panorama* pano = scanIn(property, "Ground", "001");
        ASSERT_TRUE(pano);
        EXPECT_NEAR(pano->pos().x(), moved.x(), 1e-6);
        EXPECT_NEAR(pano->pos().y(), moved.y(), 1e-6);
        EXPECT_FALSE(pano->outline().isEmpty());
        EXPECT_FALSE(property.isDirty());
    }
}
