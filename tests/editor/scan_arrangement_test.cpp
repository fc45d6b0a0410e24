#include "editor/editor.h"
#include "model/panorama.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/scripted_prompt.h"

#include <QAction>
#include <QTransform>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

// The walls of a 4 m square room around the origin as a scan standing at `at` sees them, every
// 2 degrees, in the scan's own frame.
QList<QPoint> squareRoomOutline(QPointF at = {})
{
    QList<QPoint> outline;
    for (int k = 0; k < 180; ++k) {
        const double a = k * 2 * 3.14159265358979323846 / 180;
        const double dx = std::cos(a), dy = std::sin(a);
        const double tx = dx > 0 ? (2000 - at.x()) / dx : dx < 0 ? (-2000 - at.x()) / dx : 1e9;
        const double ty = dy > 0 ? (2000 - at.y()) / dy : dy < 0 ? (-2000 - at.y()) / dy : 1e9;
        const double reach = std::min(tx, ty);
        outline << QPoint(int(std::lround(reach * dx)), int(std::lround(reach * dy)));
    }
    return outline;
}

// A floor of a project whose camera the arrangement supports, in the view.
struct ArrangeFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    Editor editor;

    ArrangeFixture()
    {
        property->setCameraSerialNumber("MX0123456789");
        editor.setFloor(ground);
    }
    // Asks once, expecting to be told `text` and nothing to change.
    void expectRefusal(const QString& text)
    {
        QList<QVariantList> before;
        for (Panorama* pano : ground->panos())
            before << pano->state();
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Ok);
        editor.arrangeSelectedScans();
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].title, "Arrange scans");
        EXPECT_EQ(prompt.asked()[0].text, text);
        for (int i = 0; i < before.size(); ++i)
            EXPECT_EQ(ground->panos()[i]->state(), before[i]) << i;
        EXPECT_EQ(ground->undoStack()->count(), 0);
        EXPECT_TRUE(ground->arrangeResults().isEmpty());
    }
};

} // namespace

// What keeps the arrangement from running is told: no scan selected, selected scans without an
// outline, nothing else on the floor to match against.
TEST(ScanArrangement, TellsWhyItCannotRunAndChangesNothing)
{
    ArrangeFixture f;
    Panorama* lidar = placeScan(f.ground, "s1", PanoType::Full, {0, 0}, 0, squareRoomOutline());
    Panorama* picture = f.addUserScan(f.ground, "Terrace");
    f.expectRefusal("Select the scans to arrange on the floor first.");

    lidar->setSelected(true);
    picture->setSelected(true);
    f.expectRefusal("These selected scans have no lidar outline to match: Terrace. Nothing was moved.");

    picture->setSelected(false);
    f.expectRefusal("There is nothing on this floor to arrange the selected scans against: no other scan on it "
                    "has a lidar outline. Nothing was moved.");

    // A second lidar scan of the same room is something to match against.
    placeScan(f.ground, "s2", PanoType::Full, {300, -200}, 0, squareRoomOutline());
    ScriptedPrompt prompt;
    f.editor.arrangeSelectedScans();
    EXPECT_TRUE(prompt.asked().isEmpty());
    EXPECT_FALSE(f.ground->arrangeResults().isEmpty());
}

// Several selected scans move as one: one undo step holding an edit of each.
TEST(ScanArrangement, SelectedScansMoveTogetherInOneStep)
{
    ArrangeFixture f;
    placeScan(f.ground, "s1", PanoType::Full, {0, 0}, 0, squareRoomOutline());
    const QPointF atA(700, 400), atB(-200, 1200);
    // Both turned by 40 degrees about their middle and moved by (500, -300).
    const QTransform away = QTransform().translate(750, 500).rotate(40).translate(-250, -800);
    Panorama* a = placeScan(f.ground, "s2", PanoType::Full, away.map(atA), 40, squareRoomOutline(atA));
    Panorama* b = placeScan(f.ground, "s3", PanoType::Full, away.map(atB), 40, squareRoomOutline(atB));
    const QVariantList beforeA = a->state(), beforeB = b->state();
    a->setSelected(true);
    b->setSelected(true);
    ScriptedPrompt prompt;
    f.editor.arrangeSelectedScans();
    QUndoStack* stack = f.ground->undoStack();
    ASSERT_EQ(stack->count(), 1);
    EXPECT_EQ(stack->command(0)->childCount(), 2);
    // The square fits itself every quarter turn about its middle.
    const double quarter = std::round(a->rotation() / 90.0) * 90.0;
    EXPECT_NEAR(a->rotation(), quarter, 0.5);
    EXPECT_NEAR(b->rotation(), quarter, 0.5);
    const QTransform turn = QTransform().rotate(quarter);
    EXPECT_LT(QLineF(a->pos(), turn.map(atA)).length(), 20);
    EXPECT_LT(QLineF(b->pos(), turn.map(atB)).length(), 20);
    stack->undo();
    EXPECT_EQ(a->state(), beforeA);
    EXPECT_EQ(b->state(), beforeB);
}
