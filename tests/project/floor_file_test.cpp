#include "app/units.h"
#include "editor/note.h"
#include "editor/reference_line.h"
#include "pano/panorama.h"
#include "project/floor_reader.h"
#include "project/tag_entry.h"
#include "support/json_compare.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"
#include "support/ztm6_model.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QJsonArray>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

struct FloorFileFixture : ProjectFixture {
    Building* building = addBuilding("House");
    Floor* floor = addFloor(building, "Ground");
};

Tag makeTag(double u, double v, double d, const QString& title)
{
    Tag tag;
    tag.u = tag.originalU = u;
    tag.v = tag.originalV = v;
    tag.d = d;
    tag.title = title;
    tag.color = "#ff0000";
    tag.content = "Serviced **2021**";
    tag.globalId = "tag-" + title;
    return tag;
}

Note* addNote(Floor* floor, const QPointF& pos, const QString& text, double degrees = 0)
{
    auto* note = new Note(pos, text);
    note->setRotation(degrees);
    floor->addItem(note);
    return note;
}

// The floor's notes by text (a scene lists its items in no fixed order).
QMap<QString, Note*> notesOf(const Floor* floor)
{
    QMap<QString, Note*> notes;
    for (QGraphicsItem* item : floor->items())
        if (auto* note = dynamic_cast<Note*>(item))
            notes.insert(note->text(), note);
    return notes;
}

QStringList scanDirs(const Floor* floor)
{
    QStringList dirs;
    for (const Panorama* pano : floor->panos())
        dirs << pano->dir();
    return dirs;
}

// Two scans (one with compass data), two notes, a reference line and a tag on each scan.
void furnish(ProjectFixture& f, Floor* floor)
{
    Panorama* a = f.addUserScan(floor, "001");
    a->setPos(1000.25, 500);
    a->setRotation(30);
    a->setCompass(12.5f);
    a->setAlignment(0);
    Panorama* b = f.addUserScan(floor, "002");
    b->setPos(-200, 300.75);
    b->setAlignment(0);
    addNote(floor, {120.5, -40}, "Kitchen", 15);
    addNote(floor, {-700, 900}, "Stairs");
    ReferenceLine::create(floor, {0, 0}, {500.5, 250});
    ReferenceLine::create(floor, {0, 0}, {-80, 40});
    ReferenceLine::create(floor, {-900, 12}, {0, 0});
    a->appendTag(makeTag(0.1, 0.3, 2500.5, "Boiler"));
    b->appendTag(makeTag(0.8, 0.6, 900, "Window"));
    floor->setCeilingHeight(2600);
    floor->setActualExtWallThickness(300);
    floor->setGradeHint(1);
    floor->setGlobalId("floor-g1");
}

// A property of its own on the same project folder, as a later session would open it.
struct FreshProperty {
    Property property;
    Building* building;
    explicit FreshProperty(const QString& folder)
    {
        property.setFolder(folder);
        building = new Building(&property);
        building->setName("House");
    }
};

bool nearFraction(double a, double b)
{
    const double difference = std::fabs(a - b);
    return std::min(difference, 1 - difference) < 1e-6;
}

} // namespace

TEST(FloorFile, SavedFloorReadsBackIntoAFreshPropertyAsTheSameObject)
{
    FloorFileFixture f;
    furnish(f, f.floor);
    const QJsonObject saved = f.floor->toJson(false);

    FreshProperty fresh(f.path());
    Floor* loaded = readFloorObject(saved, fresh.building);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(jsonNear(saved, loaded->toJson(false)));
    EXPECT_EQ(scanDirs(loaded), (QStringList{"001", "002"}));
    EXPECT_EQ(loaded->panos()[0]->tags().size(), 1);
    EXPECT_EQ(loaded->panos()[0]->tags()[0].title, "Boiler");
    EXPECT_EQ(notesOf(loaded).size(), 2);
    EXPECT_EQ(loaded->ceilingHeight(), 2600);
    EXPECT_EQ(loaded->extWallThickness(true), 300);
    EXPECT_EQ(loaded->gradeHint(), 1);
    EXPECT_EQ(loaded->undoStack()->count(), 0) << "loading leaves no undo history";
    EXPECT_EQ(fresh.building->floors(), QList<Floor*>{loaded});
}

TEST(FloorFile, SavedAndExportFormsDifferOnlyWhereTheyShould)
{
    FloorFileFixture f;
    furnish(f, f.floor);
    Panorama* map = f.addUserScan(f.floor, "_Map");
    map->setPanoType(PanoType::Map);
    const QJsonObject saved = f.floor->toJson(false);
    const QJsonObject exported = f.floor->toJson(true);

    EXPECT_EQ(saved["dir"].toString(), "Ground");
    EXPECT_FALSE(exported.contains("dir"));
    const QJsonObject savedLayout = saved["layout"].toObject();
    const QJsonObject exportedLayout = exported["layout"].toObject();
    EXPECT_EQ(savedLayout["referenceLines"].toArray().size(), 3);
    EXPECT_FALSE(exportedLayout.contains("referenceLines"));

    const QJsonArray savedPanos = savedLayout["panos"].toArray();
    ASSERT_EQ(savedPanos.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QJsonObject entry = savedPanos[i].toObject();
        EXPECT_EQ(entry.keys(), (QStringList{"dir", "id"}));
        EXPECT_EQ(entry["dir"].toString(), f.floor->panos()[i]->dir());
        EXPECT_EQ(entry["id"].toInteger(), f.floor->panos()[i]->uniqueId());
    }
    const QJsonArray exportedPanos = exportedLayout["panos"].toArray();
    ASSERT_EQ(exportedPanos.size(), 2) << "the map scan is left out";
    for (int i = 0; i < 2; ++i) {
        Panorama* pano = f.floor->panos()[i];
        EXPECT_EQ(exportedPanos[i].toObject(), pano->toJson(true));
        EXPECT_EQ(exportedPanos[i].toObject()["dir"].toString(), pano->exportLabel());
        EXPECT_TRUE(QFile::exists(pano->folder() + "/pano.dat"));
    }

    const QJsonArray savedTags = savedLayout["tags"].toArray();
    const QJsonArray exportedTags = exportedLayout["tags"].toArray();
    ASSERT_EQ(savedTags.size(), 2);
    ASSERT_EQ(exportedTags.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QJsonObject tag = savedTags[i].toObject();
        EXPECT_TRUE(tag.contains("originalPos") && tag.contains("offset"));
        tag.remove("originalPos");
        tag.remove("offset");
        EXPECT_EQ(tag, exportedTags[i].toObject());
    }
    const QJsonObject boiler = savedTags[0].toObject();
    EXPECT_EQ(boiler["originalPos"].toArray(), (QJsonArray{0.1, 0.3}));
    EXPECT_EQ(boiler["offset"].toDouble(), 2500.5);
    EXPECT_EQ(boiler["initialPanoId"].toInteger(), f.floor->panos()[0]->uniqueId());
    EXPECT_FALSE(boiler.contains("iconId")) << "an empty icon id is left out";

    // Apart from these keys the two forms agree.
    QJsonObject savedRest = saved;
    QJsonObject exportedRest = exported;
    savedRest.remove("dir");
    savedRest.remove("layout");
    exportedRest.remove("layout");
    EXPECT_EQ(savedRest, exportedRest);
}

TEST(FloorFile, OptionalFloorKeysAppearOnlyWithTheirValues)
{
    FloorFileFixture f;
    QJsonObject json = f.floor->toJson(false);
    EXPECT_EQ(json.keys(),
              (QStringList{"alignmentBad", "dir", "globalId", "gradeHint", "hidden", "id", "layout", "name"}));
    EXPECT_EQ(json["hidden"].toBool(), false);
    EXPECT_EQ(json["alignmentBad"].toBool(true), false) << "no scan is badly aligned or unknown";
    const QJsonObject layout = json["layout"].toObject();
    EXPECT_EQ(layout.keys(), (QStringList{"printViewBox", "referenceLines", "viewerViewBox"}));
    EXPECT_EQ(layout["printViewBox"].toArray(), (QJsonArray{0, 0, 0, 0}));

    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    a->setAlignment(0);
    b->setAlignment(0);
    a->setCompass(90);
    a->setPos(100, 200);
    b->setPos(-50, 20);
    b->setOutline({{10, 10}, {30, -40}});
    f.floor->setShown(false);
    json = f.floor->toJson(false);
    EXPECT_EQ(json["alignmentBad"].toBool(true), false);
    EXPECT_NEAR(json["compassRotHint"].toDouble(), 3.141592653589793 / 2, 1e-12);
    EXPECT_EQ(json["hidden"].toBool(), true);
    const QJsonObject scanned = json["layout"].toObject();
    // Outline points of b at (-40, 30) and (-20, -20); scan positions (100, 200) and (-50, 20).
    EXPECT_EQ(scanned["printViewBox"].toArray(), (QJsonArray{-40, -20, 21, 51}));
    EXPECT_EQ(scanned["viewerViewBox"].toArray(), (QJsonArray{-50, -20, 151, 221}));

    b->setAlignment(1);
    EXPECT_EQ(f.floor->toJson(false)["alignmentBad"].toBool(false), true);
    b->setAlignment(-1);
    EXPECT_FALSE(f.floor->toJson(false).contains("alignmentBad"));
}

TEST(FloorFile, LabelsAndNotesLoadAsSelectedNotesAndAreSavedAsNotes)
{
    FloorFileFixture f;
    const QJsonObject layout{
        {"labels", QJsonArray{QJsonObject{{"pos", QJsonArray{10.6, -20.4}}, {"text", "Kitchen"}, {"rot", 0.5}, {"id", 42}}}},
        {"notes", QJsonArray{QJsonObject{{"pos", QJsonArray{1}}, {"text", "Hall"}, {"id", 3}}}},
    };
    f.floor->loadContents(layout);
    const QMap<QString, Note*> notes = notesOf(f.floor);
    ASSERT_EQ(notes.keys(), (QStringList{"Hall", "Kitchen"}));
    Note* kitchen = notes["Kitchen"];
    EXPECT_EQ(kitchen->pos(), QPointF(10.6, -20.4)) << "non-integral positions are kept";
    EXPECT_DOUBLE_EQ(kitchen->rotation(), jsonAngleToDegrees(0.5));
    EXPECT_EQ(kitchen->storedId(), 42u);
    EXPECT_EQ(notes["Hall"]->pos(), QPointF(1, 0)) << "a missing coordinate is 0";
    EXPECT_TRUE(kitchen->isSelected() && notes["Hall"]->isSelected());
    EXPECT_EQ(f.floor->undoStack()->count(), 2) << "each note enters through an undoable step";

    // Loaded ids are registered once the notes are on the floor.
    Note* fresh = addNote(f.floor, {0, 0}, "New");
    EXPECT_EQ(fresh->uniqueId(), 43u);

    const QJsonObject saved = f.floor->layoutToJson(f.floor->items(), false);
    EXPECT_FALSE(saved.contains("labels"));
    const QJsonArray savedNotes = saved["notes"].toArray();
    ASSERT_EQ(savedNotes.size(), 3);
    EXPECT_EQ(savedNotes[1].toObject(), kitchen->toJson(false));
    EXPECT_EQ(savedNotes[1].toObject().keys(), (QStringList{"id", "pos", "rot", "text"}));
}

TEST(FloorFile, TagsReadFromScenePositionsComeBackWithinFloatTolerance)
{
    FloorFileFixture f;
    Panorama* scan = f.addUserScan(f.floor, "001");
    scan->setPos(1000, -500);
    scan->setRotation(37);
    const double cases[][3] = {{0.1, 0.3, 2500}, {0.75, 0.62, 4100.7}, {0.5, 0.5, 900}, {0.999, 0.05, 12345.6},
                               {0.0, 0.95, 333.3}};
    for (const auto& c : cases) {
        const Tag written = makeTag(c[0], c[1], c[2], "t");
        const QJsonObject entry = tagEntryToJson(written, *scan, true);
        const Tag read = tagFromEntry(entry, *scan, nullptr);
        EXPECT_TRUE(nearFraction(read.u, c[0])) << read.u << " for " << c[0];
        EXPECT_NEAR(read.v, c[1], 1e-6);
        EXPECT_NEAR(read.d, c[2], c[2] * 1e-6);
        EXPECT_EQ(read.originalU, read.u);
        EXPECT_EQ(read.originalV, read.v);
        EXPECT_EQ(read.title, "t");
        EXPECT_EQ(read.content, written.content);
    }

    // The stored scene position is rounded, not dropped, when the numbers are not whole.
    const QJsonObject odd{{"pos", QJsonArray{1234.6, -20.5, 1500.5}}};
    const Tag rounded = tagFromEntry(odd, *scan, nullptr);
    EXPECT_EQ(rounded.sceneX, 1235);
    EXPECT_EQ(rounded.sceneY, -21);
    EXPECT_EQ(rounded.sceneZ, 1501);
    EXPECT_GT(rounded.d, 0);
}

TEST(FloorFile, TagEntriesNameTheirScanAndRegisterTheirIdsBeforeNewOnesAreIssued)
{
    FloorFileFixture f;
    Panorama* scan = f.addUserScan(f.floor, "001");
    scan->setUniqueId(7);
    const QJsonObject layout{{"tags", QJsonArray{
        QJsonObject{{"initialPanoId", 7}, {"pos", QJsonArray{0, 1000, 1350}}, {"title", "no id"}},
        QJsonObject{{"initialPanoId", 7}, {"originalPos", QJsonArray{0.25, 0.5}}, {"offset", 1234.5}, {"id", 1},
                    {"title", "one"}, {"iconId", "icon-7"}},
        QJsonObject{{"initialPanoId", 0}, {"id", 5}, {"title", "no scan"}},
        QJsonObject{{"initialPanoId", 99}, {"id", 6}, {"title", "unknown scan"}},
    }}};
    f.floor->loadContents(layout);
    const QList<Tag>& tags = scan->tags();
    ASSERT_EQ(tags.size(), 2);
    EXPECT_EQ(tags[0].title, "no id");
    EXPECT_EQ(tags[1].storedId(), 1u);
    EXPECT_NE(tags[0].storedId(), 0u);
    EXPECT_NE(tags[0].storedId(), 1u) << "a loaded id must not be handed out again";
    EXPECT_EQ(tags[1].iconId, "icon-7");
    EXPECT_EQ(tags[1].originalU, 0.25);
    EXPECT_EQ(tags[1].u, 0.25) << "without a camera model the fractions are taken as they are";
    EXPECT_EQ(tags[1].d, 1234.5) << "a non-integral distance is kept";
    // "pos" (0, 1000) lies straight below the scan in the plan at the camera's height.
    EXPECT_NEAR(tags[0].u, 0.25, 1e-9);
    EXPECT_NEAR(tags[0].v, 0.5, 1e-9);
    EXPECT_NEAR(tags[0].d, 1000, 1e-9);

    Tag next;
    scan->appendTag(next);
    EXPECT_GT(scan->tags().last().storedId(), std::max(tags[0].storedId(), tags[1].storedId()));
}

TEST(FloorFile, OriginalTagFractionsSurviveRepeatedSavesWithACameraModel)
{
    FloorFileFixture f;
    f.property->setCamParams(makeIdentityZtm6(64).release());
    Panorama* scan = f.addUserScan(f.floor, "001");
    scan->imageParams()[ImageParams::ROLL_GLOBAL] = 0.2f;
    scan->imageParams()[ImageParams::PITCH_GLOBAL] = -0.1f;
    scan->appendTag(makeTag(0.3, 0.4, 2000, "Meter"));

    QJsonObject json = f.floor->toJson(false);
    for (int session = 0; session < 2; ++session) {
        FreshProperty fresh(f.path());
        fresh.property.setCamParams(makeIdentityZtm6(64).release());
        Floor* loaded = readFloorObject(json, fresh.building);
        ASSERT_NE(loaded, nullptr);
        const Tag& tag = loaded->panos()[0]->tags()[0];
        EXPECT_EQ(tag.originalU, 0.3);
        EXPECT_EQ(tag.originalV, 0.4);
        EXPECT_GT(std::fabs(tag.u - 0.3) + std::fabs(tag.v - 0.4), 1e-4) << "the camera maps the fractions";
        json = loaded->toJson(false);
        const QJsonObject entry = json["layout"].toObject()["tags"].toArray()[0].toObject();
        EXPECT_EQ(entry["originalPos"].toArray(), (QJsonArray{0.3, 0.4}));
    }
}

TEST(FloorFile, ExportedArchiveOnceExtractedLoadsWithEveryScanFound)
{
    FloorFileFixture f;
    furnish(f, f.floor);
    f.floor->panos()[0]->appendTag([] {
        Tag tag = makeTag(0.2, 0.5, 1500, "Manual");
        tag.content = "[manual](manual.pdf)";
        return tag;
    }());
    const QJsonObject exported = f.floor->toJson(true);

    // What extracting the archive leaves: each scan's files in a folder named by its export label
    // directly in the project folder, and the tag assets in "_Assets".
    QTemporaryDir extracted;
    QStringList labels;
    for (Panorama* pano : f.floor->panos()) {
        labels << pano->exportLabel();
        QDir().mkpath(extracted.filePath(labels.last()));
        writeFile(extracted.filePath(labels.last() + "/t.pic"), "preview");
    }
    QDir().mkpath(extracted.filePath("_Assets"));
    writeFile(extracted.filePath("_Assets/manual.pdf"), "pdf");
    writeFile(extracted.filePath("_Assets/other.pdf"), "other");

    LogCapture log;
    FreshProperty fresh(extracted.path());
    Floor* loaded = readFloorObject(exported, fresh.building);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
    EXPECT_EQ(loaded->dir(), "Ground");
    EXPECT_EQ(scanDirs(loaded), labels);
    for (int i = 0; i < labels.size(); ++i) {
        const Panorama* original = f.floor->panos()[i];
        const Panorama* pano = loaded->panos()[i];
        EXPECT_TRUE(QFile::exists(extracted.filePath("Ground/" + labels[i] + "/t.pic")));
        EXPECT_FALSE(QFileInfo::exists(extracted.filePath(labels[i])));
        EXPECT_EQ(pano->ownName(), original->ownName());
        EXPECT_EQ(pano->storedId(), original->storedId());
        EXPECT_EQ(pano->pos(), original->pos());
        EXPECT_NEAR(pano->rotation(), original->rotation(), 1e-9);
        ASSERT_EQ(pano->tags().size(), original->tags().size());
        for (int t = 0; t < pano->tags().size(); ++t) {
            EXPECT_EQ(pano->tags()[t].storedId(), original->tags()[t].storedId());
            EXPECT_TRUE(nearFraction(pano->tags()[t].u, original->tags()[t].u));
            EXPECT_NEAR(pano->tags()[t].v, original->tags()[t].v, 1e-6);
        }
    }
    EXPECT_EQ(notesOf(loaded).size(), 2);
    EXPECT_EQ(readFile(extracted.filePath("Ground/" + labels[0] + "/assets/manual.pdf")), "pdf");
    EXPECT_FALSE(QFileInfo::exists(extracted.filePath("Ground/" + labels[0] + "/assets/other.pdf")));
    EXPECT_FALSE(QFileInfo::exists(extracted.filePath("Ground/" + labels[1] + "/assets")));
}

TEST(FloorFile, TagAssetsAlreadyInTheScanAreKept)
{
    FloorFileFixture f;
    Panorama* scan = f.addUserScan(f.floor, "001");
    scan->setUniqueId(3);
    QDir().mkpath(f.path("_Assets"));
    writeFile(f.path("_Assets/plan.pdf"), "new");
    QDir().mkpath(scan->folder() + "/assets");
    writeFile(scan->folder() + "/assets/plan.pdf", "old");
    writeFile(f.path("_Assets/Plan.PDF"), "case");
    f.floor->loadContents(QJsonObject{{"tags", QJsonArray{QJsonObject{{"initialPanoId", 3}, {"content", "plan.pdf"}}}}});
    EXPECT_EQ(readFile(scan->folder() + "/assets/plan.pdf"), "old");
    EXPECT_FALSE(QFileInfo::exists(scan->folder() + "/assets/Plan.PDF")) << "names match case-sensitively";
}
