#include "support/window_fixture.h"

#include "app/message_presenter.h"
#include "app/property_tree_view.h"
#include "model/property.h"
#include "support/gui_input.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

#include <memory>

namespace testsupport {

QStringList treeMenu(PropertyTreeView& view, const QModelIndex& index, const QString& run)
{
    const std::unique_ptr<QMenu> menu(view.contextMenuFor(index));
    QStringList texts;
    for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
        texts << action->text();
        if (action->text() == run)
            view.runContextAction(index, action);
    }
    return texts;
}

ProjectWindow::ProjectWindow()
{
    MessagePresenter::setBlockingBoxes(false);
    QObject::connect(window.messages(), &MessagePresenter::boxOpened, [this](QMessageBox* box) { boxes << box->text(); });
    window.show();
}

ProjectWindow::~ProjectWindow()
{
    if (window.currentProperty())
        window.currentProperty()->setDirty(false);
    MessagePresenter::setBlockingBoxes(true);
}

void ProjectWindow::pressKey(QWidget* widget, Qt::Key key)
{
    // The window system makes the window a person types into the active one; offscreen nothing
    // does, and only the active window's shortcuts take keys.
    QApplication::setActiveWindow(&window);
    shortcutKeyClick(widget, key);
}

void ProjectWindow::load(const QString& folder)
{
    ScriptedPrompt prompt;
    prompt.answerProjectFolders({folder}, QFileInfo(folder).absolutePath());
    window.loadAction()->trigger();
    runPostedJobs();
}

} // namespace testsupport
