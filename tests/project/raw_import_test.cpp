#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm6.h"
#include "project/raw_import.h"
#include "project/wall_thickness.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The legacy layout file, written field by field as the camera writes it.
class HouseDat {
public:
    HouseDat& int32(qint32 value)
    {
        char bytes[4];
        qToLittleEndian(value, bytes);
        m_bytes.append(bytes, 4);
        return *this;
    }
    HouseDat& text(const QString& value)
    {
        int32(static_cast<qint32>(value.size()));
        for (QChar c : value) {
            char bytes[2];
            qToLittleEndian(c.unicode(), bytes);
            m_bytes.append(bytes, 2);
        }
        return *this;
    }
    HouseDat& bytes(int count)
    {
        m_bytes.append(count, '\x01');
        return *this;
    }
    // One floor record; reserved is written into the first reserved field.
    HouseDat& floor(const QString& name, const QStringList& scans, qint32 reserved = 0)
    {
        text(name).bytes(2).int32(reserved).int32(0).bytes(1).int32(1).int32(7).int32(9).text("rec").bytes(1).int32(0);
        int32(static_cast<qint32>(scans.size()));
        for (const QString& scan : scans)
            text(scan);
        return bytes(16);
    }
    QByteArray m_bytes;
};

HouseDat houseHeader(qint32 version, const QString& name, qint32 floors)
{
    HouseDat dat;
    dat.int32(version).text(name).int32(floors);
    return dat;
}

struct RawFolder : ProjectFixture {
    void folders(const QStringList& names)
    {
        for (const QString& name : names)
            ASSERT_TRUE(QDir().mkpath(path(name)));
    }
    void house(const HouseDat& dat) { writeFile(path("house.dat"), dat.m_bytes); }
    int import()
    {
        int thickness = 0;
        property->importFromCameraData(thickness);
        return thickness;
    }
};

} // namespace

TEST(VersionFile, FirstLineTrimmed)
{
    QTemporaryDir dir;
    EXPECT_EQ(readVersionFile(dir.path()), QString());
    writeFile(dir.filePath("version.txt"), "  3.8.1 \r\n4.0\n");
    EXPECT_EQ(readVersionFile(dir.path()), "3.8.1");
}

TEST(ImportFromCameraData, ProjectJsonWinsOverTheTextFilesEvenWithoutAThickness)
{
    RawFolder raw;
    writeFile(raw.path("wall.txt"), "30\n");
    writeFile(raw.path("version.txt"), "2.0\n");
    writeFile(raw.path("project.json"),
              R"({"nomivoVersion": "3.8.1", "globalId": "g-1", "cam360": {"model": "QC-2"}})");
    EXPECT_EQ(raw.import(), 0);
    EXPECT_EQ(raw.property->nomivoVersion(), "3.8.1");
    EXPECT_EQ(raw.property->globalId(), "g-1");
    EXPECT_EQ(raw.property->cam360().value("model").toString(), "QC-2");

    writeFile(raw.path("project.json"), R"({"extWallThickness": 254.6})");
    EXPECT_EQ(raw.import(), 255) << "a thickness written as a fraction is rounded, not dropped";

    QFile::remove(raw.path("project.json"));
    EXPECT_EQ(raw.import(), 300);
    EXPECT_EQ(raw.property->nomivoVersion(), "2.0");
}

TEST(ImportFromCameraData, UnparsableProjectJsonOnlyWarns)
{
    RawFolder raw;
    raw.property->setNomivoVersion("1.0");
    writeFile(raw.path("project.json"), "{ not json");
    writeFile(raw.path("wall.txt"), "30\n");
    LogCapture log;
    int thickness = 77;
    raw.property->importFromCameraData(thickness);
    EXPECT_EQ(thickness, 77) << "the caller's value stays";
    EXPECT_EQ(raw.property->nomivoVersion(), "1.0");
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not process project.json file."));
}

TEST(LegacyHouseLayout, MovesNamedScansIntoFloorsAndTheRestIntoNewFloor)
{
    RawFolder raw;
    raw.property->setCamParams(new CamParamsZTM4);
    raw.folders({"Ground_001", "Ground_002", "Upper_7", "stray", "_Export", "_Assets", "Ground"});
    writeFile(raw.path("Ground_001/marker"), "1");
    raw.house(houseHeader(8, "Maple Street 5", 2)
                  .floor("Ground", {"Ground_001", "Ground_002", "Ground_missing"})
                  .floor("Upper", {"Upper_7"})
                  .int32(0));
    LogCapture log;
    raw.import();
    EXPECT_EQ(raw.property->ownName(), "Maple Street 5");
    EXPECT_FALSE(QFile::exists(raw.path("house.dat")));
    EXPECT_TRUE(QFile::exists(raw.path("Ground/001/marker")));
    EXPECT_TRUE(QDir(raw.path("Ground/002")).exists());
    EXPECT_TRUE(QDir(raw.path("Upper/7")).exists());
    EXPECT_TRUE(QDir(raw.path("New Floor/stray")).exists());
    EXPECT_TRUE(QDir(raw.path("_Export")).exists()) << "reserved folders stay";
    EXPECT_TRUE(QDir(raw.path("_Assets")).exists());
    EXPECT_FALSE(QDir(raw.path("New Floor/Ground")).exists()) << "an existing floor folder is reused, not moved";
    EXPECT_TRUE(log.entries().isEmpty());
}

TEST(LegacyHouseLayout, OldOrDamagedFilesMoveEverythingIntoNewFloorAndAreDeleted)
{
    struct Case {
        HouseDat dat;
        const char* message;
    };
    const QList<Case> cases{
        {houseHeader(7, "Old", 1).floor("Ground", {"Ground_001"}).int32(0), "Version is old"},
        {HouseDat().bytes(3), "Version is old"},
        {houseHeader(8, "X", 1).floor("Ground", {"Ground_001"}, 5).int32(0), "File is not supported."},
        {houseHeader(8, "X", -1), "File is corrupted."},
        {houseHeader(8, "X", 1000000).floor("Ground", {"Ground_001"}), "File is corrupted."},
        {houseHeader(8, "X", 2).floor("Ground", {"Ground_001"}), "File is corrupted."},
    };
    for (const Case& c : cases) {
        RawFolder raw;
        raw.property->setCamParams(new CamParamsZTM4);
        raw.folders({"Ground_001", "_Snapshots"});
        raw.house(c.dat);
        LogCapture log;
        raw.import();
        EXPECT_FALSE(QFile::exists(raw.path("house.dat")));
        EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load project file:")) << c.message;
        EXPECT_TRUE(log.contains(QtWarningMsg, c.message)) << log.texts(QtWarningMsg).join("|").toStdString();
        const bool movedByFloor = QDir(raw.path("Ground/001")).exists();
        const bool movedToNewFloor = QDir(raw.path("New Floor/Ground_001")).exists();
        EXPECT_TRUE(movedByFloor != movedToNewFloor) << c.message << ": the scan folder went exactly one way";
        EXPECT_TRUE(QDir(raw.path("_Snapshots")).exists());
    }
}

TEST(LegacyHouseLayout, NamesFromTheFileMustBeOnePlainName)
{
    QTemporaryDir outer;
    RawFolder raw;
    raw.property->setCamParams(new CamParamsZTM4);
    const QString outsideName = QFileInfo(outer.path()).fileName();
    raw.folders({"Ground_x"});
    raw.house(houseHeader(8, "X", 3)
                  .floor("..", {"Ground_x"})
                  .floor("Ground", {"../" + outsideName, "Ground_", "a_b/c"})
                  .floor("", {})
                  .int32(0));
    raw.import();
    EXPECT_TRUE(QDir(outer.path()).exists()) << "nothing outside the project is moved";
    EXPECT_FALSE(QDir(raw.path("Ground/" + outsideName)).exists());
    EXPECT_FALSE(QDir(raw.path("New Floor/Ground_x")).exists()) << "a scan named by a refused floor is not a stray";
    EXPECT_TRUE(QDir(raw.path("Ground_x")).exists());
}

TEST(LegacyHouseLayout, OnlyForTheLaserLineCamera)
{
    for (CamParams* camera : {static_cast<CamParams*>(new CamParamsZTM6), static_cast<CamParams*>(nullptr)}) {
        RawFolder raw;
        raw.property->setCamParams(camera);
        raw.folders({"Ground_001"});
        raw.house(houseHeader(8, "X", 1).floor("Ground", {"Ground_001"}).int32(0));
        raw.import();
        EXPECT_TRUE(QFile::exists(raw.path("house.dat")));
        EXPECT_TRUE(QDir(raw.path("Ground_001")).exists());
    }
}
