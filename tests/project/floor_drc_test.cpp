#include "app/app_settings.h"
#include "pano/panorama.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct DrcFixture : ProjectFixture {
    Building* main = addBuilding("House");
    Floor* floor = addFloor(main, "Ground");
    bool savedMetric = AppSettings::metricSystem;

    DrcFixture()
    {
        main->setAsMainBuilding();
        AppSettings::metricSystem = true;
    }
    ~DrcFixture() { AppSettings::metricSystem = savedMetric; }

    // A floor that breaks no rule, so that a test sees only the rule it provokes.
    void makeClean(Floor* f)
    {
        f->setGradeHint(2);
        if (f->panos().isEmpty())
            placeScan(f, f->ownName() + " scan", PanoType::Full, {0, 0});
    }
};

QStringList messagesOf(const QList<DrcFinding>& findings)
{
    QStringList messages;
    for (const DrcFinding& finding : findings)
        messages << finding.message;
    return messages;
}

QList<int> codesOf(const QList<DrcFinding>& findings)
{
    QList<int> codes;
    for (const DrcFinding& finding : findings)
        codes << finding.code;
    return codes;
}

// True when the path covers a point just inside the circle of radius 250 about the centre, on
// each side, and nothing just outside it.
bool hasCircleAbout(const QPainterPath& path, QPointF centre)
{
    for (const QPointF& direction : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)})
        if (!path.contains(centre + 245 * direction))
            return false;
    return true;
}

} // namespace

TEST(FloorDrc, RulesComeInTheirOrderWithTheirCodesAndTheFloorAsSubject)
{
    DrcFixture f;
    f.floor->setName("GARAGE");
    f.floor->setCeilingHeight(950);
    placeScan(f.floor, "map", PanoType::Map, {0, 0});
    f.floor->drcFindings() = {DrcFinding{nullptr, "stale", "stale", {}, 0}};

    f.floor->checkDrcErrors();
    const QList<DrcFinding>& findings = f.floor->drcFindings();
    EXPECT_EQ(messagesOf(findings),
              (QStringList{"Garage floor is in the main building. Do you want to move it to a standalone building?",
                           "Grade level not set. Set above/below grade level by clicking on the floor name.",
                           "Ceiling Height is unusually small: 95 cm",
                           "Floor has no valid scan. Remove it or fix it before exporting."}));
    EXPECT_EQ(codesOf(findings), (QList<int>{1, 0, 1, 0}));
    for (const DrcFinding& finding : findings) {
        EXPECT_EQ(finding.subject, static_cast<Itemizeable*>(f.floor));
        EXPECT_EQ(finding.subjectName, "New Property/House/GARAGE");
        EXPECT_TRUE(finding.highlight.isEmpty());
    }

    AppSettings::metricSystem = false;
    f.floor->checkDrcErrors();
    EXPECT_EQ(f.floor->drcFindings().at(2).message, "Ceiling Height is unusually small: 3'1\"");

    f.floor->setName("Pictures 2"); // loose pictures: never checked
    f.floor->checkDrcErrors();
    EXPECT_TRUE(f.floor->drcFindings().isEmpty());
}

TEST(FloorDrc, GarageOnlyByExactNameAndOnlyInTheMainBuilding)
{
    DrcFixture f;
    const QString garage = "Garage floor is in the main building. Do you want to move it to a standalone building?";
    Floor* garage2 = f.addFloor(f.main, "Garage 2");
    Floor* inMain = f.addFloor(f.main, "garage");
    Building* shed = f.addBuilding("Shed");
    Floor* elsewhere = f.addFloor(shed, "Garage");
    for (Floor* floor : {garage2, inMain, elsewhere}) {
        f.makeClean(floor);
        floor->checkDrcErrors();
    }
    EXPECT_TRUE(garage2->drcFindings().isEmpty());
    EXPECT_EQ(messagesOf(inMain->drcFindings()), QStringList{garage});
    EXPECT_TRUE(elsewhere->drcFindings().isEmpty());
}

TEST(FloorDrc, CeilingHeightWarningOnlyWhenSetAndBelowOneMetre)
{
    DrcFixture f;
    f.makeClean(f.floor);
    for (const auto& [height, findings] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{999, 1}, std::pair{1000, 0}}) {
        f.floor->setCeilingHeight(height);
        f.floor->checkDrcErrors();
        EXPECT_EQ(f.floor->drcFindings().size(), findings) << "height " << height;
    }
}

TEST(FloorDrc, ValidScansAreBuildableKindsShownOrNot)
{
    DrcFixture f;
    f.floor->setGradeHint(1);
    const QString noValid = "Floor has no valid scan. Remove it or fix it before exporting.";
    f.floor->checkDrcErrors();
    EXPECT_EQ(messagesOf(f.floor->drcFindings()), QStringList{noValid}) << "no scans at all";

    Panorama* unknown = placeScan(f.floor, "unknown", PanoType::Unknown, {0, 0});
    f.floor->checkDrcErrors();
    EXPECT_EQ(messagesOf(f.floor->drcFindings()), QStringList{noValid});

    Panorama* hidden = placeScan(f.floor, "hidden", PanoType::Full, {5000, 0});
    hidden->setShown(false);
    f.floor->checkDrcErrors();
    EXPECT_TRUE(f.floor->drcFindings().isEmpty()) << "a hidden full scan still counts";

    delete hidden;
    delete unknown;
    placeScan(f.floor, "partial", PanoType::Partial, {0, 0});
    f.floor->checkDrcErrors();
    EXPECT_TRUE(f.floor->drcFindings().isEmpty());
}

TEST(FloorDrc, ShownScansWithinHalfAMetreAreOutlinedInOneBlockingFinding)
{
    DrcFixture f;
    f.floor->setGradeHint(2);
    Panorama* a = placeScan(f.floor, "a", PanoType::Full, {0, 0});
    Panorama* b = placeScan(f.floor, "b", PanoType::Full, {300, 400}); // exactly 500 from a
    Panorama* far = placeScan(f.floor, "far", PanoType::User, {800.1, 400}); // 500.1 from b
    f.floor->checkDrcErrors();
    ASSERT_EQ(f.floor->drcFindings().size(), 1);
    const DrcFinding finding = f.floor->drcFindings().first();
    EXPECT_EQ(finding.code, 0);
    EXPECT_TRUE(finding.message.startsWith("Highlighted scans are closer than 50 cm. <a href=\"")) << finding.message.toStdString();
    EXPECT_TRUE(finding.message.endsWith("\">Adjust position or disable all but one.</a>")) << finding.message.toStdString();
    EXPECT_EQ(finding.highlight.fillRule(), Qt::WindingFill);
    EXPECT_TRUE(hasCircleAbout(finding.highlight, a->scenePos()));
    EXPECT_TRUE(hasCircleAbout(finding.highlight, b->scenePos()));
    EXPECT_FALSE(finding.highlight.contains(far->scenePos()));
    EXPECT_FALSE(finding.highlight.contains(QPointF(0, 260)));

    AppSettings::metricSystem = false;
    f.floor->checkDrcErrors();
    EXPECT_TRUE(f.floor->drcFindings().first().message.startsWith("Highlighted scans are closer than 19.7\". "));

    // A third scan close to both: every pair adds its circles, still one finding.
    Panorama* c = placeScan(f.floor, "c", PanoType::Full, {150, 200});
    f.floor->checkDrcErrors();
    ASSERT_EQ(f.floor->drcFindings().size(), 1);
    EXPECT_TRUE(hasCircleAbout(f.floor->drcFindings().first().highlight, c->scenePos()));

    // Only the scans' own portal flags count: a hidden floor does not matter, hidden scans and
    // partial ones may stand anywhere.
    f.floor->setShown(false);
    f.floor->checkDrcErrors();
    EXPECT_EQ(f.floor->drcFindings().size(), 1);
    b->setShown(false);
    c->setPanoType(PanoType::Partial);
    f.floor->checkDrcErrors();
    EXPECT_TRUE(f.floor->drcFindings().isEmpty());
}
