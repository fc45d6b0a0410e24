#include "project/property.h"

#include "app/units.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "editor/note.h"
#include "editor/reference_line.h"
#include "pano/panorama.h"
#include "project/cipher.h"
#include "project/secure_wipe.h"

#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

// Indented text, so that a failure shows where two objects differ.
std::string text(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString();
}

QStringList keysOf(const QJsonObject& object)
{
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}

// A property with every property-level field away from its default, and no buildings.
void fillFields(Property& property)
{
    property.setName(QString::fromUtf8("Elm Street 5 \u2013 \u00dcnit 3"));
    property.setGlobalId("gid-42");
    property.setNomivoVersion("2.3.4");
    property.setComments("first line\nsecond \"quoted\" line");
    property.setPortalData(QJsonObject{{"tour", "t-9"}, {"shown", true}});
    property.setCam360(QJsonObject{{"model", "X"}, {"angles", QJsonArray{1, 2.5}}});
    property.setCameraSerialNumber("MX0815");
    property.updateShutterCounter(1234);
    property.setLensCalibrated(true);
    property.setAlignmentLocked(true);
    property.setMainBuildingId(7);
    property.systemCfgIndex("system.cfg");
    property.systemCfgIndex("system-2.cfg");
    property.nextId("pano");
    property.nextId("pano");
    property.nextId("floor");
}

// Two buildings, one of them main, with floors, placed scans with tags, notes, a reference line, a
// "Pictures" floor and an initial scan. No id has been asked for yet: the save issues them all.
void furnish(ProjectFixture& fixture)
{
    Property& property = *fixture.property;
    fillFields(property);
    Building* house = fixture.addBuilding("House");
    Building* garage = fixture.addBuilding("Garage");
    Floor* ground = fixture.addFloor(house, "Ground");
    Floor* upper = fixture.addFloor(house, "1st Floor");
    Floor* pictures = fixture.addFloor(garage, "Pictures");
    pictures->setShown(false); // named after it was made shown
    fixture.addFloor(garage, "Garage floor");

    Panorama* entrance = fixture.addUserScan(ground, "001");
    entrance->setPanoType(PanoType::Full);
    entrance->setPos(1200, -340);
    entrance->setRotation(30);
    entrance->setAlignment(0);
    Tag tag;
    tag.u = tag.originalU = 0.25;
    tag.v = tag.originalV = 0.5;
    tag.d = 1800;
    tag.title = "Boiler";
    entrance->appendTag(tag);
    Panorama* landing = fixture.addUserScan(upper, "002");
    landing->setPanoType(PanoType::Full);
    landing->setPos(-50, 75);
    fixture.addUserScan(pictures, "p1")->setPanoType(PanoType::User);
    auto* note = new Note(QPointF(10, 20), "Kitchen");
    ground->addItem(note);
    ReferenceLine::create(upper, {0, 0}, {400, 0});

    garage->setAsMainBuilding();
    property.setInitialPano(landing);
    landing->setInitAngle(15);
}

// The largest id of each type word among the records the file holds.
void collectIds(const QJsonValue& value, const QString& typeWord, QMap<QString, int>& largest)
{
    const auto note = [&](const QString& type, const QJsonValue& id) {
        largest[type] = std::max(largest.value(type), id.toInt());
    };
    if (value.isArray()) {
        for (const QJsonValue& element : value.toArray())
            collectIds(element, typeWord, largest);
        return;
    }
    if (!value.isObject())
        return;
    const QJsonObject object = value.toObject();
    if (!typeWord.isEmpty() && object.contains("id"))
        note(typeWord, object["id"]);
    collectIds(object["buildings"], "building", largest);
    collectIds(object["floors"], "floor", largest);
    const QJsonObject layout = object["layout"].toObject();
    collectIds(layout["panos"], "pano", largest);
    collectIds(layout["notes"], "note", largest);
    collectIds(layout["tags"], "tag", largest);
}

} // namespace

// ---- Writing ----------------------------------------------------------------------------------

TEST(ProjectObject, HoldsEveryKeyWithItsValue)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    fillFields(property);
    QJsonObject json = property.toJson(false);
    const QStringList platform = json.take("quorilPlatform").toString().split(';');
    EXPECT_EQ(platform, (QStringList{QSysInfo::buildCpuArchitecture(), QSysInfo::currentCpuArchitecture(),
                                     QSysInfo::prettyProductName()}));
    const QJsonObject expected{
        {"portalData", property.portalData()},
        {"cam360", property.cam360()},
        {"name", property.name()},
        {"globalId", "gid-42"},
        {"quorilVersion", "6.15.1"},
        {"nomivoVersion", "2.3.4"},
        {"formatVersion", 52},
        {"alignmentBad", false}, // no buildings: alignment state 0
        {"comments", QJsonObject{{"newPost", "first line\nsecond \"quoted\" line"}}},
        {"initPanoId", 0},
        {"initPanoAngle", 0},
        {"mainBuildingId", 7},
        {"buildings", QJsonArray{}},
        {"cameraSerialNumber", "MX0815"},
        {"shutterCounter", 1234},
        {"lensCalibrated", true},
        {"lastIds", QJsonObject{{"floor", 1}, {"pano", 2}}},
        {"alignmentLocked", true},
        {"systemcfgs", QJsonArray{"system.cfg", "system-2.cfg"}},
    };
    EXPECT_EQ(text(json), text(expected));
}

TEST(ProjectObject, OptionalKeysFollowTheirState)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    QJsonObject json = property.toJson(false);
    EXPECT_FALSE(json.contains("cam360"));
    EXPECT_FALSE(json.contains("alignmentLocked"));
    EXPECT_EQ(json["portalData"], QJsonValue(QJsonObject())) << "written even when empty";

    // "alignmentBad" follows the joint alignment of the scans: unknown (-1) leaves it out.
    Floor* floor = fixture.addFloor(fixture.addBuilding("House"), "Ground");
    Panorama* first = fixture.addUserScan(floor, "s1");
    Panorama* second = fixture.addUserScan(floor, "s2");
    ASSERT_TRUE(first && second);
    first->setAlignment(0);
    second->setAlignment(-1);
    EXPECT_FALSE(property.toJson(false).contains("alignmentBad"));
    second->setAlignment(1);
    EXPECT_EQ(property.toJson(false)["alignmentBad"], QJsonValue(true));
    second->setAlignment(0);
    EXPECT_EQ(property.toJson(false)["alignmentBad"], QJsonValue(false));
}

TEST(ProjectObject, ReaderTakesDefaultsForMissingOrMistypedKeys)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    property.setName("before");
    property.reset(false);
    const QString loaded = fixture.path("Maple Road 12");
    property.readProjectObject(QJsonObject{}, loaded);
    EXPECT_EQ(property.name(), "Maple Road 12");
    EXPECT_EQ(property.folder(), loaded);
    EXPECT_EQ(property.mainBuildingId(), 0) << "a missing main building id reads as 0, not -1";
    EXPECT_TRUE(property.portalData().isEmpty());
    EXPECT_TRUE(property.cam360().isEmpty());
    EXPECT_TRUE(property.lastIds().isEmpty());
    EXPECT_TRUE(property.systemcfgs().isEmpty());
    EXPECT_EQ(property.initialPano(), nullptr);
    EXPECT_FALSE(property.alignmentLocked());

    property.reset(false);
    const QJsonObject mistyped{
        {"name", 5},
        {"globalId", QJsonArray{}},
        {"shutterCounter", "12"},
        {"lensCalibrated", 1},
        {"systemcfgs", QJsonArray{"a.cfg", 3, "b.cfg"}},
        {"comments", "not an object"},
        {"lastIds", QJsonObject{{"pano", 7}, {"floor", -3}, {"note", "9"}, {"tag", 2.5}}},
        {"alignmentLocked", "true"},
        {"portalData", QJsonArray{1}},
        {"mainBuildingId", "4"},
        {"buildings", QJsonObject{}},
    };
    property.readProjectObject(mistyped, loaded);
    EXPECT_EQ(property.name(), "Maple Road 12");
    EXPECT_TRUE(property.globalId().isEmpty());
    EXPECT_EQ(property.shutterCounter(), 0);
    EXPECT_FALSE(property.lensCalibrated());
    EXPECT_EQ(property.systemcfgs(), (QStringList{"a.cfg", "", "b.cfg"}));
    EXPECT_TRUE(property.comments().isEmpty());
    EXPECT_EQ(property.lastIds(), (QMap<QString, int>{{"floor", 0}, {"note", 0}, {"pano", 7}, {"tag", 0}}));
    EXPECT_EQ(property.nextId("floor"), 1) << "a negative counter must not lead to id 0";
    EXPECT_FALSE(property.alignmentLocked());
    EXPECT_TRUE(property.portalData().isEmpty());
    EXPECT_EQ(property.mainBuildingId(), 0);
    EXPECT_TRUE(property.buildings().isEmpty());
}

TEST(ProjectObject, InitialScanIsFoundByIdAndTypeWord)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Floor* floor = fixture.addFloor(fixture.addBuilding("House"), "Ground");
    Panorama* scan = fixture.addUserScan(floor, "s1");
    ASSERT_TRUE(scan);
    scan->setUniqueId(5);
    scan->setInitAngle(30);
    auto* note = new TestItem("note");
    floor->addItem(note);
    note->setUniqueId(6);
    auto* sameIdNote = new TestItem("note");
    floor->addItem(sameIdNote);
    sameIdNote->setUniqueId(5);

    property.readProjectObject(QJsonObject{{"initPanoId", 5}}, fixture.path());
    EXPECT_EQ(property.initialPano(), scan);
    EXPECT_EQ(scan->initAngle(), 30) << "no angle in the file leaves the scan's own";

    for (const QJsonValue& id : {QJsonValue(0), QJsonValue(6), QJsonValue(99), QJsonValue("5")}) {
        property.readProjectObject(QJsonObject{{"initPanoId", id}, {"initPanoAngle", 1.0}}, fixture.path());
        EXPECT_EQ(property.initialPano(), nullptr) << QJsonDocument(QJsonObject{{"id", id}}).toJson().constData();
        EXPECT_EQ(scan->initAngle(), 30) << "an angle without an initial scan goes nowhere";
    }
}

TEST(ProjectObject, InitialViewAngleSurvivesEveryRoundTrip)
{
    ProjectFixture fixture;
    Property& property = *fixture.property;
    Floor* floor = fixture.addFloor(fixture.addBuilding("House"), "Ground");
    Panorama* scan = fixture.addUserScan(floor, "s1");
    ASSERT_TRUE(scan);
    scan->setPanoType(PanoType::Full);
    property.setInitialPano(scan);

    // Writes the angle, reads it back, and again. The buildings stay out of what is read: the
    // property keeps its own, where the reader finds the scan.
    const auto roundTrips = [&](int degrees, int rounds) {
        scan->setInitAngle(static_cast<float>(degrees));
        for (int round = 0; round < rounds; ++round) {
            QJsonObject json = property.toJson(false);
            // Stored in radians with the sign flipped.
            EXPECT_NEAR(json["initPanoAngle"].toDouble(), -degrees * M_PI / 180.0, 1e-12) << degrees;
            json.remove("buildings");
            scan->setInitAngle(1000);
            property.readProjectObject(json, fixture.path());
            ASSERT_EQ(property.initialPano(), scan);
            ASSERT_EQ(scan->initAngle(), degrees) << "round " << round;
        }
    };
    for (int degrees = -360; degrees <= 360; ++degrees)
        roundTrips(degrees, 1);
    // Many saves and loads in a row must not drift by a degree.
    for (int degrees : {15, -15, 30, 120, 359})
        roundTrips(degrees, 20);

    // A value that is no angle at all gives 0 rather than an undefined conversion.
    const int id = static_cast<int>(scan->uniqueId());
    for (const QJsonValue& value : {QJsonValue(1e300), QJsonValue(-1e12), QJsonValue("15")}) {
        scan->setInitAngle(45);
        property.readProjectObject(QJsonObject{{"initPanoId", id}, {"initPanoAngle", value}}, fixture.path());
        EXPECT_EQ(scan->initAngle(), 0);
    }
    // Rounded, not cut: 0.2617 rad is 14.994 degrees.
    property.readProjectObject(QJsonObject{{"initPanoId", id}, {"initPanoAngle", -0.2617}}, fixture.path());
    EXPECT_EQ(scan->initAngle(), 15);
}

TEST(ProjectObject, OldOneLensProcessingIsPointedOut)
{
    const QString warning = "Project may have being previously processed with a Quoril version that did not support "
                            "latest Nomivo entirelly.\nRe-import the project or adjust the exterior wall thickness "
                            "and floor grade accordingly.";
    struct Case {
        const char* what;
        bool oneLens;
        const char* quorilVersion;
        const char* nomivoVersion;
        const char* extraFile;
        bool warned;
    };
    const Case cases[] = {
        {"old version, one-lens camera", true, "6.4.9", "", nullptr, true},
        {"6.5.0 itself", true, "6.5.0", "", nullptr, false},
        {"compared as numbers, not text", true, "6.10.0", "", nullptr, false},
        {"no version", true, "", "", nullptr, false},
        {"field application known", true, "6.4.9", "1.0", nullptr, false},
        {"version.txt present", true, "6.4.9", "", "version.txt", false},
        {"wall.txt present", true, "6.4.9", "", "wall.txt", false},
        {"two-lens camera", false, "6.4.9", "", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProjectFixture fixture;
        Property& property = *fixture.property;
        if (c.oneLens)
            property.setCamParams(new CamParamsZTM5);
        else
            property.setCamParams(new CamParamsZTM6);
        if (c.extraFile)
            writeFile(fixture.path(c.extraFile), "1");
        LogCapture log;
        property.readProjectObject(QJsonObject{{"quorilVersion", c.quorilVersion}, {"nomivoVersion", c.nomivoVersion}},
                                   fixture.path());
        EXPECT_EQ(log.texts(QtWarningMsg), c.warned ? QStringList{warning} : QStringList{});
    }
}

// ---- The file, read by tools no one here wrote ----------------------------------------------------

TEST(ProjectFile, OpensslAndPythonReadTheSavedFile)
{
    if (!haveTool("openssl") && qEnvironmentVariable("CI") != QLatin1String("true"))
        GTEST_SKIP() << "openssl is not installed";
    ProjectFixture fixture;
    fillFields(*fixture.property);
    ASSERT_TRUE(fixture.property->save());
    const QByteArray envelope = readFile(fixture.path("quoril.qjs"));
    ASSERT_GT(envelope.size(), 16);

    std::uint8_t key[16];
    buildCipherKey(CipherKind::Data, key);
    const QString keyHex = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(key), 16).toHex());
    secureWipe(key, sizeof key);
    const qsizetype contentSize = envelope.size() - 16;
    const qsizetype whole = contentSize - contentSize % 16;
    const ProcessResult deciphered =
        runProcess("openssl", {"enc", "-d", "-aes-128-cbc", "-nopad", "-K", keyHex, "-iv",
                               QString::fromLatin1(envelope.left(16).toHex())},
                   envelope.mid(16, whole));
    ASSERT_EQ(deciphered.exitCode, 0) << deciphered.err.constData();
    const QByteArray text = deciphered.out + envelope.mid(16 + whole);

    // Counts white space outside strings (compact output has none) and lists the keys.
    const char* program = R"(
import json, sys
text = sys.stdin.buffer.read().decode('utf-8')
project = json.loads(text)
inside = escaped = False
loose = 0
for ch in text:
    if inside:
        if escaped: escaped = False
        elif ch == '\\': escaped = True
        elif ch == '"': inside = False
    elif ch == '"': inside = True
    elif ch in ' \t\r\n': loose += 1
print(loose)
print(type(project['formatVersion']).__name__, project['formatVersion'])
print(','.join(sorted(project)))
print(project['name'])
)";
    const ProcessResult python = runProcess(systemPython(), {"-c", program}, text);
    ASSERT_EQ(python.exitCode, 0) << python.err.constData();
    const QStringList lines = QString::fromUtf8(python.out).split('\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], "0");
    EXPECT_EQ(lines[1], "int 52");
    EXPECT_EQ(lines[2], keysOf(fixture.property->toJson(false)).join(','));
    EXPECT_EQ(lines[3], fixture.property->name());
}

TEST(ProjectFile, WholePropertySavedReadAndSavedAgainIsTheSame)
{
    ProjectFixture fixture;
    furnish(fixture);
    ASSERT_TRUE(fixture.property->save());
    const QJsonObject first = readProjectFile(fixture.path("quoril.qjs"));
    ASSERT_EQ(first["buildings"].toArray().size(), 2);
    fixture.property.reset();

    auto reread = std::make_unique<Property>();
    int calls = 0;
    reread->readProjectObject(first, fixture.path(), [&] {
        ++calls;
        EXPECT_TRUE(reread->buildings().isEmpty()) << "runs before the buildings are read";
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reread->folder(), fixture.path());
    ASSERT_EQ(reread->buildings().size(), 2);
    EXPECT_EQ(reread->buildings()[1]->ownName(), "Garage");
    EXPECT_TRUE(reread->buildings()[1]->isMainBuilding());
    ASSERT_NE(reread->initialPano(), nullptr);
    EXPECT_EQ(reread->initialPano()->dir(), "002");
    EXPECT_EQ(reread->initialPano()->initAngle(), 15);
    ASSERT_TRUE(reread->save());
    EXPECT_EQ(text(readProjectFile(fixture.path("quoril.qjs"))), text(first));
}

TEST(ProjectFile, SavedCountersAreNeverBelowAnIdInTheFile)
{
    ProjectFixture fixture;
    furnish(fixture);
    ASSERT_TRUE(fixture.property->save());
    const QJsonObject saved = readProjectFile(fixture.path("quoril.qjs"));
    QMap<QString, int> largest;
    collectIds(saved, QString(), largest);
    largest["pano"] = std::max(largest.value("pano"), saved["initPanoId"].toInt());
    ASSERT_EQ(largest.keys(), (QStringList{"building", "floor", "note", "pano", "tag"}));
    const QJsonObject counters = saved["lastIds"].toObject();
    for (auto it = largest.cbegin(); it != largest.cend(); ++it) {
        EXPECT_GT(it.value(), 0) << it.key().toStdString();
        EXPECT_GE(counters[it.key()].toInt(), it.value()) << it.key().toStdString();
    }

    // Ids issued after reading the file never repeat one in it.
    Property reread;
    reread.readProjectObject(saved, fixture.path());
    for (auto it = largest.cbegin(); it != largest.cend(); ++it)
        EXPECT_GT(reread.nextId(it.key()), it.value()) << it.key().toStdString();
}

TEST(ProjectFile, ExportFormDiffersOnlyInsideTheBuildings)
{
    ProjectFixture fixture;
    furnish(fixture);
    QJsonObject normal = fixture.property->toJson(false);
    QJsonObject exported = fixture.property->toJson(true);
    const QJsonArray normalBuildings = normal.take("buildings").toArray();
    const QJsonArray exportedBuildings = exported.take("buildings").toArray();
    EXPECT_EQ(text(normal), text(exported));
    ASSERT_EQ(exportedBuildings.size(), 2);
    EXPECT_EQ(normalBuildings[1].toObject()["floors"].toArray().size(), 2);
    const QJsonArray garageFloors = exportedBuildings[1].toObject()["floors"].toArray();
    ASSERT_EQ(garageFloors.size(), 1);
    EXPECT_EQ(garageFloors[0].toObject()["name"].toString(), "Garage floor");
}
