#include "base/cipher.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "model/note.h"
#include "model/panorama.h"
#include "model/reference_line.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/openssl_envelope.h"
#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

// Indented, so that a failure shows where two objects differ.
std::string text(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString();
}

// Every property-level key of the project file with a value away from its default.
QJsonObject allFields()
{
    return {{"portalData", QJsonObject{{"tour", "t-9"}, {"shown", true}}}, {"formatVersion", 52},
            {"cam360", QJsonObject{{"model", "X"}, {"angles", QJsonArray{1, 2.5}}}}, {"quorilVersion", "6.0.0"},
            {"name", QString::fromUtf8("Elm Street 5 \u2013 \u00dcnit 3")}, {"globalId", "gid-42"},
            {"nomivoVersion", "2.3.4"}, {"alignmentBad", false}, {"initPanoId", 0}, {"initPanoAngle", 0},
            {"comments", QJsonObject{{"newPost", "first line\nsecond \"quoted\" line"}}}, {"mainBuildingId", 7},
            {"buildings", QJsonArray{}}, {"cameraSerialNumber", "MX0815"}, {"shutterCounter", 1234},
            {"lensCalibrated", true}, {"lastIds", QJsonObject{{"floor", 1}, {"pano", 2}}}, {"alignmentLocked", true},
            {"systemcfgs", QJsonArray{"system.cfg", "system-2.cfg"}}};
}

// The largest id of each type word among the records a project object holds.
void collectIds(const QJsonValue& value, const QString& type, QMap<QString, int>& largest)
{
    for (const QJsonValue& element : value.toArray())
        collectIds(element, type, largest);
    if (!value.isObject())
        return;
    if (value["id"].isDouble())
        largest[type] = std::max(largest.value(type), value["id"].toInt());
    for (const char* key : {"building", "floor"})
        collectIds(value[key + QString("s")], key, largest);
    for (const char* key : {"pano", "note", "tag"})
        collectIds(value["layout"][key + QString("s")], key, largest);
}

} // namespace

// The reader fills the property from the object, the saved file must give the same object back.
TEST(ProjectFile, OpensslAndPythonReadBackEveryKeyAndValueTheReaderWasGiven)
{
    if (!haveTool("openssl") && qEnvironmentVariable("CI") != QLatin1String("true"))
        GTEST_SKIP() << "openssl is not installed";
    ProjectFixture fixture;
    fixture.property->readProjectObject(allFields(), fixture.path());
    ASSERT_TRUE(fixture.property->save());
    // White space outside strings (compact output has none), the version's type, the object.
    const char* program = R"(
import json, re, sys
text = sys.stdin.buffer.read().decode('utf-8')
print(len(re.findall(r'\s', re.sub(r'"(?:\\.|[^"\\])*"', '', text))))
print(type(json.loads(text)['formatVersion']).__name__)
print(json.dumps(json.loads(text)))
)";
    const ProcessResult python = runProcess(
        systemPython(), {"-c", program}, opensslDecipher(readFile(fixture.path("quoril.qjs")), CipherKind::Data));
    const QStringList lines = outputLines(python);
    ASSERT_EQ(lines.size(), 3) << python.err.constData();
    EXPECT_EQ(lines[0], "0");
    EXPECT_EQ(lines[1], "int");
    QJsonObject json = QJsonDocument::fromJson(lines[2].toUtf8()).object();
    EXPECT_EQ(json.take("quorilPlatform").toString().split(';'),
              (QStringList{QSysInfo::buildCpuArchitecture(), QSysInfo::currentCpuArchitecture(),
                           QSysInfo::prettyProductName()}));
    QJsonObject expected = allFields();
    expected["quorilVersion"] = "6.15.1"; // the version that wrote the file
    EXPECT_EQ(text(json), text(expected));
}

TEST(ProjectFile, WholePropertySavedReadAndSavedAgainIsTheSameAndNoIdRepeats)
{
    ProjectFixture fixture;
    fixture.property->readProjectObject(allFields(), fixture.path());
    Building* house = fixture.addBuilding("House");
    Building* garage = fixture.addBuilding("Garage");
    Floor* ground = fixture.addFloor(house, "Ground");
    Floor* pictures = fixture.addFloor(garage, "Pictures");
    pictures->setShown(false);
    Panorama* entrance = fixture.addUserScan(ground, "001");
    entrance->setPos(1200, -340);
    entrance->setRotation(30);
    Tag tag;
    tag.u = tag.originalU = 0.25;
    tag.title = "Boiler";
    entrance->appendTag(tag);
    Panorama* landing = fixture.addUserScan(fixture.addFloor(house, "1st Floor"), "002");
    landing->setPanoType(PanoType::Full);
    fixture.addUserScan(pictures, "p1");
    ground->addItem(new Note(QPointF(10, 20), "Kitchen"));
    ReferenceLine::create(ground, {0, 0}, {400, 0});
    garage->setAsMainBuilding();
    fixture.property->setInitialPano(landing);
    landing->setInitAngle(15);
    ASSERT_TRUE(fixture.property->save()); // issues every id
    const QJsonObject first = readProjectFile(fixture.path("quoril.qjs"));
    ASSERT_EQ(first["buildings"].toArray().size(), 2);

    Property reread;
    int calls = 0;
    reread.readProjectObject(first, fixture.path(), [&] { calls += reread.buildings().isEmpty() ? 1 : 100; });
    EXPECT_EQ(calls, 1) << "runs once, before the buildings are read";
    ASSERT_TRUE(reread.save());
    EXPECT_EQ(text(readProjectFile(fixture.path("quoril.qjs"))), text(first));

    QMap<QString, int> largest{{"pano", first["initPanoId"].toInt()}};
    collectIds(first, "", largest);
    ASSERT_EQ(largest.keys(), (QStringList{"building", "floor", "note", "pano", "tag"}));
    for (auto it = largest.cbegin(); it != largest.cend(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        EXPECT_GE(first["lastIds"][it.key()].toInt(), it.value()) << "saved counters are never below an id";
        EXPECT_GT(reread.nextId(it.key()), it.value()) << "ids issued after the read never repeat one in it";
    }
}

TEST(ProjectObject, ReaderTakesDefaultsForMissingOrMistypedKeys)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    const QString loaded = fixture.path("Maple Road 12");
    property.readProjectObject(QJsonObject{}, loaded);
    EXPECT_EQ(property.folder(), loaded);
    EXPECT_EQ(property.mainBuildingId(), 0) << "a missing main building id reads as 0, not -1";
    property.reset(false);
    property.readProjectObject(
        QJsonObject{{"name", 5}, {"globalId", QJsonArray{}}, {"shutterCounter", "12"}, {"lensCalibrated", 1},
                    {"systemcfgs", QJsonArray{"a.cfg", 3, "b.cfg"}}, {"comments", "not an object"},
                    {"lastIds", QJsonObject{{"pano", 7}, {"floor", -3}, {"note", "9"}, {"tag", 2.5}}},
                    {"alignmentLocked", "true"}, {"portalData", QJsonArray{1}}, {"mainBuildingId", "4"},
                    {"buildings", QJsonObject{}}},
        loaded);
    EXPECT_EQ(property.name(), "Maple Road 12") << "the folder's name";
    EXPECT_TRUE(property.globalId().isEmpty() && property.comments().isEmpty() && property.portalData().isEmpty());
    EXPECT_EQ(property.shutterCounter(), 0);
    EXPECT_FALSE(property.lensCalibrated() || property.alignmentLocked());
    EXPECT_EQ(property.systemcfgs(), (QStringList{"a.cfg", "", "b.cfg"}));
    EXPECT_EQ(property.lastIds(), (QMap<QString, int>{{"floor", 0}, {"note", 0}, {"pano", 7}, {"tag", 0}}));
    EXPECT_EQ(property.nextId("floor"), 1) << "a negative counter must not lead to id 0";
    EXPECT_EQ(property.mainBuildingId(), 0);
    EXPECT_TRUE(property.buildings().isEmpty());
}

TEST(ProjectObject, InitialScanIsFoundByIdAndItsViewAngleSurvivesEveryRoundTrip)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Floor* floor = fixture.addFloor(fixture.addBuilding("House"), "Ground");
    Panorama* scan = fixture.addUserScan(floor, "s1");
    scan->setPanoType(PanoType::Full);
    scan->setUniqueId(5);
    for (int id : {6, 5}) {
        auto* note = new TestItem("note");
        floor->addItem(note);
        note->setUniqueId(id);
    }
    const QJsonValue none(QJsonValue::Undefined);
    const std::tuple<QJsonValue, QJsonValue, bool, int> reads[] = {
        {5, none, true, 45}, // no angle leaves the scan's own
        {0, 1.0, false, 45}, {6, 1.0, false, 45}, {99, 1.0, false, 45}, {"5", 1.0, false, 45},
        {5, 1e300, true, 0}, {5, -1e12, true, 0}, {5, "15", true, 0}, // no angle at all
        {5, -0.2617, true, 15}, // 14.994 degrees, rounded
    };
    for (const auto& [id, angle, found, degrees] : reads) {
        SCOPED_TRACE(QJsonDocument(QJsonObject{{"id", id}, {"angle", angle}}).toJson().constData());
        scan->setInitAngle(45);
        property.readProjectObject(QJsonObject{{"initPanoId", id}, {"initPanoAngle", angle}}, fixture.path());
        EXPECT_EQ(property.initialPano(), found ? scan : nullptr);
        EXPECT_EQ(scan->initAngle(), degrees);
    }
    // Stored in radians with the sign flipped; many saves and loads must not drift by a degree.
    for (int degrees = -360; degrees <= 360; ++degrees) {
        scan->setInitAngle(static_cast<float>(degrees));
        for (int round = 0; round < (degrees == 15 ? 20 : 1); ++round) {
            QJsonObject json = property.toJson(false);
            ASSERT_NEAR(json["initPanoAngle"].toDouble(), -degrees * M_PI / 180.0, 1e-12) << degrees;
            json.remove("buildings"); // the reader finds the scan among the property's own
            scan->setInitAngle(1000);
            property.readProjectObject(json, fixture.path());
            ASSERT_EQ(scan->initAngle(), degrees) << "round " << round;
        }
    }
}

TEST(ProjectObject, OldOneLensProcessingIsPointedOut)
{
    const QString warning = "Project may have being previously processed with a Quoril version that did not support "
                            "latest Nomivo entirelly.\nRe-import the project or adjust the exterior wall thickness "
                            "and floor grade accordingly.";
    // one-lens camera, quorilVersion, nomivoVersion, a file of the folder, warned
    const std::tuple<bool, const char*, const char*, const char*, bool> cases[] = {
        {true, "6.4.9", "", nullptr, true},         {true, "6.5.0", "", nullptr, false},
        {true, "6.10.0", "", nullptr, false},       {true, "", "", nullptr, false},
        {true, "6.4.9", "1.0", nullptr, false},     {true, "6.4.9", "", "version.txt", false},
        {true, "6.4.9", "", "wall.txt", false},     {false, "6.4.9", "", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c));
        const auto& [oneLens, quorilVersion, nomivoVersion, file, warned] = c;
        ProjectFixture fixture;
        fixture.property->setCamParams(oneLens ? static_cast<CamParams*>(new CamParamsZTM5) : new CamParamsZTM6);
        if (file)
            writeFile(fixture.path(file), "1");
        LogCapture log;
        fixture.property->readProjectObject(
            QJsonObject{{"quorilVersion", quorilVersion}, {"nomivoVersion", nomivoVersion}}, fixture.path());
        EXPECT_EQ(log.texts(QtWarningMsg), warned ? QStringList{warning} : QStringList{});
    }
}

namespace {
// Replaces the value at a path of keys and array indexes inside a JSON object.
QJsonValue replaced(const QJsonValue& at, QStringList path, const QJsonValue& value)
{
    if (path.isEmpty())
        return value;
    const QString step = path.takeFirst();
    bool isIndex = false;
    const int index = step.toInt(&isIndex);
    if (isIndex) {
        QJsonArray array = at.toArray();
        array[index] = replaced(array[index], path, value);
        return array;
    }
    QJsonObject object = at.toObject();
    object[step] = replaced(object[step], path, value);
    return object;
}

void writePanoDatId(const QString& scanFolder, double id)
{
    QByteArray record = QJsonDocument(QJsonObject{{"id", id}, {"type", "user"}}).toJson(QJsonDocument::Compact);
    encipherBytes(record, CipherKind::Data);
    writeFile(scanFolder + "/pano.dat", record);
}
} // namespace

// The id range ends at the largest int: an id there is read, one beyond it is no id (the object
// gets a fresh one), and a counter that reached the end issues the lowest free ids, never one
// beyond the range nor one already in use.
TEST(ProjectIds, IdsAreHeldToOneRangeWhereverTheyAreReadAndIssued)
{
    ProjectFixture fixture;
    Floor* ground = fixture.addFloor(fixture.addBuilding("House"), "Ground");
    fixture.addUserScan(ground, "last");
    fixture.addUserScan(ground, "beyond");
    ground->addItem(new Note(QPointF(1, 2), "n"));
    QJsonValue project = fixture.property->toJson(false);
    const QStringList layout{"buildings", "0", "floors", "0", "layout"};
    project = replaced(project, layout + QStringList{"panos", "0", "id"}, 2147483647.0);
    project = replaced(project, layout + QStringList{"panos", "1", "id"}, 2147483648.0);
    project = replaced(project, layout + QStringList{"notes", "0", "id"}, 4294967296.0);
    project = replaced(project, {"lastIds", "note"}, 3e9);
    project = replaced(project, {"initPanoId"}, 2147483647.0);
    writePanoDatId(fixture.makeUserScanFolder(ground, "unlisted"), 2147483646.0);
    writePanoDatId(ground->folderPath() + "/beyond", 3e9);

    Property reread;
    reread.readProjectObject(project.toObject(), fixture.path());
    ASSERT_EQ(reread.buildings().size(), 1);
    const QList<Panorama*> scans = reread.buildings()[0]->floors()[0]->panos();
    ASSERT_EQ(scans.size(), 3);
    EXPECT_EQ(scans[0]->uniqueId(), 2147483647u);
    EXPECT_EQ(reread.initialPano(), scans[0]);
    EXPECT_EQ(scans[2]->uniqueId(), 2147483646u) << "an id from pano.dat is registered like any other";
    EXPECT_EQ(scans[1]->storedId(), 0u) << "neither of its ids fits the range";
    EXPECT_EQ(reread.lastIds().value("note"), 2147483647) << "a counter beyond the range stops at its end";

    QSet<uint32_t> issued{2147483647u, 2147483646u};
    issued << scans[1]->uniqueId();
    for (int i = 0; i < 5; ++i)
        issued << uint32_t(reread.nextId("pano"));
    // 1 is taken too: the first scan's own "pano.dat" holds it.
    EXPECT_EQ(issued, (QSet<uint32_t>{2, 3, 4, 5, 6, 7, 2147483646u, 2147483647u}));
    EXPECT_EQ(reread.lastIds().value("pano"), 2147483647);
}
