#include "pano/panorama.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/test_support.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QString kNoInitial = "Initial pano not set. The first enabled one will be selected.";
const QString kNoMain = "Property has no Main Building. Drafters will choose it for you.";
const QString kEmpty = "Project is empty.";
const QString kAllDisabled = "All floors are currently disabled. The 3D tour and floor plans will not be visible.";
const QString kNoCompass = "Not enough compass data to determine property orientation. Compass direction will need to "
                           "be set manually on the portal. Please re-calibrate camera compass.";
const QString kSomeCompass = "Some floors have no compass data. Compass can be set manually on the AMBREL Portal.";

QStringList messagesOf(const QList<DrcFinding>& findings)
{
    QStringList messages;
    for (const DrcFinding& finding : findings)
        messages << finding.message;
    return messages;
}

// The findings about the property itself, leaving out those of its buildings and floors.
QStringList propertyMessages(Property& property)
{
    QStringList messages;
    for (const DrcFinding& finding : property.checkExport())
        if (finding.subject == &property)
            messages << finding.message;
    return messages;
}

// A property whose one main building has one checked-clean floor with a full initial scan, so
// that a test sees only what it provokes.
struct CheckFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    Panorama* first = placeScan(ground, "first", PanoType::Full, {0, 0});

    CheckFixture()
    {
        property->setName("Villa");
        house->setAsMainBuilding();
        house->setExtWallThickness(300);
        ground->setGradeHint(2);
        ground->setStoredCompassRotation(10);
        property->setInitialPano(first);
    }

    Floor* cleanFloor(Building* building, const QString& name, PanoType type = PanoType::Full)
    {
        Floor* floor = addFloor(building, name);
        floor->setGradeHint(2);
        floor->setStoredCompassRotation(0);
        placeScan(floor, name + " scan", type, {0, 0});
        return floor;
    }

    QString addAsset(Panorama* pano, const QString& name)
    {
        const QString path = pano->folder() + "/assets/" + name;
        writeFile(path, "asset");
        return path;
    }
};

} // namespace

TEST(PropertyExportCheck, PropertyWithoutBuildingsIsEmptyAndNothingElse)
{
    Property property;
    property.setName("Villa");
    const QList<DrcFinding> findings = property.checkExport();
    EXPECT_EQ(messagesOf(findings), (QStringList{kNoInitial, kNoMain, kEmpty}));
    ASSERT_EQ(findings.size(), 3);
    EXPECT_EQ(findings[0].code, 1);
    EXPECT_EQ(findings[1].code, 1);
    EXPECT_EQ(findings[2].code, 0);
    for (const DrcFinding& finding : findings) {
        EXPECT_EQ(finding.subject, static_cast<Itemizeable*>(&property));
        EXPECT_EQ(finding.subjectName, "Villa");
    }
}

TEST(PropertyExportCheck, InitialScanHiddenThroughItsFloorIsReported)
{
    CheckFixture f;
    f.ground->setShown(false);
    const QStringList messages = messagesOf(f.property->checkExport());
    ASSERT_GE(messages.size(), 1);
    EXPECT_EQ(messages[0], "Initial pano is not enabled on the portal: first. The first enabled one will be selected.");
}

TEST(PropertyExportCheck, OnlyBuildableScansOnCountedFloorsKeepTheProjectFromBeingEmpty)
{
    ProjectFixture f;
    Building* building = f.addBuilding("House");
    building->setAsMainBuilding();
    Floor* pictures = f.addFloor(building, "Pictures");
    placeScan(pictures, "user", PanoType::User, {0, 0});
    Floor* maps = f.addFloor(building, "Ground");
    placeScan(maps, "map", PanoType::Map, {0, 0});
    maps->setShown(false); // would give the disabled-floors finding if the project were not empty

    const QList<DrcFinding> findings = f.property->checkExport();
    const QStringList messages = messagesOf(findings);
    EXPECT_EQ(messages.count(kEmpty), 1);
    EXPECT_FALSE(messages.contains(kAllDisabled));
    EXPECT_FALSE(messages.contains(kNoCompass));
    int blocking = 0;
    for (const DrcFinding& finding : findings)
        blocking += finding.code == 0 && finding.subject == f.property.get();
    EXPECT_EQ(blocking, 1);
}

TEST(PropertyExportCheck, DisabledAndCompassFindingsCountFloorsWithAnyScans)
{
    CheckFixture f;
    Floor* maps = f.cleanFloor(f.house, "Basement", PanoType::Map); // no buildable scan, still counted
    f.cleanFloor(f.house, "Pictures")->setStoredCompassRotation(qQNaN()); // never counted
    f.addFloor(f.house, "Attic")->setGradeHint(2); // no scans, no compass: not counted
    EXPECT_EQ(propertyMessages(*f.property), QStringList{});

    maps->setStoredCompassRotation(qQNaN());
    EXPECT_TRUE(propertyMessages(*f.property).contains(kSomeCompass));

    f.ground->setStoredCompassRotation(qQNaN());
    QStringList messages = propertyMessages(*f.property);
    EXPECT_TRUE(messages.contains(kNoCompass));
    EXPECT_FALSE(messages.contains(kSomeCompass));
    EXPECT_FALSE(messages.contains(kAllDisabled));

    f.ground->setShown(false);
    EXPECT_FALSE(propertyMessages(*f.property).contains(kAllDisabled)) << "the map floor is still enabled";
    maps->setShown(false);
    messages = propertyMessages(*f.property);
    EXPECT_EQ(messages.indexOf(kAllDisabled) + 1, messages.indexOf(kNoCompass));
}

TEST(PropertyExportCheck, EachRepeatedAssetNameIsReportedOnTheLaterScan)
{
    CheckFixture f;
    Floor* upstairs = f.cleanFloor(f.house, "1st");
    Panorama* second = upstairs->panos().first();
    Panorama* third = placeScan(upstairs, "third", PanoType::Map, {2000, 1000});
    Panorama* onPictures = f.cleanFloor(f.house, "Pictures")->panos().first();
    f.addAsset(f.first, "plan.pdf");
    f.addAsset(f.first, "photo.jpg");
    const QString secondCopy = f.addAsset(second, "plan.pdf");
    f.addAsset(second, "Plan.pdf"); // names are compared with case
    const QString thirdCopy = f.addAsset(third, "plan.pdf");
    f.addAsset(onPictures, "photo.jpg"); // scans of "Pictures" floors are not compared
    QDir().mkpath(second->folder() + "/assets/photo.jpg.d"); // not a file

    QList<DrcFinding> duplicates;
    for (const DrcFinding& finding : f.property->checkExport())
        if (finding.message.startsWith("Duplicated asset"))
            duplicates << finding;
    ASSERT_EQ(duplicates.size(), 2);
    EXPECT_EQ(duplicates[0].message,
              "Duplicated asset found in \"" + secondCopy + "\". Only one occurrence will be exported.");
    EXPECT_EQ(duplicates[1].message,
              "Duplicated asset found in \"" + thirdCopy + "\". Only one occurrence will be exported.");
    EXPECT_EQ(duplicates[0].subject, static_cast<Itemizeable*>(second));
    EXPECT_EQ(duplicates[1].subject, static_cast<Itemizeable*>(third));
    EXPECT_EQ(duplicates[1].subjectName, third->name());
    EXPECT_EQ(duplicates[1].code, 1);
    // The marker circle of radius 150, where the scan stands on the plan.
    EXPECT_EQ(duplicates[1].highlight.boundingRect(), QRectF(1850, 850, 300, 300));
}

TEST(PropertyExportCheck, BuildingsFollowThePropertyFindingsWithTheirFloorsFindings)
{
    CheckFixture f;
    Building* shed = f.addBuilding("House");
    Floor* shedFloor = f.cleanFloor(shed, "Garage");
    shedFloor->setGradeHint(0);
    Building* third = f.addBuilding("House");
    f.property->setInitialPano(nullptr);

    const QList<DrcFinding> findings = f.property->checkExport();
    EXPECT_EQ(messagesOf(findings),
              (QStringList{kNoInitial, "Duplicated building name: House",
                           "House: No exterior wall thickness was specified. Exterior floor area will not be reported.",
                           "Grade level not set. Set above/below grade level by clicking on the floor name.",
                           "Duplicated building name: House", "House: Building is empty."}));
    ASSERT_EQ(findings.size(), 6);
    EXPECT_EQ(findings[1].subject, static_cast<Itemizeable*>(shed));
    EXPECT_EQ(findings[1].subjectName, "Villa");
    EXPECT_EQ(findings[3].subject, static_cast<Itemizeable*>(shedFloor));
    EXPECT_EQ(findings[4].subject, static_cast<Itemizeable*>(third));
    EXPECT_EQ(findings[5].subject, static_cast<Itemizeable*>(third));
    EXPECT_EQ(findings[5].subjectName, "Villa/House");
    EXPECT_EQ(findings[5].code, 0);
}

TEST(BuildingExportCheck, WallThicknessFindings)
{
    CheckFixture f;
    f.house->setExtWallThickness(0);
    Floor* upper = f.cleanFloor(f.house, "1st");
    Floor* cellar = f.cleanFloor(f.house, "Cellar");
    cellar->setGradeHint(1); // below grade: needs no thickness
    Floor* pictures = f.cleanFloor(f.house, "Pictures"); // never weighed
    auto messages = [&] { return messagesOf(f.house->checkExport()); };

    EXPECT_EQ(messages(), QStringList{"House: No exterior wall thickness was specified. Exterior floor area will "
                                      "not be reported."});

    upper->setActualExtWallThickness(100);
    EXPECT_EQ(messages(),
              (QStringList{"House: Floor(s) Ground are not below grade and have no exterior wall thickness specified. "
                           "Exterior floor area will not be reported for these floors.",
                           "House: Floors(s) 1st have unusually small exterior wall thickness (<16 cm)."}));

    f.ground->setActualExtWallThickness(159);
    cellar->setActualExtWallThickness(160);
    const QString thinFloors = "House: Floors(s) Ground, 1st have unusually small exterior wall thickness (<16 cm).";
    EXPECT_EQ(messages(), QStringList{thinFloors});

    // Thin building walls are named once only when every floor, "Pictures" ones included, is thin.
    f.house->setExtWallThickness(120);
    cellar->setActualExtWallThickness(0);
    EXPECT_EQ(messages(),
              QStringList{"House: Floors(s) Ground, 1st, Cellar have unusually small exterior wall thickness (<16 cm)."})
        << "the Pictures floor is never thin";
    f.house->deleteFloor(pictures, true);
    EXPECT_EQ(messages(), QStringList{"House: Exterior wall thickness is unusually small (<16 cm)."});
}

TEST(BuildingExportCheck, DuplicatedFloorNamesAndFreshFloorFindingsInFloorOrder)
{
    CheckFixture f;
    Floor* again = f.cleanFloor(f.house, "Ground");
    again->setGradeHint(0);
    again->drcFindings() = {DrcFinding{nullptr, "stale", "stale", {}, 1}};

    const QList<DrcFinding> findings = f.house->checkExport();
    EXPECT_EQ(messagesOf(findings),
              (QStringList{"House/Ground: Duplicated floor name: Ground",
                           "Grade level not set. Set above/below grade level by clicking on the floor name."}));
    ASSERT_EQ(findings.size(), 2);
    EXPECT_EQ(findings[0].subject, static_cast<Itemizeable*>(again));
    EXPECT_EQ(findings[0].subjectName, "Villa/House");
    EXPECT_EQ(findings[1].subjectName, "Villa/House/Ground");
}
