#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm6.h"
#include "model/folder_order.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>

using namespace testsupport;

namespace {

// The legacy layout file, written field by field as the laser-line camera writes it.
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
    explicit RawFolder(CamParams* camera, const QStringList& folders)
    {
        property->setCamParams(camera);
        for (const QString& name : folders)
            QDir().mkpath(path(name));
    }
    int import(const HouseDat& house = {}, int thickness = 0)
    {
        if (!house.bytes.isEmpty())
            writeFile(path("house.dat"), house.bytes);
        property->importFromCameraData(thickness);
        return thickness;
    }
};

} // namespace

TEST(ImportFromCameraData, ProjectJsonWinsOverTheTextFilesAndAnUnreadableOneOnlyWarns)
{
    RawFolder raw(nullptr, {});
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

TEST(LegacyHouseLayout, MovesNamedScansIntoFloorsTheRestIntoNewFloorAndOnlyPlainNames)
{
    QTemporaryDir outer;
    const QString outsideName = QFileInfo(outer.path()).fileName();
    const HouseDat house = header(8, "Maple Street 5", 4)
                               .floor("Ground", {"Ground_001", "Ground_002", "Ground_missing", "Ground_", "a_b/c",
                                                 "../" + outsideName})
                               .floor("Upper", {"Upper_7"})
                               .floor("..", {"Ground_x"})
                               .floor("", {})
                               .int32(0);
    const QStringList folders{"Ground_001/marker", "Ground_002", "Upper_7", "Ground_x", "Ground_", "stray", "_Export",
                              "Ground"};
    for (CamParams* other : {static_cast<CamParams*>(new CamParamsZTM6), static_cast<CamParams*>(nullptr)}) {
        RawFolder raw(other, folders);
        raw.import(house);
        EXPECT_TRUE(QFile::exists(raw.path("house.dat")) && QFile::exists(raw.path("Ground_001"))) << "laser-line only";
    }
    RawFolder raw(new CamParamsZTM4, folders);
    raw.import(house);
    EXPECT_EQ(raw.property->ownName(), "Maple Street 5");
    EXPECT_EQ(listTree(raw.path()), (QStringList{"Ground/", "Ground/001/", "Ground/001/marker/", "Ground/002/",
                                                 "Ground_/", "Ground_x/", "New Floor/", "New Floor/stray/", "Upper/",
                                                 "Upper/7/", "_Export/"}))
        << "reserved folders stay, a floor folder is reused, refused names and what they name stay put";
    EXPECT_TRUE(QDir(outer.path()).exists()) << "nothing outside the project is moved";
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
        RawFolder raw(new CamParamsZTM4, {"Ground_001", "_Snapshots"});
        LogCapture log;
        raw.import(house);
        EXPECT_FALSE(QFile::exists(raw.path("house.dat")));
        EXPECT_TRUE(log.contains(QtWarningMsg, "Could not load project file:"));
        EXPECT_TRUE(log.contains(QtWarningMsg, message)) << log.texts(QtWarningMsg).join("|").toStdString();
        const QStringList tree = listTree(raw.path());
        EXPECT_NE(tree.contains("Ground/001/"), tree.contains("New Floor/Ground_001/")) << "the scan went one way";
        EXPECT_TRUE(tree.contains("_Snapshots/"));
    }
}

// Several projects and scans are read at once: each field file costs what it holds, not its
// size limit, so small files read in full with far less memory to spare than those limits.
TEST(FieldFiles, SmallFilesReadInFullWithLittleMemoryToSpare)
{
    RawFolder raw(new CamParamsZTM4, {"Ground_001"});
    writeFile(raw.path("project.json"), R"({"extWallThickness": 254, "nomivoVersion": "3.9"})");
    const HouseDat house = header(8, "Small House", 1).floor("Ground", {"Ground_001"}).int32(0);
    raw.import(house); // whatever the first run of the import sets up is in place before the limit
    QDir(raw.path()).rename("Ground/001", "Ground_001");
    writeFile(raw.path("house.dat"), house.bytes);
    int thickness = 0;
    {
        AddressSpaceHeadroom headroom(40 << 20);
        if (!headroom.active())
            GTEST_SKIP() << "no address-space limit under AddressSanitizer";
        EXPECT_NO_THROW(raw.property->importFromCameraData(thickness));
    }
    EXPECT_EQ(thickness, 254);
    EXPECT_EQ(raw.property->nomivoVersion(), "3.9");
    EXPECT_EQ(raw.property->ownName(), "Small House");
    EXPECT_TRUE(QFileInfo(raw.path("Ground/001")).isDir());
}

TEST(CompareFolderNames, LowerCaseBeforeCapitalPrefixesFirstAndBytesUnsigned)
{
    // "é" is 0xC3 0xA9 in UTF-8: as signed bytes it would come before every ASCII letter.
    const QString etage = QString::fromUtf8("\xc3\xa9tage"), sz = QString::fromUtf8("\xc3\x9f");
    QStringList names{"b", "A", "a", "B", "ab", "aB", "Ab", "a", "scan1", "scan", "s9", "s10", "_Map", etage, sz, "~"};
    std::sort(names.begin(), names.end(), compareFolderNames);
    EXPECT_EQ(names, (QStringList{"_Map", "a", "a", "ab", "aB", "A", "Ab", "b", "B", "s10", "s9", "scan", "scan1", "~",
                                  sz, etage}));
    for (qsizetype i = 0; i + 1 < names.size(); ++i)
        EXPECT_FALSE(compareFolderNames(names[i + 1], names[i])) << "a strict order: " << names[i].toStdString();
    EXPECT_FALSE(compareFolderNames("scan", "scan"));
}

TEST(RawImportOrderKeys, FloorIndexFromSortedFloorsScanIndexFromSortedScansUpTo9999)
{
    QTemporaryDir root;
    QDir dir(root.path());
    for (const char* path : {"b/s2", "b/s1", "A/s2", "A/s1", "A/s1/inner", "other/x", "zz/first", "z"})
        ASSERT_TRUE(dir.mkpath(path));
    for (int i = 0; i < 10001; ++i) // one more scan than a floor's keys can number
        ASSERT_TRUE(dir.mkdir(QStringLiteral("z/s%1").arg(i, 5, 10, QLatin1Char('0'))));
    const OrderKeys keys = rawImportOrderKeys(root.path(), {"b", "A", "zz", "z"});
    EXPECT_EQ(keys.value({"A", "s1"}), 1);
    EXPECT_EQ(keys.value({"b", "s2"}), 10002);
    EXPECT_EQ(keys.value({"z", "s09999"}), 30000);
    EXPECT_FALSE(keys.contains({"z", "s10000"})) << "the 10001st scan gets no key";
    EXPECT_EQ(keys.value({"zz", "first"}), 30001);
    EXPECT_EQ(keys.size(), 4 + 10000 + 1) << "only the new floors' own scan folders";
    QList<int> values = keys.values();
    std::sort(values.begin(), values.end());
    EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end()) << "no key is given twice";
}
