#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm6.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The legacy layout file, written field by field as the camera writes it.
struct HouseDat {
    QByteArray bytes;
    HouseDat& int32(qint32 value)
    {
        bytes.append(4, '\0');
        qToLittleEndian(value, bytes.data() + bytes.size() - 4);
        return *this;
    }
    HouseDat& text(const QString& value)
    {
        int32(static_cast<qint32>(value.size()));
        for (QChar c : value)
            bytes.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
        return *this;
    }
    HouseDat& filler(int count)
    {
        bytes.append(count, '\x01');
        return *this;
    }
    // One floor record; reserved goes into its first reserved field.
    HouseDat& floor(const QString& name, const QStringList& scans, qint32 reserved = 0)
    {
        text(name).filler(2).int32(reserved).int32(0).filler(1).int32(1).int32(7).int32(9).text("rec").filler(1).int32(0);
        int32(static_cast<qint32>(scans.size()));
        for (const QString& scan : scans)
            text(scan);
        return filler(16);
    }
};

HouseDat header(qint32 version, const QString& name, qint32 floors)
{
    return HouseDat().int32(version).text(name).int32(floors);
}

struct RawFolder : ProjectFixture {
    explicit RawFolder(CamParams* camera = new CamParamsZTM4) { property->setCamParams(camera); }
    void folders(const QStringList& names)
    {
        for (const QString& name : names)
            ASSERT_TRUE(QDir().mkpath(path(name)));
    }
    int import(const HouseDat& house = {}, int thickness = 0)
    {
        if (!house.bytes.isEmpty())
            writeFile(path("house.dat"), house.bytes);
        property->importFromCameraData(thickness);
        return thickness;
    }
    bool exists(const QString& name) const { return QFileInfo::exists(path(name)); }
};

} // namespace

TEST(ImportFromCameraData, ProjectJsonWinsOverTheTextFilesAndAnUnreadableOneOnlyWarns)
{
    RawFolder raw;
    writeFile(raw.path("wall.txt"), "30\n");
    writeFile(raw.path("version.txt"), "  2.0 \r\n4.0\n");
    writeFile(raw.path("project.json"), R"({"nomivoVersion": "3.8.1", "globalId": "g-1", "cam360": {"model": "QC-2"}})");
    EXPECT_EQ(raw.import(), 0) << "even without a thickness of its own";
    EXPECT_EQ(raw.property->nomivoVersion(), "3.8.1");
    EXPECT_EQ(raw.property->globalId(), "g-1");
    EXPECT_EQ(raw.property->cam360().value("model").toString(), "QC-2");

    writeFile(raw.path("project.json"), R"({"extWallThickness": 254.6})");
    EXPECT_EQ(raw.import(), 255) << "a thickness written as a fraction is rounded, not dropped";

    writeFile(raw.path("project.json"), "{ not json");
    raw.property->setNomivoVersion("1.0");
    LogCapture log;
    EXPECT_EQ(raw.import({}, 77), 77) << "the caller's value stays";
    EXPECT_EQ(raw.property->nomivoVersion(), "1.0");
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not process project.json file."));

    QFile::remove(raw.path("project.json"));
    EXPECT_EQ(raw.import(), 300);
    EXPECT_EQ(raw.property->nomivoVersion(), "2.0") << "the first line of version.txt, trimmed";
}

TEST(LegacyHouseLayout, LaserLineCameraMovesNamedScansIntoFloorsAndTheRestIntoNewFloor)
{
    const HouseDat house = header(8, "Maple Street 5", 2)
                               .floor("Ground", {"Ground_001", "Ground_002", "Ground_missing"})
                               .floor("Upper", {"Upper_7"})
                               .int32(0);
    for (CamParams* other : {static_cast<CamParams*>(new CamParamsZTM6), static_cast<CamParams*>(nullptr)}) {
        RawFolder raw(other);
        raw.folders({"Ground_001"});
        raw.import(house);
        EXPECT_TRUE(raw.exists("house.dat") && raw.exists("Ground_001")) << "only the laser-line camera has it";
    }
    RawFolder raw;
    raw.folders({"Ground_001", "Ground_002", "Upper_7", "stray", "_Export", "_Assets", "Ground"});
    writeFile(raw.path("Ground_001/marker"), "1");
    LogCapture log;
    raw.import(house);
    EXPECT_EQ(raw.property->ownName(), "Maple Street 5");
    EXPECT_EQ(listTree(raw.path()), (QStringList{"Ground/", "Ground/001/", "Ground/001/marker", "Ground/002/",
                                                 "New Floor/", "New Floor/stray/", "Upper/", "Upper/7/", "_Assets/",
                                                 "_Export/"}))
        << "reserved folders stay, an existing floor folder is reused, house.dat is gone";
    EXPECT_TRUE(log.entries().isEmpty());
}

TEST(LegacyHouseLayout, OldOrDamagedFilesMoveEverythingIntoNewFloorAndAreDeleted)
{
    const std::pair<HouseDat, const char*> cases[] = {
        {header(7, "Old", 1).floor("Ground", {"Ground_001"}).int32(0), "Version is old"},
        {HouseDat().filler(3), "Version is old"},
        {header(8, "X", 1).floor("Ground", {"Ground_001"}, 5).int32(0), "File is not supported."},
        {header(8, "X", -1), "File is corrupted."},
        {header(8, "X", 1000000).floor("Ground", {"Ground_001"}), "File is corrupted."},
        {header(8, "X", 2).floor("Ground", {"Ground_001"}), "File is corrupted."},
    };
    for (const auto& [house, message] : cases) {
        SCOPED_TRACE(message);
        RawFolder raw;
        raw.folders({"Ground_001", "_Snapshots"});
        LogCapture log;
        raw.import(house);
        EXPECT_FALSE(raw.exists("house.dat"));
        EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load project file:"));
        EXPECT_TRUE(log.contains(QtWarningMsg, message)) << log.texts(QtWarningMsg).join("|").toStdString();
        EXPECT_NE(raw.exists("Ground/001"), raw.exists("New Floor/Ground_001")) << "the scan folder went exactly one way";
        EXPECT_TRUE(raw.exists("_Snapshots"));
    }
}

TEST(LegacyHouseLayout, NamesFromTheFileMustBeOnePlainName)
{
    QTemporaryDir outer;
    const QString outsideName = QFileInfo(outer.path()).fileName();
    RawFolder raw;
    raw.folders({"Ground_x"});
    raw.import(header(8, "X", 3)
                   .floor("..", {"Ground_x"})
                   .floor("Ground", {"../" + outsideName, "Ground_", "a_b/c"})
                   .floor("", {})
                   .int32(0));
    EXPECT_TRUE(QDir(outer.path()).exists()) << "nothing outside the project is moved";
    EXPECT_FALSE(raw.exists("Ground/" + outsideName));
    EXPECT_FALSE(raw.exists("New Floor/Ground_x")) << "a scan named by a refused floor is not a stray";
    EXPECT_TRUE(raw.exists("Ground_x"));
}
