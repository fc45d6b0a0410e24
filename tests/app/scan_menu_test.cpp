#include "app/property_tree_model.h"
#include "app/property_tree_view.h"
#include "editor/editor.h"
#include "model/floor.h"
#include "model/note.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/undo_commands.h"
#include "support/gui_input.h"
#include "support/test_support.h"
#include "support/window_fixture.h"
#include "support/ztm5_project.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A right click on the floor view at a scene point; the menu that opens is read and the entry
// named `choose` is taken with the keyboard, as a person does. Returns the menu's entries.
QStringList rightClickOnFloor(Editor* editor, QPointF scenePoint, const QString& choose)
{
    QStringList seen;
    QTimer picker;
    QObject::connect(&picker, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !seen.isEmpty())
            return;
        for (QAction* action : menu->actions()) {
            seen << action->text();
            if (action->text() == choose)
                menu->setActiveAction(action);
        }
        keyClick(menu, choose.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
    });
    picker.start(5);
    const QPoint at = editor->mapFromScene(scenePoint);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, editor->viewport()->mapToGlobal(at));
    QApplication::sendEvent(editor->viewport(), &event);
    picker.stop();
    return seen;
}

bool greyInTree(MainWindow& window, Itemizeable* entry)
{
    return window.treeModel()->indexOf(entry).data(Qt::ForegroundRole).value<QColor>() == QColor(Qt::gray);
}

} // namespace

// A scan the camera marked hidden is shown grey; its menu, in the tree and in the floor view,
// offers "Show in Ambrel" (and then "Hide in Ambrel") by its own portal flag, as a floor's does.
// Delete does not remove scans: with only scans selected it is off and says how scans go.
TEST(ScanMenu, HiddenScansAreShownAgainThroughTheirMenuAndDeleteLeavesScans)
{
    QTemporaryDir root;
    const QString folder = root.filePath("Birch Court");
    makeZtm5Project(folder, {"--scans", "2", "--plain-shots"});
    ProjectWindow w;
    w.load(folder);
    Editor* editor = w.window.editor();
    Floor* ground = editor->floor();
    ASSERT_NE(ground, nullptr);
    ASSERT_EQ(ground->panos().size(), 2);
    Panorama* shown = ground->panos()[0];
    Panorama* hidden = ground->panos()[1];
    ASSERT_TRUE(shown->isShown(true));
    ASSERT_FALSE(hidden->isShown(true)) << "the camera marked the second scan hidden";
    EXPECT_TRUE(greyInTree(w.window, hidden));
    EXPECT_FALSE(w.window.isWindowModified());

    PropertyTreeView& tree = *w.window.treeView();
    EXPECT_EQ(treeMenu(tree, w.window.treeModel()->indexOf(hidden), "Show in Ambrel"),
              QStringList{"Show in Ambrel"});
    EXPECT_TRUE(hidden->isShown(true));
    EXPECT_FALSE(greyInTree(w.window, hidden));
    EXPECT_TRUE(w.window.isWindowModified());
    EXPECT_EQ(treeMenu(tree, w.window.treeModel()->indexOf(hidden)), QStringList{"Hide in Ambrel"});

    EXPECT_EQ(rightClickOnFloor(editor, shown->scenePos(), "Hide in Ambrel"), QStringList{"Hide in Ambrel"});
    EXPECT_FALSE(shown->isShown(true));
    EXPECT_TRUE(greyInTree(w.window, shown));
    EXPECT_EQ(rightClickOnFloor(editor, shown->scenePos(), "Show in Ambrel"), QStringList{"Show in Ambrel"});
    EXPECT_TRUE(shown->isShown(true));
    EXPECT_EQ(rightClickOnFloor(editor, QPointF(90000, 90000), {}), QStringList()) << "no menu off the scans";

    editor->selectItem(shown);
    QAction* del = editor->deleteAction();
    EXPECT_FALSE(del->isEnabled());
    EXPECT_TRUE(del->toolTip().contains("a scan goes with its floor (Delete in the floor's menu in the tree)"))
        << del->toolTip().toStdString();
    w.pressKey(editor, Qt::Key_Delete);
    EXPECT_EQ(ground->panos().size(), 2);

    // With a note selected too, Delete removes the note and leaves the scan.
    auto* note = new Note(QPointF(500, 500), "Fuse box");
    ground->pushCommand(new AddToSceneCommand(ground, note));
    note->setSelected(true);
    shown->setSelected(true);
    ASSERT_TRUE(del->isEnabled());
    w.pressKey(editor, Qt::Key_Delete);
    EXPECT_FALSE(ground->items().contains(note));
    EXPECT_EQ(ground->panos().size(), 2);
    w.window.currentProperty()->setDirty(false);
}
