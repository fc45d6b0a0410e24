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

TEST(Editor, SelectedItemsRotateAsOneStepAndDeleteSparesScans)
{
    EditorFixture f;
    auto* item = new TestRotatingItem;
    auto* note = new TestItem("note");
    item->setPos(1000, 0);
    f.ground->addItem(item);
    f.ground->addItem(note);
    for (QGraphicsItem* selected : std::initializer_list<QGraphicsItem*>{f.scan, item, note})
        selected->setSelected(true);
    f.editor.rotateRightAction()->trigger();
    f.editor.rotateRightAction()->trigger();
    f.editor.rotateLeftAction()->trigger();
    EXPECT_DOUBLE_EQ(f.scan->rotation(), Editor::kRotationStep);
    EXPECT_DOUBLE_EQ(item->rotation(), Editor::kRotationStep);
    EXPECT_EQ(item->pos(), QPointF(1000, 0));
    EXPECT_EQ(note->rotation(), 0);
    ASSERT_EQ(f.ground->undoStack()->count(), 3);
    EXPECT_EQ(f.ground->undoStack()->command(0)->childCount(), 2);

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
