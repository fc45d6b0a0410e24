#include "base/cipher.h"
#include "camera/cam_params_ztm5.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/archive_check.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/openssl_envelope.h"
#include "support/plan_expectations.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

const QString kProjectName = "Alder Court";
const QString kPrefix = kProjectName + "/";
constexpr double kRadToDeg = 57.29577951308232;

Panorama* scanInFolder(Property& property, const QString& relativeDir)
{
    for (Panorama* pano : scansOf(property))
        if (QDir(property.folder()).relativeFilePath(pano->folder()) == relativeDir)
            return pano;
    return nullptr;
}

// The room as the floor plan has it: every outline point, placed by its scan, lies on a wall.
void expectOutlineOnTheRoomWalls(Panorama* scan, const QJsonArray& room)
{
    ASSERT_GT(scan->outline().size(), 1000);
    int off = 0;
    for (const QPoint& p : scan->outline())
        off += distanceToPolygon(room, scan->sceneTransform().map(QPointF(p))) > 20.0;
    // The markers that end each sweep repeat a wall point; nothing lands elsewhere.
    EXPECT_EQ(off, 0);
}

// The portal's view of the tree: what must come back from the archive.
std::string tourOf(Property& property)
{
    const QJsonObject json = property.toJson(true);
    const QJsonObject tour{{"buildings", json["buildings"]}, {"initPanoId", json["initPanoId"]},
                           {"mainBuildingId", json["mainBuildingId"]}};
    return QJsonDocument(tour).toJson().toStdString();
}

} // namespace

// A project of the one-lens lidar camera, as the camera writes it, opens with its scans placed by
// their lidar, gets its panos built and exports an archive that tools no one here wrote read.
TEST(Ztm5ExportEndToEnd, CameraFolderLoadsBuildsAndExportsAndOpensAgainAsTheSameTree)
{
    QTemporaryDir root;
    const QString folder = root.filePath(kProjectName);
    // Plain shots: nothing in them to align by, so the shots keep the turns the lidar gives.
    const QJsonObject description =
        makeZtm5Project(folder, {"--scans", "3", "--side", "128", "--exposures", "3", "--plain-shots"});
    const QJsonArray room = description["room"].toArray();

    ScriptedPrompt prompt; // the load asks nothing of this project
    LogCapture log;
    Property property;
    ASSERT_TRUE(property.load(folder)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(dynamic_cast<CamParamsZTM5*>(property.camParams()));
    EXPECT_EQ(property.cameraSerialNumber(), description["serial"].toString());

    const QJsonArray described = description["scans"].toArray();
    ASSERT_EQ(scansOf(property).size(), described.size());
    for (const QJsonValue& value : described) {
        const QJsonObject expected = value.toObject();
        SCOPED_TRACE(expected["dir"].toString().toStdString());
        Panorama* scan = scanInFolder(property, expected["dir"].toString());
        ASSERT_TRUE(scan);
        EXPECT_EQ(scan->panoType(), PanoType::Full);
        // The shots' turns come from matching the sweeps, not from the nominal 120 and 240 degrees.
        EXPECT_NEAR(scan->imageParams()[ImageParams::YAW_3] * kRadToDeg, expected["yaw3"].toDouble() * kRadToDeg, 0.25);
        EXPECT_NEAR(scan->imageParams()[ImageParams::YAW_2] * kRadToDeg, expected["yaw2"].toDouble() * kRadToDeg, 0.25);
        EXPECT_NEAR(scan->capture()["lidarHeading"].toDouble(), expected["lidarHeading"].toDouble(), 0.2);
        EXPECT_EQ(scan->scanHash().size(), 40);
        expectOutlineOnTheRoomWalls(scan, room);
        // The bracketed exposures were fused into the first shot, and the preview was made.
        EXPECT_TRUE(QFileInfo::exists(scan->folder() + "/h1.jpg"));
        EXPECT_TRUE(QFileInfo::exists(scan->folder() + "/t.pic"));
    }
    for (Building* building : property.buildings())
        for (Floor* floor : building->floors())
            if (floor->gradeHint() == 0)
                floor->setGradeHint(2);
    ASSERT_TRUE(property.save());

    for (const DrcFinding& finding : property.checkExport())
        EXPECT_NE(finding.code, 0) << finding.message.toStdString();
    QString html;
    ASSERT_TRUE(property.exportTar(html)) << log.texts(QtCriticalMsg).join("\n").toStdString();
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty()) << log.texts(QtCriticalMsg).join("\n").toStdString();
    const QString archive = folder + "/_Export/" + kProjectName + ".quoril.tar";
    EXPECT_EQ(listTree(folder + "/_Export"), QStringList{kProjectName + ".quoril.tar"});

    // The entries in their order, written out from the tree independently of the export.
    QStringList names{kPrefix + "quoril_exp.qjs", kPrefix + "/system.cfg"};
    QMap<QString, QString> sources{{kPrefix + "/system.cfg", folder + "/system.cfg"}};
    QList<Floor*> floors;
    for (Building* building : property.buildings())
        floors += building->floors();
    ASSERT_EQ(floors.size(), 1);
    for (Floor* floor : std::as_const(floors)) {
        const QString base = kPrefix + "floor" + QString::number(floor->uniqueId());
        names << base + ".qsv" << base + ".qdx";
        for (Panorama* pano : floor->panos()) {
            const QString scan = kPrefix + pano->exportLabel() + "/";
            names << scan + "pc.dat" << scan + "t.pic" << scan + "s.pic";
            sources[scan + "t.pic"] = pano->folder() + "/t.pic";
            sources[scan + "s.pic"] = pano->folder() + "/s.pic";
        }
    }
    const ArchiveListing python = pythonTarListing(archive);
    ASSERT_TRUE(python.failure.isEmpty()) << python.failure.toStdString();
    EXPECT_EQ(python.names(), names);
    const ArchiveListing gnu = gnuTarListing(archive);
    ASSERT_TRUE(gnu.failure.isEmpty()) << gnu.failure.toStdString();
    EXPECT_EQ(gnu.names(), names);
    int copies = 0;
    for (const ArchiveMember& member : python.members)
        if (sources.contains(member.name)) {
            ++copies;
            EXPECT_EQ(member.sha1, sha1sumOf(sources[member.name])) << member.name.toStdString();
        }
    EXPECT_EQ(copies, sources.size());

    QTemporaryDir unpacked;
    ASSERT_EQ(runProcess("tar", {"-xf", archive, "-C", unpacked.path()}).exitCode, 0);
    const QString inside = unpacked.filePath(kProjectName) + "/";
    const QJsonObject exported =
        QJsonDocument::fromJson(opensslDecipher(readFile(inside + "quoril_exp.qjs"), CipherKind::Data)).object();
    EXPECT_EQ(exported, property.toJson(true));

    for (Floor* floor : std::as_const(floors)) {
        const QString base = inside + "floor" + QString::number(floor->uniqueId());
        writeFile(base + ".dxf", opensslDecipher(readFile(base + ".qdx"), CipherKind::DxfPlan));
        writeFile(base + ".svg", opensslDecipher(readFile(base + ".qsv"), CipherKind::SvgPlan));
        expectPlansShowScans(base + ".dxf", base + ".svg", floor->panos());
    }

    int panos = 0;
    for (const QString& name : std::as_const(names)) {
        if (!name.endsWith("/s.pic"))
            continue;
        ++panos;
        const QString jpeg = unpacked.filePath("pano.jpg");
        writeFile(jpeg, opensslDecipher(readFile(unpacked.filePath(name)), CipherKind::Data));
        const ProcessResult exif = runProcess("exiftool", {"-j", "-XMP-GPano:all", "-FileType", jpeg});
        ASSERT_EQ(exif.exitCode, 0) << exif.err.toStdString();
        const QJsonObject tags = QJsonDocument::fromJson(exif.out).array().at(0).toObject();
        EXPECT_EQ(tags["FileType"].toString(), "JPEG") << name.toStdString();
        EXPECT_EQ(tags["ProjectionType"].toString(), "equirectangular") << name.toStdString();
        EXPECT_EQ(tags["FullPanoWidthPixels"].toInt(), 2 * tags["FullPanoHeightPixels"].toInt());
    }
    EXPECT_EQ(panos, described.size());

    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(kProjectName + ".quoril.tar");
    ASSERT_TRUE(QFile::copy(archive, copy));
    Property reopened;
    ASSERT_TRUE(reopened.load(copy)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    EXPECT_EQ(reopened.folder(), elsewhere.filePath(kProjectName));
    EXPECT_EQ(tourOf(reopened), tourOf(property));
    for (Panorama* scan : scansOf(reopened))
        expectOutlineOnTheRoomWalls(scan, room);
}
