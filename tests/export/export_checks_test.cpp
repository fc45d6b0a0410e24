#include "model/app_settings.h"
#include "model/panorama.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {
const QString kNoValid = "Floor has no valid scan. Remove it or fix it before exporting.";
const QString kGradeNotSet = "Grade level not set. Set above/below grade level by clicking on the floor name.";

QStringList messagesOf(const QList<DrcFinding>& findings, const Itemizeable* onlyAbout = nullptr)
{
    QStringList messages;
    for (const DrcFinding& finding : findings)
        if (!onlyAbout || finding.subject == onlyAbout)
            messages << finding.message;
    return messages;
}

QStringList messages(Floor* floor)
{
    floor->checkDrcErrors();
    return messagesOf(floor->drcFindings());
}

// A main building with one clean floor holding the initial scan: a test sees only what it provokes.
struct CheckFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = cleanFloor(house, "Ground");
    const bool savedMetric = AppSettings::metricSystem;

    CheckFixture()
    {
        property->setName("Villa");
        house->setAsMainBuilding();
        ground->setStoredCompassRotation(10);
        property->setInitialPano(ground->panos().first());
        AppSettings::metricSystem = true;
    }
    ~CheckFixture() { AppSettings::metricSystem = savedMetric; }
    Floor* cleanFloor(Building* building, const QString& name, PanoType type = PanoType::Full)
    {
        Floor* floor = addFloor(building, name);
        floor->setGradeHint(2);
        floor->setStoredCompassRotation(0);
        placeScan(floor, "first", type, {0, 0});
        return floor;
    }
    QStringList propertyMessages() { return messagesOf(property->checkExport(), property.get()); }
};

} // namespace

TEST(PropertyExportCheck, EmptinessDisabledFloorsAndCompassCountOnlyFloorsWithScans)
{
    CheckFixture f;
    Floor* maps = f.cleanFloor(f.house, "Basement", PanoType::Map); // no buildable scan, still counted
    f.cleanFloor(f.house, "Pictures")->setStoredCompassRotation(qQNaN()); // never counted
    f.addFloor(f.house, "Attic");                                          // no scans: not counted
    EXPECT_EQ(f.propertyMessages(), QStringList{});
    maps->setStoredCompassRotation(qQNaN());
    EXPECT_EQ(f.propertyMessages(),
              QStringList{"Some floors have no compass data. Compass can be set manually on the AMBREL Portal."});
    f.ground->setStoredCompassRotation(qQNaN());
    f.ground->setShown(false);
    EXPECT_EQ(f.propertyMessages(), (QStringList{"Initial pano is not enabled on the portal: first. The first enabled "
                                                 "one will be selected.",
                                                 "Not enough compass data to determine property orientation. Compass "
                                                 "direction will need to be set manually on the portal. Please "
                                                 "re-calibrate camera compass."}));
    maps->setShown(false);
    EXPECT_EQ(f.propertyMessages()[1],
              "All floors are currently disabled. The 3D tour and floor plans will not be visible.");
    f.ground->panos().first()->setPanoType(PanoType::Map); // nothing buildable: empty, and nothing else to say
    const QList<DrcFinding> findings = f.property->checkExport();
    EXPECT_EQ(messagesOf(findings, f.property.get()).mid(1), QStringList{"Project is empty."});
    EXPECT_EQ(findings[1].code, 0) << "an empty project is not exported";
}

TEST(FloorDrc, RulesComeInTheirOrderWithTheirCodesAndEachHoldsOnlyWithinItsEdges)
{
    CheckFixture f;
    Floor* floor = f.addFloor(f.house, "GARAGE");
    floor->setCeilingHeight(950);
    Panorama* map = placeScan(floor, "map", PanoType::Map, {0, 0});
    floor->drcFindings() = {DrcFinding{nullptr, "stale", "stale", {}, 0}};
    EXPECT_EQ(messages(floor),
              (QStringList{"Garage floor is in the main building. Do you want to move it to a standalone building?",
                           kGradeNotSet, "Ceiling Height is unusually small: 95 cm", kNoValid}));
    QList<int> codes;
    for (const DrcFinding& finding : floor->drcFindings())
        codes << (finding.subject == floor ? finding.code : -1);
    EXPECT_EQ(codes, (QList<int>{1, 0, 1, 0})) << "blocking: 0, about the floor";
    AppSettings::metricSystem = false;
    EXPECT_EQ(messages(floor).at(2), "Ceiling Height is unusually small: 3'1\"");

    // Only the whole name in the main building is a garage; a ceiling height counts when set and
    // under a metre; a buildable scan counts even when hidden, an unknown one never.
    floor->setGradeHint(2);
    floor->setName("Garage 2");
    floor->setCeilingHeight(1000);
    EXPECT_EQ(messages(floor), QStringList{kNoValid});
    EXPECT_EQ(messages(f.addFloor(f.addBuilding("Shed"), "Garage")).first(), kGradeNotSet);
    map->setPanoType(PanoType::Unknown);
    placeScan(floor, "hidden", PanoType::Partial, {5000, 0})->setShown(false);
    floor->setCeilingHeight(0);
    EXPECT_EQ(messages(floor), QStringList{});
}

TEST(FloorDrc, ShownScansWithinHalfAMetreAreOutlinedInOneBlockingFinding)
{
    CheckFixture f;
    Floor* floor = f.cleanFloor(f.house, "1st");                               // "first" at (0, 0)
    Panorama* b = placeScan(floor, "b", PanoType::Full, {300, 400});         // exactly 500 from it
    Panorama* far = placeScan(floor, "far", PanoType::User, {800.1, 400}); // 500.1 from b
    ASSERT_EQ(messages(floor).size(), 1);
    const DrcFinding finding = floor->drcFindings().first();
    EXPECT_EQ(finding.code, 0);
    EXPECT_TRUE(finding.message.startsWith("Highlighted scans are closer than 50 cm. <a href=\""));
    EXPECT_TRUE(finding.message.endsWith("\">Adjust position or disable all but one.</a>"));
    for (const QPointF& inside : {QPointF(-245, 0), QPointF(0, 245), QPointF(545, 400), QPointF(300, 645)}) // r = 250
        EXPECT_TRUE(finding.highlight.contains(inside)) << inside.x() << " " << inside.y();
    EXPECT_FALSE(finding.highlight.contains(far->scenePos()) || finding.highlight.contains(QPointF(0, 260)));
    // Only the scans' own portal flags count, and partial scans may stand anywhere.
    floor->setShown(false);
    EXPECT_EQ(messages(floor).size(), 1);
    b->setShown(false);
    placeScan(floor, "c", PanoType::Partial, {150, 200});
    EXPECT_EQ(messages(floor), QStringList{});
}
