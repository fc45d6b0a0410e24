#include "app/units.h"
#include "editor/note.h"
#include "editor/reference_line.h"
#include "pano/panorama.h"
#include "project/floor_reader.h"
#include "project/tag_entry.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QMap>
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
    tag.content = "see manual.pdf";
    return tag;
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

// Two placed scans with a tag each, two notes and three reference lines.
void furnish(ProjectFixture& f, Floor* floor)
{
    Panorama* a = f.addUserScan(floor, "001");
    a->setPos(1000.25, 500);
    a->setRotation(30);
    a->setCompass(12.5f);
    Panorama* b = f.addUserScan(floor, "002");
    b->setPos(-200, 300.75);
    for (auto [pos, text, degrees] : {std::tuple{QPointF(120.5, -40), "Kitchen", 15.0}, {QPointF(-700, 900), "Stairs", 0.0}}) {
        auto* note = new Note(pos, text);
        note->setRotation(degrees);
        floor->addItem(note);
    }
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

// A property of its own on a project folder, as a later session would open it.
struct FreshProperty {
    Property property;
    Building* building;
    explicit FreshProperty(const QString& folder)
    {
        property.setFolder(folder);
        building = new Building(&property);
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
    EXPECT_EQ(saved, loaded->toJson(false));
    EXPECT_EQ(scanDirs(loaded), (QStringList{"001", "002"}));
    EXPECT_EQ(loaded->panos()[0]->tags()[0].title, "Boiler");
    EXPECT_EQ(loaded->ceilingHeight(), 2600);
    EXPECT_EQ(loaded->undoStack()->count(), 0) << "loading leaves no undo history";
}

TEST(FloorFile, ExportFormLeavesOutFoldersLinesTagSourcesAndMapScans)
{
    FloorFileFixture f;
    furnish(f, f.floor);
    f.addUserScan(f.floor, "_Map")->setPanoType(PanoType::Map);
    const QJsonObject saved = f.floor->toJson(false);
    const QJsonObject exported = f.floor->toJson(true);
    const QJsonObject savedLayout = saved["layout"].toObject();
    const QJsonObject exportedLayout = exported["layout"].toObject();

    EXPECT_EQ(saved["dir"].toString(), "Ground");
    EXPECT_FALSE(exported.contains("dir"));
    EXPECT_EQ(savedLayout["referenceLines"].toArray().size(), 3);
    EXPECT_FALSE(exportedLayout.contains("referenceLines"));

    const QJsonArray savedPanos = savedLayout["panos"].toArray();
    ASSERT_EQ(savedPanos.size(), 3);
    for (int i = 0; i < 3; ++i) {
        Panorama* pano = f.floor->panos()[i];
        EXPECT_EQ(savedPanos[i].toObject(), (QJsonObject{{"dir", pano->dir()}, {"id", qint64(pano->uniqueId())}}));
        EXPECT_TRUE(QFile::exists(pano->folder() + "/pano.dat"));
    }
    const QJsonArray exportedPanos = exportedLayout["panos"].toArray();
    ASSERT_EQ(exportedPanos.size(), 2) << "the map scan is left out";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(exportedPanos[i].toObject(), f.floor->panos()[i]->toJson(true));
        EXPECT_EQ(exportedPanos[i].toObject()["dir"].toString(), f.floor->panos()[i]->exportLabel());
    }

    const QJsonArray savedTags = savedLayout["tags"].toArray();
    const QJsonArray exportedTags = exportedLayout["tags"].toArray();
    ASSERT_EQ(savedTags.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QJsonObject tag = savedTags[i].toObject();
        EXPECT_EQ(tag.take("originalPos").toArray().size(), 2);
        EXPECT_TRUE(tag.take("offset").isDouble());
        EXPECT_EQ(tag, exportedTags[i].toObject());
    }
    EXPECT_EQ(savedTags[0].toObject()["originalPos"].toArray(), (QJsonArray{0.1, 0.3}));
    EXPECT_EQ(savedTags[0].toObject()["initialPanoId"].toInteger(), f.floor->panos()[0]->uniqueId());
    EXPECT_FALSE(savedTags[0].toObject().contains("iconId")) << "an empty icon id is left out";
}

TEST(FloorFile, OptionalFloorKeysAppearOnlyWithTheirValues)
{
    FloorFileFixture f;
    QJsonObject json = f.floor->toJson(false);
    EXPECT_EQ(json.keys(), (QStringList{"alignmentBad", "dir", "globalId", "gradeHint", "hidden", "id", "layout", "name"}));
    EXPECT_EQ(json["layout"].toObject().keys(), (QStringList{"printViewBox", "referenceLines", "viewerViewBox"}));

    Panorama* a = f.addUserScan(f.floor, "a");
    Panorama* b = f.addUserScan(f.floor, "b");
    a->setCompass(90);
    a->setPos(100, 200);
    b->setPos(-50, 20);
    b->setOutline({{10, 10}, {30, -40}});
    json = f.floor->toJson(false);
    EXPECT_FALSE(json.contains("alignmentBad")) << "scans of unknown alignment";
    EXPECT_NEAR(json["compassRotHint"].toDouble(), 3.141592653589793 / 2, 1e-12);
    // Outline points of b at (-40, 30) and (-20, -20); scan positions (100, 200) and (-50, 20).
    EXPECT_EQ(json["layout"].toObject()["printViewBox"].toArray(), (QJsonArray{-40, -20, 21, 51}));
    EXPECT_EQ(json["layout"].toObject()["viewerViewBox"].toArray(), (QJsonArray{-50, -20, 151, 221}));
    a->setAlignment(0);
    b->setAlignment(1);
    EXPECT_EQ(f.floor->toJson(false)["alignmentBad"].toBool(false), true);
}

TEST(FloorFile, LabelsAndNotesLoadAsNotesWhoseIdsCountOnceOnTheFloor)
{
    FloorFileFixture f;
    f.floor->loadContents(QJsonObject{
        {"labels", QJsonArray{QJsonObject{{"pos", QJsonArray{10.6, -20.4}}, {"text", "Kitchen"}, {"rot", 0.5}, {"id", 42}}}},
        {"notes", QJsonArray{QJsonObject{{"pos", QJsonArray{1}}, {"text", "Hall"}, {"id", 3}}}},
    });
    const QMap<QString, Note*> notes = notesOf(f.floor);
    ASSERT_EQ(notes.keys(), (QStringList{"Hall", "Kitchen"}));
    Note* kitchen = notes["Kitchen"];
    EXPECT_EQ(kitchen->pos(), QPointF(10.6, -20.4)) << "non-integral positions are kept";
    EXPECT_DOUBLE_EQ(kitchen->rotation(), jsonAngleToDegrees(0.5));
    EXPECT_EQ(notes["Hall"]->pos(), QPointF(1, 0)) << "a missing coordinate is 0";
    EXPECT_TRUE(kitchen->isSelected() && notes["Hall"]->isSelected());
    EXPECT_EQ(f.floor->undoStack()->count(), 2) << "each note enters through an undoable step";

    auto* fresh = new Note({0, 0}, "New");
    f.floor->addItem(fresh);
    EXPECT_EQ(fresh->uniqueId(), 43u);
    const QJsonObject saved = f.floor->layoutToJson(f.floor->items(), false);
    EXPECT_FALSE(saved.contains("labels"));
    EXPECT_EQ(saved["notes"].toArray(),
              (QJsonArray{notes["Hall"]->toJson(false), kitchen->toJson(false), fresh->toJson(false)}));
}

TEST(FloorFile, TagsReadFromScenePositionsComeBackWithinFloatTolerance)
{
    FloorFileFixture f;
    Panorama* scan = f.addUserScan(f.floor, "001");
    scan->setPos(1000, -500);
    scan->setRotation(37);
    const double cases[][3] = {{0.1, 0.3, 2500}, {0.75, 0.62, 4100.7}, {0.999, 0.05, 12345.6}, {0.0, 0.95, 333.3}};
    for (const auto& c : cases) {
        const Tag read = tagFromEntry(tagEntryToJson(makeTag(c[0], c[1], c[2], "t"), *scan, true), *scan, nullptr);
        EXPECT_TRUE(nearFraction(read.u, c[0])) << read.u << " for " << c[0];
        EXPECT_NEAR(read.v, c[1], 1e-6);
        EXPECT_NEAR(read.d, c[2], c[2] * 1e-6);
        EXPECT_EQ(read.originalU, read.u);
        EXPECT_EQ(read.title, "t");
    }
    // The stored scene position is rounded, not dropped, when the numbers are not whole.
    const Tag rounded = tagFromEntry(QJsonObject{{"pos", QJsonArray{1234.6, -20.5, 1500.5}}}, *scan, nullptr);
    EXPECT_EQ(QList<int>({rounded.sceneX, rounded.sceneY, rounded.sceneZ}), QList<int>({1235, -21, 1501}));
}

TEST(FloorFile, TagEntriesNameTheirScanAndRegisterTheirIdsBeforeNewOnesAreIssued)
{
    FloorFileFixture f;
    Panorama* scan = f.addUserScan(f.floor, "001");
    scan->setUniqueId(7);
    f.floor->loadContents(QJsonObject{{"tags", QJsonArray{
        QJsonObject{{"initialPanoId", 7}, {"pos", QJsonArray{0, 1000, 1350}}, {"title", "no id"}},
        QJsonObject{{"initialPanoId", 7}, {"originalPos", QJsonArray{0.25, 0.5}}, {"offset", 1234.5}, {"id", 1},
                    {"iconId", "icon-7"}},
        QJsonObject{{"initialPanoId", 0}, {"id", 5}},
        QJsonObject{{"initialPanoId", 99}, {"id", 6}},
    }}});
    const QList<Tag>& tags = scan->tags();
    ASSERT_EQ(tags.size(), 2);
    EXPECT_EQ(tags[1].storedId(), 1u);
    EXPECT_GT(tags[0].storedId(), 1u) << "a loaded id must not be handed out again";
    EXPECT_EQ(tags[1].iconId, "icon-7");
    EXPECT_EQ(tags[1].u, 0.25) << "without a camera model the fractions are taken as they are";
    EXPECT_EQ(tags[1].d, 1234.5) << "a non-integral distance is kept";
    // "pos" (0, 1000) lies along the scan's +y at the camera's height.
    EXPECT_NEAR(tags[0].u, 0.25, 1e-9);
    EXPECT_NEAR(tags[0].v, 0.5, 1e-9);
    EXPECT_NEAR(tags[0].d, 1000, 1e-9);
}

TEST(FloorFile, ExportedArchiveOnceExtractedLoadsWithEveryScanFound)
{
    FloorFileFixture f;
    furnish(f, f.floor);
    const QJsonObject exported = f.floor->toJson(true);

    // Extracting the archive leaves each scan's files in a folder named by its export label directly
    // in the project folder, and the tag assets in "_Assets".
    QTemporaryDir extracted;
    QStringList labels;
    for (Panorama* pano : f.floor->panos()) {
        labels << pano->exportLabel();
        QDir().mkpath(extracted.filePath(labels.last()));
        writeFile(extracted.filePath(labels.last() + "/t.pic"), "preview");
    }
    QDir().mkpath(extracted.filePath("_Assets"));
    writeFile(extracted.filePath("_Assets/manual.pdf"), "pdf");
    writeFile(extracted.filePath("_Assets/Manual.PDF"), "other case");
    QDir().mkpath(extracted.filePath(labels[1] + "/assets"));
    writeFile(extracted.filePath(labels[1] + "/assets/manual.pdf"), "kept");

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
        EXPECT_EQ(pano->ownName(), original->ownName());
        EXPECT_EQ(pano->storedId(), original->storedId());
        EXPECT_EQ(pano->pos(), original->pos());
        ASSERT_EQ(pano->tags().size(), 1);
        EXPECT_EQ(pano->tags()[0].storedId(), original->tags()[0].storedId());
        EXPECT_TRUE(nearFraction(pano->tags()[0].u, original->tags()[0].u));
        EXPECT_NEAR(pano->tags()[0].v, original->tags()[0].v, 1e-6);
    }
    EXPECT_EQ(notesOf(loaded).size(), 2);
    EXPECT_EQ(listTree(extracted.filePath("Ground/" + labels[0] + "/assets")), QStringList{"manual.pdf"});
    EXPECT_EQ(readFile(extracted.filePath("Ground/" + labels[1] + "/assets/manual.pdf")), "kept");
}
