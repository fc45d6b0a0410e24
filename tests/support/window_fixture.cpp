#include "support/window_fixture.h"

#include "app/message_presenter.h"
#include "model/property.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QFileInfo>
#include <QMessageBox>

namespace testsupport {

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

void ProjectWindow::load(const QString& folder)
{
    ScriptedPrompt prompt;
    prompt.answerProjectFolders({folder}, QFileInfo(folder).absolutePath());
    window.loadAction()->trigger();
    runPostedJobs();
}

} // namespace testsupport
