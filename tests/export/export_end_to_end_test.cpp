#include "base/cipher.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/note.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/reference_line.h"
#include "support/archive_check.h"
#include "support/log_capture.h"
#include "support/openssl_envelope.h"
#include "support/plan_expectations.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

const QString kProjectName = "Maple Street";
const QString kPrefix = kProjectName + "/";

Tag tagTitled(const QString& title, double u, double v, double d)
{
    Tag tag;
    tag.u = tag.originalU = u;
    tag.v = tag.originalV = v;
    tag.d = d;
    tag.title = title;
    tag.content = "**" + title + "**";
    return tag;
}

QList<Floor*> floorsOf(Property& property)
{
    QList<Floor*> floors;
    for (Building* building : property.buildings())
        floors += building->floors();
    return floors;
}

Panorama* scanIn(Property& property, const QString& floorName, const QString& dir)
{
    for (Floor* floor : floorsOf(property))
        for (Panorama* pano : floor->panos())
            if (floor->ownName() == floorName && pano->dir() == dir)
                return pano;
    return nullptr;
}

// The archive's entries in their order, and the source of each copied one, written out from the
// tree independently of the export.
struct ExpectedArchive {
    QStringList names;
    QMap<QString, QString> sources;
};

ExpectedArchive expectedArchive(Property& property)
{
    ExpectedArchive expected;
    const auto add = [&](const QString& name, const QString& source = {}) {
        expected.names << name;
        if (!source.isEmpty())
            expected.sources[name] = source;
    };
    const QString folder = property.folder() + "/";
    add(kPrefix + "quoril_exp.qjs");
    for (const char* file : {"system.cfg", "quorillog.txt", "nomivolog.txt"})
        if (QFileInfo::exists(folder + file))
            add(kPrefix + "/" + file, folder + file);
    QSet<QString> assetNames;
    for (Floor* floor : floorsOf(property)) {
        if (floor->ownName().startsWith("Pictures"))
            continue;
        const QString base = kPrefix + "floor" + QString::number(floor->uniqueId());
        add(base + ".qsv");
        add(base + ".qdx");
        for (Panorama* pano : floor->panos()) {
            const QString scan = kPrefix + pano->exportLabel() + "/";
            const QString source = pano->folder() + "/";
            if (pano->panoType() != PanoType::Map) { // none is a full scan made from a picture
                add(scan + "pc.dat");
                add(scan + "t.pic", source + "t.pic");
                add(scan + "s.pic", source + "s.pic");
            }
            for (const QString& asset : QDir(source + "assets").entryList(QDir::Files, QDir::Unsorted))
                if (!assetNames.contains(asset)) {
                    assetNames.insert(asset);
                    add(kPrefix + "/_Assets/" + asset, source + "assets/" + asset);
                }
        }
    }
    return expected;
}

// Numbers to a millionth: tags' scene positions may differ in their last bits after the scan's
// rotation went through the file in radians.
QJsonValue roundedNumbers(const QJsonValue& value)
{
    if (value.isDouble())
        return std::round(value.toDouble() * 1e6) / 1e6;
    QJsonArray array = value.toArray();
    for (auto item : array)
        item = roundedNumbers(item);
    QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        it.value() = roundedNumbers(it.value());
    return value.isArray() ? QJsonValue(array) : value.isObject() ? QJsonValue(object) : value;
}

// The portal's view of the tree: what must come back from the archive.
std::string tourOf(Property& property)
{
    const QJsonObject json = property.toJson(true);
    const QJsonObject tour{{"buildings", json["buildings"]}, {"initPanoId", json["initPanoId"]},
                           {"mainBuildingId", json["mainBuildingId"]}};
    return QJsonDocument(roundedNumbers(tour).toObject()).toJson().toStdString();
}

} // namespace

// Tools no one here wrote read every part of the archive of a generated project.
TEST(ExportEndToEnd, GeneratedProjectExportsAndOpensAgainAsTheSameTree)
{
    QTemporaryDir root;
    const QString folder = root.filePath(kProjectName);
    makeProject(folder, {"--floors", "2", "--scans-per-floor", "2", "--user-scans", "1", "--lens-height", "200",
                         "--no-missing-main-image"});
    QByteArray mapRecord = R"({"type":"map"})";
    encipherBytes(mapRecord, CipherKind::Data);
    writeFile(folder + "/Ground/002/pano.dat", mapRecord);
    writeFile(folder + "/Ground/001/assets/plan.pdf", "%PDF-1.4 ground floor plan");
    writeFile(folder + "/Ground/002/assets/meter.jpg", pseudoRandomBytes(5000, 3));
    writeFile(folder + "/1st Floor/001/assets/plan.pdf", "%PDF-1.4 first floor plan, same name");

    ScriptedPrompt prompt; // the load asks nothing of this project
    LogCapture log;
    Property property;
    ASSERT_TRUE(property.load(folder)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    Panorama* groundScan = scanIn(property, "Ground", "001");
    Panorama* map = scanIn(property, "Ground", "002");
    Panorama* firstFloorUser = scanIn(property, "1st Floor", "User Pano_1st Floor 1");
    ASSERT_TRUE(groundScan && map && firstFloorUser);
    ASSERT_EQ(map->panoType(), PanoType::Map);
    Floor* ground = groundScan->floor();
    ground->addItem(new Note(QPointF(300, -120), "Kitchen"));
    ground->addItem(new Note(QPointF(-900, 450.5), "Stairs"));
    ReferenceLine::create(ground, {0, 0}, {1500, 0});
    groundScan->appendTag(tagTitled("Boiler", 0.1, 0.55, 2300));
    groundScan->appendTag(tagTitled("Fuse box", 0.6, 0.4, 1800));
    firstFloorUser->appendTag(tagTitled("Window", 0.3, 0.5, 3000));
    property.setInitialPano(firstFloorUser);
    // What the user settles before an export: grades, and user scans placed away from the others.
    for (Floor* floor : floorsOf(property)) {
        if (floor->gradeHint() == 0)
            floor->setGradeHint(2);
        for (Panorama* pano : floor->panos())
            if (pano->panoType() == PanoType::User)
                pano->setPos(2500, 2000);
    }
    ASSERT_TRUE(property.save());

    QStringList messages;
    for (const DrcFinding& finding : property.checkExport()) {
        EXPECT_NE(finding.code, 0) << finding.message.toStdString();
        messages << finding.message;
    }
    EXPECT_TRUE(messages.contains("Duplicated asset found in \"" + folder
                                  + "/1st Floor/001/assets/plan.pdf\". Only one occurrence will be exported."))
        << messages.join("\n").toStdString();

    QString html;
    ASSERT_TRUE(property.exportTar(html)) << log.texts(QtCriticalMsg).join("\n").toStdString();
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty());
    const QString archive = folder + "/_Export/" + kProjectName + ".quoril.tar";
    EXPECT_EQ(listTree(folder + "/_Export"), QStringList{kProjectName + ".quoril.tar"});

    const ExpectedArchive expected = expectedArchive(property);
    const ArchiveListing python = pythonTarListing(archive);
    ASSERT_TRUE(python.failure.isEmpty()) << python.failure.toStdString();
    EXPECT_EQ(python.names(), expected.names);
    const ArchiveListing gnu = gnuTarListing(archive);
    ASSERT_TRUE(gnu.failure.isEmpty()) << gnu.failure.toStdString();
    EXPECT_EQ(gnu.names(), expected.names);
    EXPECT_TRUE(expected.names.contains(kPrefix + "/_Assets/meter.jpg")) << "map scans carry their assets";
    int copies = 0;
    for (const ArchiveMember& member : python.members)
        if (expected.sources.contains(member.name)) {
            ++copies;
            EXPECT_EQ(member.sha1, sha1sumOf(expected.sources[member.name])) << member.name.toStdString();
        }
    EXPECT_EQ(copies, expected.sources.size());

    QTemporaryDir unpacked;
    ASSERT_EQ(runProcess("tar", {"-xf", archive, "-C", unpacked.path()}).exitCode, 0);
    const QString inside = unpacked.filePath(kProjectName) + "/";
    const QJsonObject exported =
        QJsonDocument::fromJson(opensslDecipher(readFile(inside + "quoril_exp.qjs"), CipherKind::Data)).object();
    EXPECT_EQ(exported, property.toJson(true));
    for (const QJsonValue& building : exported["buildings"].toArray())
        for (const QJsonValue& floor : building.toObject()["floors"].toArray()) {
            EXPECT_FALSE(floor.toObject()["name"].toString().startsWith("Pictures"));
            EXPECT_FALSE(floor.toObject().contains("dir"));
            EXPECT_FALSE(floor.toObject()["layout"].toObject().contains("referenceLines"));
        }

    int plans = 0;
    for (Floor* floor : floorsOf(property)) {
        if (floor->isPicturesFloor())
            continue;
        ++plans;
        SCOPED_TRACE(floor->ownName().toStdString());
        const QString base = inside + "floor" + QString::number(floor->uniqueId());
        writeFile(base + ".dxf", opensslDecipher(readFile(base + ".qdx"), CipherKind::DxfPlan));
        writeFile(base + ".svg", opensslDecipher(readFile(base + ".qsv"), CipherKind::SvgPlan));
        QList<Panorama*> shown;
        for (Panorama* pano : floor->panos())
            if (pano->panoType() != PanoType::Map)
                shown << pano;
        expectPlansShowScans(base + ".dxf", base + ".svg", shown);
    }
    EXPECT_EQ(plans, 2);

    int panos = 0;
    for (const QString& name : expected.names) {
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
    EXPECT_EQ(panos, 5);

    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(kProjectName + ".quoril.tar");
    ASSERT_TRUE(QFile::copy(archive, copy));
    Property reopened;
    ASSERT_TRUE(reopened.load(copy)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    EXPECT_EQ(reopened.folder(), elsewhere.filePath(kProjectName));
    EXPECT_EQ(tourOf(reopened), tourOf(property));
}

namespace {

// The sample writer as scripts/sample-project runs it, after that script's scripts/deps has made
// sure of its modules: with Debian's python3, the options given and --exportable. The tests never
// run the package manager.
ProcessResult writeSample(const QString& python, const QStringList& options)
{
    return runProcess(python, QStringList{QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/make_project.py")} + options
                                  + QStringList{"--exportable"},
                      {}, 600000);
}

// Loads a sample as written, without a question, checks that nothing blocks its export and
// exports it; the archive's names as Python's tarfile lists them.
QStringList exportAsWritten(const QString& folder)
{
    ScriptedPrompt prompt; // nothing is asked
    LogCapture log;
    Property property;
    if (!property.load(folder) || !runPostedJobs()) {
        ADD_FAILURE() << log.texts(QtWarningMsg).join("\n").toStdString();
        return {};
    }
    QStringList blocking;
    for (const DrcFinding& finding : property.checkExport())
        if (finding.code == 0)
            blocking << finding.message;
    EXPECT_EQ(blocking, QStringList());
    QString html;
    if (!property.exportTar(html)) {
        ADD_FAILURE() << log.texts(QtCriticalMsg).join("\n").toStdString();
        return {};
    }
    const ArchiveListing listing = pythonTarListing(folder + "/_Export/" + QFileInfo(folder).fileName() + ".quoril.tar");
    EXPECT_TRUE(listing.failure.isEmpty()) << listing.failure.toStdString();
    return listing.names();
}

} // namespace

// The sample project the README offers opens and exports as written, without any editing; its
// writer lists its options.
TEST(ExportEndToEnd, TheReadmeSampleProjectExportsAsWritten)
{
    const ProcessResult help = writeSample(systemPython(), {"--help"});
    ASSERT_EQ(help.exitCode, 0) << help.err.toStdString();
    for (const char* option : {"--floors", "--scans-per-floor", "--user-scans", "--realistic", "--lens-height", "lidar"})
        EXPECT_TRUE(help.out.contains(option)) << option;

    QTemporaryDir root;
    const QString folder = root.filePath("Sample");
    const ProcessResult made = writeSample(systemPython(), {folder, "--lens-height", "64"});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_EQ(exportAsWritten(folder).filter("/s.pic").size(), 3 * 3 - 1 + 3) << "every scan but the one without its image";
}

// So does the sample of the one-lens lidar camera: one floor whose scans hold their first shot
// as its exposures.
TEST(ExportEndToEnd, TheReadmeLidarSampleProjectExportsAsWritten)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Lidar sample");
    const ProcessResult made = writeSample(systemPython(), {folder, "--camera", "lidar", "--lens-height", "96"});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder + "/Ground/001/p0.jpg")) << "the first shot as its exposures";
    EXPECT_EQ(exportAsWritten(folder).filter("/s.pic").size(), 3);
    EXPECT_EQ(writeSample(systemPython(), {root.filePath("Two floors"), "--camera", "lidar", "--floors", "2"}).exitCode, 2)
        << "the lidar sample has one floor";
}

// Started by another python3 that lacks their modules (here Debian's own without its site
// packages), the writers run all the same, under the interpreter that has them.
TEST(ExportEndToEnd, SampleWritersStartedByAnotherPythonRunUnderTheOneWithTheirModules)
{
    const QStringList bare{"-S"};
    ASSERT_NE(runProcess(systemPython(), bare + QStringList{"-c", "import numpy"}).exitCode, 0)
        << "without its site packages the interpreter has no numpy";
    QTemporaryDir root;
    const QString support = QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/");
    const QList<QStringList> writers{
        {support + "make_project.py", root.filePath("two-lens"), "--floors", "1", "--lens-height", "32"},
        {support + "make_project.py", root.filePath("laser-line"), "--camera", "laser-line", "--floors", "1",
         "--scans-per-floor", "1", "--lens-height", "32"},
        {support + "make_ztm5_project.py", root.filePath("lidar"), "--scans", "1"},
        {support + "make_system_cfg.py", root.filePath("system.cfg"), "--model", "ztm5"}};
    for (const QStringList& writer : writers) {
        SCOPED_TRACE(writer.join(' ').toStdString());
        const ProcessResult result = runProcess(systemPython(), bare + writer, {}, 600000);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(QFileInfo::exists(writer[1]));
    }
}

// A laser-line camera's raw folder goes the same road: loaded, its panos built and exported as
// written, and read by the same outside tools.
TEST(ExportEndToEnd, LaserLineProjectExportsLikeATwoLensOne)
{
    QTemporaryDir root;
    const QString folder = root.filePath(kProjectName);
    makeProject(folder, {"--camera", "laser-line", "--floors", "2", "--scans-per-floor", "2", "--user-scans", "1",
                         "--lens-height", "96"});
    ScriptedPrompt prompt;
    LogCapture log;
    Property property;
    ASSERT_TRUE(property.load(folder)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    Panorama* groundScan = scanIn(property, "Ground", "001");
    ASSERT_TRUE(groundScan);
    ASSERT_FALSE(groundScan->outline().isEmpty());
    groundScan->appendTag(tagTitled("Meter", 0.2, 0.45, 2100));
    property.setInitialPano(groundScan);
    ASSERT_TRUE(property.save());
    for (const DrcFinding& finding : property.checkExport())
        EXPECT_NE(finding.code, 0) << finding.message.toStdString();

    QString html;
    ASSERT_TRUE(property.exportTar(html)) << log.texts(QtCriticalMsg).join("\n").toStdString();
    const QString archive = folder + "/_Export/" + kProjectName + ".quoril.tar";
    const ExpectedArchive expected = expectedArchive(property);
    EXPECT_TRUE(expected.names.contains(kPrefix + "/system.cfg"));
    const ArchiveListing python = pythonTarListing(archive);
    ASSERT_TRUE(python.failure.isEmpty()) << python.failure.toStdString();
    EXPECT_EQ(python.names(), expected.names);
    const ArchiveListing gnu = gnuTarListing(archive);
    ASSERT_TRUE(gnu.failure.isEmpty()) << gnu.failure.toStdString();
    EXPECT_EQ(gnu.names(), expected.names);
    int copies = 0;
    for (const ArchiveMember& member : python.members) {
        if (!expected.sources.contains(member.name))
            continue;
        ++copies;
        EXPECT_EQ(member.sha1, sha1sumOf(expected.sources[member.name])) << member.name.toStdString();
    }
    EXPECT_EQ(copies, expected.sources.size());

    QTemporaryDir unpacked;
    ASSERT_EQ(runProcess("tar", {"-xf", archive, "-C", unpacked.path()}).exitCode, 0);
    const QString inside = unpacked.filePath(kProjectName) + "/";
    int plans = 0;
    for (Floor* floor : floorsOf(property)) {
        ++plans;
        SCOPED_TRACE(floor->ownName().toStdString());
        const QString base = inside + "floor" + QString::number(floor->uniqueId());
        writeFile(base + ".dxf", opensslDecipher(readFile(base + ".qdx"), CipherKind::DxfPlan));
        writeFile(base + ".svg", opensslDecipher(readFile(base + ".qsv"), CipherKind::SvgPlan));
        expectPlansShowScans(base + ".dxf", base + ".svg", floor->panos());
    }
    EXPECT_EQ(plans, 2);

    int panos = 0;
    for (const QString& name : expected.names) {
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
    EXPECT_EQ(panos, 6);

    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(kProjectName + ".quoril.tar");
    ASSERT_TRUE(QFile::copy(archive, copy));
    Property reopened;
    ASSERT_TRUE(reopened.load(copy)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    EXPECT_EQ(tourOf(reopened), tourOf(property));
}
