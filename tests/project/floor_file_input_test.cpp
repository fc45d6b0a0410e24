#include "editor/note.h"
#include "pano/panorama.h"
#include "project/floor_reader.h"
#include "project/building.h"
#include "project/floor.h"
#include "project/property.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <QDir>
#include <QJsonArray>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A project with the floor Ground holding the scan folder 001, and beside the project a folder
// that no record may reach.
struct GuardedProject {
    QTemporaryDir root;
    Property property;
    Building* building = nullptr;
    Floor* floor = nullptr;

    GuardedProject()
    {
        QDir().mkpath(root.filePath("project"));
        QDir().mkpath(root.filePath("Outside/secret"));
        writeFile(root.filePath("Outside/secret/keep.txt"), "keep");
        property.setFolder(root.filePath("project"));
        building = new Building(&property);
        floor = new Floor(building);
        floor->setName("Ground");
        QDir().mkpath(project("Ground/001"));
    }
    QString project(const QString& relative) const { return root.filePath("project/" + relative); }
    bool outsideUntouched() const { return readFile(root.filePath("Outside/secret/keep.txt")) == "keep"; }
};

QStringList scanDirs(const Floor* floor)
{
    QStringList dirs;
    for (const Panorama* pano : floor->panos())
        dirs << pano->dir();
    return dirs;
}

QList<Note*> notesOf(const Floor* floor)
{
    QList<Note*> notes;
    for (QGraphicsItem* item : floor->items())
        if (auto* note = dynamic_cast<Note*>(item))
            notes << note;
    return notes;
}

} // namespace

TEST(FloorFileInput, ScanFolderNamesThatAreNotOnePlainNameAreSkipped)
{
    GuardedProject p;
    LogCapture log;
    QJsonArray panos;
    for (const QJsonValue& dir : {QJsonValue(""), QJsonValue("."), QJsonValue(".."), QJsonValue("../Outside"),
                                  QJsonValue("Ground/001"), QJsonValue("x\\y"), QJsonValue(5), QJsonValue("001")})
        panos.append(QJsonObject{{"dir", dir}});
    p.floor->loadContents(QJsonObject{{"panos", panos}});
    EXPECT_EQ(scanDirs(p.floor), QStringList{"001"});
    EXPECT_TRUE(p.outsideUntouched());
    EXPECT_FALSE(QFileInfo::exists(p.project("Outside"))) << "nothing from outside moves in";
    EXPECT_EQ(log.texts(QtWarningMsg).size(), 7);
}

TEST(FloorFileInput, FloorFolderNamesThatAreNotOnePlainNameDropTheFloor)
{
    GuardedProject p;
    for (const char* dir : {"..", ".", "../Outside", "Ground/001", "/tmp"}) {
        LogCapture log;
        const QJsonObject layout{{"panos", QJsonArray{QJsonObject{{"dir", "secret"}}}}};
        EXPECT_EQ(readFloorObject(QJsonObject{{"name", "Evil"}, {"dir", dir}, {"layout", layout}}, p.building), nullptr);
        EXPECT_EQ(log.texts(QtWarningMsg).size(), 1) << dir;
    }
    EXPECT_EQ(p.building->floors(), QList<Floor*>{p.floor});
    EXPECT_TRUE(p.outsideUntouched());
}

TEST(FloorFileInput, AFloorWithoutAFolderOfItsOwnIsMissingNotTheProjectFolder)
{
    GuardedProject p;
    const QStringList before = listTree(p.project(""));
    for (const QJsonObject& record : {QJsonObject{}, QJsonObject{{"name", ".."}}, QJsonObject{{"name", "Attic"}, {"dir", "Attic"}}}) {
        LogCapture log;
        EXPECT_EQ(readFloorObject(record, p.building), nullptr);
        EXPECT_TRUE(log.contains(QtInfoMsg, "Could not find folder"));
    }
    EXPECT_EQ(p.building->floors(), QList<Floor*>{p.floor});
    EXPECT_EQ(listTree(p.project("")), before) << "no folder made, moved, taken as a scan or removed";

    Floor* made = readFloorObject(QJsonObject{{"name", "Loft: west"}}, p.building);
    ASSERT_NE(made, nullptr) << "without a dir the floor makes its folder from its name";
    EXPECT_EQ(made->dir(), "Loft- west");
    EXPECT_TRUE(QFileInfo(p.project("Loft- west")).isDir());
}

TEST(FloorFileInput, ScanFoldersThatCannotBeFoundMovedOrMadeIntoScansAreSkipped)
{
    GuardedProject p;
    QDir().mkpath(p.project("Field 7"));
    QDir().mkpath(p.project("Blocked"));
    writeFile(p.project("Ground/Blocked"), "a file where the scan folder would go");
    QDir().mkpath(p.project("Ground/back\\slash"));
    LogCapture log;
    p.floor->loadContents(QJsonObject{
        {"panos", QJsonArray{QJsonObject{{"dir", "Field 7"}, {"id", 12}, {"name", "Seven"}, {"pos", QJsonArray{5, 6}}},
                             QJsonObject{{"dir", "Gone"}}, QJsonObject{{"dir", "Blocked"}}}},
        {"notes", QJsonArray{QJsonObject{{"text", "kept"}}}},
    });
    EXPECT_EQ(scanDirs(p.floor), (QStringList{"Field 7", "001"}));
    const Panorama* moved = p.floor->panos()[0];
    EXPECT_EQ(moved->ownName(), "Seven") << "a moved folder's scan takes the layout entry as its record";
    EXPECT_EQ(moved->storedId(), 12u);
    EXPECT_EQ(moved->pos(), QPointF(5, 6));
    EXPECT_TRUE(QFileInfo(p.project("Ground/Field 7")).isDir());
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not find scan folder: " + p.project("Ground/Gone")));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not copy scan folder: " + p.project("Ground/Blocked")));
    EXPECT_TRUE(log.contains(QtWarningMsg, "back\\slash"));
    EXPECT_EQ(notesOf(p.floor).size(), 1);
}

TEST(FloorFileInput, UnlistedScanFoldersFollowTheListedOnesInFolderNameOrder)
{
    GuardedProject p;
    for (const char* name : {"Attic", "10 - Hall", "2 - Kitchen", "_Map", "attic", "2 - Bath", "-1"})
        QDir().mkpath(p.project(QString("Ground/") + name));
    p.floor->loadContents(QJsonObject{{"panos", QJsonArray{QJsonObject{{"dir", "Attic"}}, QJsonObject{{"dir", "001"}}}}});
    const QStringList dirs = scanDirs(p.floor);
    ASSERT_EQ(dirs.size(), 8);
    EXPECT_EQ(dirs.mid(0, 4), (QStringList{"Attic", "001", "_Map", "-1"}));
    // The two scans numbered 2 are equivalent; the folder listing decides between them.
    EXPECT_EQ(QSet<QString>(dirs.begin() + 4, dirs.begin() + 6), (QSet<QString>{"2 - Kitchen", "2 - Bath"}));
    EXPECT_EQ(dirs.mid(6), (QStringList{"10 - Hall", "attic"}));
}

TEST(FloorFileInput, ValuesOfTheWrongTypeTakeTheirDefaults)
{
    GuardedProject p;
    const QJsonObject record{
        {"name", 7}, {"dir", "Ground"}, {"globalId", QJsonArray{}}, {"id", -4}, {"hidden", "yes"},
        {"gradeHint", 300}, {"actualExtWallThickness", "thick"}, {"ceilingHeight", 2400.5},
        {"layout", QJsonObject{
            {"notes", QJsonArray{1, QJsonObject{{"pos", "q"}, {"text", 5}, {"rot", "r"}, {"id", 1.5}}}},
            {"labels", "not a list"},
            {"panos", QJsonObject{{"dir", "001"}}},
            {"tags", QJsonArray{1, QJsonObject{{"initialPanoId", "1"}}}},
            {"referenceLines", QJsonArray{1, QJsonObject{{"p1", QJsonArray{1}}, {"p2", QJsonArray{1, 2}}},
                                          QJsonObject{{"p1", QJsonArray{"a", 2}}, {"p2", QJsonArray{1, 2}}},
                                          QJsonObject{{"p1", QJsonArray{1, 2, 3}}, {"p2", QJsonArray{-4.5, 2}}}}},
        }},
    };
    Floor* loaded = readFloorObject(record, p.building);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->ownName(), "");
    EXPECT_EQ(loaded->storedId(), 0u);
    EXPECT_TRUE(loaded->isShown());
    EXPECT_EQ(loaded->gradeHint(), 0);
    EXPECT_EQ(loaded->extWallThickness(true), 0);
    EXPECT_EQ(loaded->ceilingHeight(), 0);
    const QList<Note*> notes = notesOf(loaded);
    ASSERT_EQ(notes.size(), 2) << "each element, taken as an object, is a note";
    for (const Note* note : notes)
        EXPECT_TRUE(note->pos() == QPointF(0, 0) && note->rotation() == 0 && note->storedId() == 0);
    EXPECT_EQ(loaded->layoutToJson(loaded->items(), false)["referenceLines"].toArray(),
              QJsonArray{QJsonObject({{"p1", QJsonArray{1, 2}}, {"p2", QJsonArray{-4.5, 2}}})});
    EXPECT_EQ(scanDirs(loaded), QStringList{"001"}) << "found only as an unlisted folder";
}

TEST(FloorFileInput, ABuildingRecordKeepsEveryFloorItCanFind)
{
    GuardedProject p;
    QDir().mkpath(p.project("Upper"));
    const QJsonObject record{
        {"name", "Annex"}, {"id", 9}, {"actualExtWallThickness", 250},
        {"floors", QJsonArray{QJsonObject{{"name", "Ground"}, {"dir", "Ground"}}, "garbage",
                              QJsonObject{{"name", "Ghost"}, {"dir", "Ghost"}},
                              QJsonObject{{"name", "Upper"}, {"dir", "Upper"},
                                          {"layout", QJsonObject{{"notes", QJsonArray{QJsonObject{}}}}}}}},
    };
    Building* annex = Building::fromJson(record, &p.property);
    ASSERT_EQ(annex->floors().size(), 2);
    EXPECT_EQ(annex->floors()[0]->ownName(), "Ground");
    EXPECT_EQ(annex->floors()[1]->ownName(), "Upper");
    EXPECT_TRUE(annex->floors()[1]->selectedItems().isEmpty()) << "loaded notes are left unselected";
    EXPECT_EQ(annex->ownName(), "Annex");
    EXPECT_EQ(annex->storedId(), 9u);
    EXPECT_EQ(annex->extWallThickness(), 250);
    EXPECT_GT((new Building(&p.property))->uniqueId(), 9u) << "the loaded id is registered";

    Building* empty = Building::fromJson(QJsonObject{{"name", 4}, {"id", "x"}, {"floors", "none"}}, &p.property);
    EXPECT_EQ(empty->ownName(), "");
    EXPECT_EQ(empty->storedId(), 0u);
    EXPECT_TRUE(empty->floors().isEmpty());
}
