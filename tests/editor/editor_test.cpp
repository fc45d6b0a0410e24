#include "editor/editor.h"
#include "model/panorama.h"
#include "support/model_fixture.h"

#include <QAction>
#include <QApplication>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// House with Ground (scans at 0,0 and 4000,2000) and an empty First; Ground in the view.
struct EditorFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    Floor* first = addFloor(house, "First");
    Panorama* scan = addUserScan(ground, "s1");
    Editor editor;

    EditorFixture()
    {
        scan->setPos(0, 0);
        addUserScan(ground, "s2")->setPos(4000, 2000);
        editor.resize(800, 600);
        editor.show();
        editor.setFloor(ground);
        QApplication::processEvents();
    }
    QColor pixelAt(QPointF scenePoint)
    {
        editor.viewport()->update();
        QApplication::processEvents();
        return editor.viewport()->grab().toImage().pixelColor(editor.mapFromScene(scenePoint));
    }
};

} // namespace

// "]" and "[" turn the selection through the floor's move/rotate command: several items together
// about the middle of them all, one item where it stands; each press is one undo step.
TEST(Editor, SelectedItemsRotateAsOneStepAndDeleteSparesScans)
{
    EditorFixture f;
    auto* item = new TestRotatingItem;
    auto* note = new TestItem("note");
    auto* unselected = new TestRotatingItem;
    item->setPos(1000, 0);
    note->setPos(0, 600);
    unselected->setPos(-3000, 0);
    for (QGraphicsItem* added : std::initializer_list<QGraphicsItem*>{item, note, unselected})
        f.ground->addItem(added);
    const QList<QGraphicsItem*> selection{f.scan, item, note};
    QRectF bounds;
    for (QGraphicsItem* selected : selection) {
        selected->setSelected(true);
        bounds |= selected->sceneBoundingRect();
    }
    const QTransform turn = QTransform()
                                .translate(bounds.center().x(), bounds.center().y())
                                .rotate(Editor::kRotationStep)
                                .translate(-bounds.center().x(), -bounds.center().y());
    const QList<QPointF> before{f.scan->pos(), item->pos(), note->pos()};
    f.editor.rotateRightAction()->trigger();
    QUndoStack* stack = f.ground->undoStack();
    ASSERT_EQ(stack->count(), 1);
    EXPECT_EQ(stack->text(0), "Move/rotate items");
    EXPECT_EQ(stack->command(0)->childCount(), 3) << "one edit per item, in one macro";
    EXPECT_EQ(f.ground->macroDepth(), 0);
    for (int i = 0; i < selection.size(); ++i)
        EXPECT_LT(QLineF(selection[i]->pos(), turn.map(before[i])).length(), 1e-6) << i;
    EXPECT_NEAR(f.scan->rotation(), Editor::kRotationStep, 1e-9);
    EXPECT_NEAR(item->rotation(), Editor::kRotationStep, 1e-9);
    EXPECT_EQ(note->rotation(), 0) << "a note without a rotation only moves";
    EXPECT_EQ(unselected->pos(), QPointF(-3000, 0));
    EXPECT_EQ(unselected->rotation(), 0);
    f.editor.undoAction()->trigger();
    for (int i = 0; i < selection.size(); ++i)
        EXPECT_EQ(selection[i]->pos(), before[i]) << i;
    EXPECT_EQ(f.scan->rotation(), 0);

    // One item turns about its own position.
    f.ground->clearSelection();
    item->setSelected(true);
    f.editor.rotateLeftAction()->trigger();
    f.editor.rotateLeftAction()->trigger();
    EXPECT_EQ(item->pos(), QPointF(1000, 0));
    EXPECT_NEAR(item->rotation(), -2 * Editor::kRotationStep, 1e-9);
    ASSERT_EQ(stack->count(), 2) << "the undone step was cut off, each press made one";
    EXPECT_EQ(stack->command(1)->childCount(), 1);
    for (QGraphicsItem* selected : selection)
        selected->setSelected(true);

    f.editor.deleteAction()->trigger();
    EXPECT_EQ(note->scene(), nullptr);
    EXPECT_EQ(item->scene(), nullptr);
    EXPECT_EQ(f.scan->scene(), f.ground);
    f.editor.undoAction()->trigger();
    EXPECT_EQ(note->scene(), f.ground);

    // Undo follows the floor shown; a floor that goes is let go of.
    f.editor.setFloor(f.first);
    EXPECT_FALSE(f.editor.undoAction()->isEnabled());
    f.editor.setFloor(f.ground);
    EXPECT_TRUE(f.editor.undoAction()->isEnabled());
    f.house->deleteFloor(f.ground, false);
    EXPECT_EQ(f.editor.scene(), nullptr);
    EXPECT_FALSE(f.editor.undoAction()->isEnabled());
    EXPECT_FALSE(f.editor.rotateByCompassAction()->isEnabled());
}

TEST(Editor, DrawsTheFloorsFindingsUntilTheNextEditAndCentresAHighlightHandedToIt)
{
    EditorFixture f;
    const QPointF centre(2000, 1000), far(30000, 30000);
    EXPECT_EQ(f.pixelAt(centre).rgb(), qRgb(0, 0, 0));
    QPainterPath circle, farCircle;
    circle.addEllipse(centre, 400, 400);
    farCircle.addEllipse(far, 300, 300);
    f.ground->drcFindings().append(DrcFinding{f.ground, "Villa/House/Ground", "too close", circle, 0});
    EXPECT_GT(f.pixelAt(centre).red(), 40);
    EXPECT_LT(f.pixelAt(centre).green(), 30);
    f.ground->endMacro();
    EXPECT_EQ(f.pixelAt(centre).rgb(), qRgb(0, 0, 0));
    f.editor.showHighlight(farCircle);
    EXPECT_LE(QLineF(f.editor.mapToScene(f.editor.viewport()->rect().center()), far).length(), 100);
    EXPECT_GT(f.pixelAt(far).red(), 40);
}
