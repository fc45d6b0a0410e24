#include "editor/editor.h"
#include "pano/panorama.h"
#include "support/gui_input.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QUndoGroup>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

struct EditorFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    Floor* first = addFloor(house, "First");
    Panorama* scan = addUserScan(ground, "s1");
    Editor editor;

    EditorFixture()
    {
        scan->setPos(0, 0);
        auto* other = addUserScan(ground, "s2");
        other->setPos(4000, 2000);
        editor.resize(800, 600);
        editor.show();
        editor.setFloor(ground);
        QApplication::processEvents();
        property->setDirty(false);
    }

    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
    {
        mouseEvent(editor.viewport(), type, at, Qt::LeftButton, buttons);
    }

    // A left-button drag in the view, in viewport pixels.
    void drag(QPointF sceneFrom, QPoint by)
    {
        const QPoint start = editor.mapFromScene(sceneFrom);
        mouse(QEvent::MouseButtonPress, start, Qt::LeftButton);
        for (int step = 1; step <= 4; ++step)
            mouse(QEvent::MouseMove, start + by * step / 4, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, start + by, Qt::NoButton);
    }
};

bool near(QPointF a, QPointF b, double tolerance)
{
    return QLineF(a, b).length() <= tolerance;
}

} // namespace

TEST(Editor, ShowsTheFloorFittedAndLetsGoOfIt)
{
    EditorFixture f;
    EXPECT_EQ(f.editor.scene(), f.ground);
    EXPECT_EQ(f.editor.floor(), f.ground);
    // Both scans are in view.
    const QRect visible = f.editor.viewport()->rect();
    EXPECT_TRUE(visible.contains(f.editor.mapFromScene(QPointF(0, 0))));
    EXPECT_TRUE(visible.contains(f.editor.mapFromScene(QPointF(4000, 2000))));
    EXPECT_EQ(f.editor.undoGroup()->activeStack(), f.ground->undoStack());

    f.house->deleteFloor(f.ground, false);
    EXPECT_EQ(f.editor.floor(), nullptr);
    EXPECT_EQ(f.editor.scene(), nullptr);
    EXPECT_FALSE(f.editor.undoAction()->isEnabled());
    EXPECT_FALSE(f.editor.rotateByCompassAction()->isEnabled());
}

TEST(Editor, DraggingAScanMovesItAsOneStepOfThatFloorsUndo)
{
    EditorFixture f;
    const double pixel = 1.0 / f.editor.transform().m11();
    f.drag(QPointF(0, 0), QPoint(60, 0));
    const QPointF moved = f.scan->pos();
    EXPECT_TRUE(near(moved, QPointF(60 * pixel, 0), 2 * pixel)) << moved.x() << "," << moved.y();
    QUndoStack* stack = f.ground->undoStack();
    ASSERT_EQ(stack->count(), 1);
    EXPECT_EQ(stack->text(0), "Move pano");
    EXPECT_TRUE(f.property->isDirty());
    // A click without movement is no step.
    f.drag(moved, QPoint(0, 0));
    EXPECT_EQ(stack->count(), 1);

    // Undo follows the floor shown: another floor has nothing to undo, this one its move.
    f.editor.setFloor(f.first);
    EXPECT_FALSE(f.editor.undoAction()->isEnabled());
    f.editor.setFloor(f.ground);
    f.editor.undoAction()->trigger();
    EXPECT_EQ(f.scan->pos(), QPointF(0, 0));
    f.editor.redoAction()->trigger();
    EXPECT_EQ(f.scan->pos(), moved);
}

TEST(Editor, SelectedItemsRotateAsOneStepAndDeleteSparesScans)
{
    EditorFixture f;
    auto* item = new TestRotatingItem;
    f.ground->addItem(item);
    item->setPos(1000, 0);
    auto* note = new TestItem("note");
    f.ground->addItem(note);
    EXPECT_FALSE(f.editor.rotateRightAction()->isEnabled());
    f.scan->setSelected(true);
    item->setSelected(true);
    note->setSelected(true);
    ASSERT_TRUE(f.editor.rotateRightAction()->isEnabled());

    f.editor.rotateRightAction()->trigger();
    f.editor.rotateRightAction()->trigger();
    f.editor.rotateLeftAction()->trigger();
    EXPECT_DOUBLE_EQ(f.scan->rotation(), Editor::kRotationStep);
    EXPECT_DOUBLE_EQ(item->rotation(), Editor::kRotationStep);
    EXPECT_EQ(item->pos(), QPointF(1000, 0));
    EXPECT_EQ(note->rotation(), 0);
    QUndoStack* stack = f.ground->undoStack();
    ASSERT_EQ(stack->count(), 3);
    EXPECT_EQ(stack->text(0), "Rotate selection");
    // One step holds both items' edits.
    EXPECT_EQ(stack->command(0)->childCount(), 2);

    // Delete takes the draft items of the selection, never a scan.
    f.editor.deleteAction()->trigger();
    EXPECT_EQ(note->scene(), nullptr);
    EXPECT_EQ(item->scene(), nullptr);
    EXPECT_EQ(f.scan->scene(), f.ground);
    f.editor.undoAction()->trigger();
    EXPECT_EQ(note->scene(), f.ground);
}

TEST(Editor, DrawsTheOutlinesOfTheFloorsFindings)
{
    EditorFixture f;
    const QPointF centre(2000, 1000);
    auto pixelAt = [&](QPointF scenePoint) {
        QApplication::processEvents();
        return f.editor.viewport()->grab().toImage().pixelColor(f.editor.mapFromScene(scenePoint));
    };
    ASSERT_TRUE(f.editor.viewport()->rect().contains(f.editor.mapFromScene(centre)));
    EXPECT_EQ(pixelAt(centre).rgb(), qRgb(0, 0, 0));

    QPainterPath circle;
    circle.addEllipse(centre, 400, 400);
    f.ground->drcFindings().append(DrcFinding{f.ground, "Villa/House/Ground", "too close", circle, 0});
    f.editor.viewport()->update();
    const QColor marked = pixelAt(centre);
    EXPECT_GT(marked.red(), 40);
    EXPECT_LT(marked.green(), 30);

    // The next edit empties the findings and their outlines go.
    f.ground->endMacro();
    f.editor.viewport()->update();
    EXPECT_EQ(pixelAt(centre).rgb(), qRgb(0, 0, 0));

    // An outline handed to the view is shown and centred.
    QPainterPath far;
    far.addEllipse(QPointF(30000, 30000), 300, 300);
    f.editor.showHighlight(far);
    EXPECT_TRUE(near(f.editor.mapToScene(f.editor.viewport()->rect().center()), QPointF(30000, 30000), 100));
    const QColor shown = pixelAt(QPointF(30000, 30000));
    EXPECT_GT(shown.red(), 40);
    EXPECT_LT(shown.green(), 30);
}
