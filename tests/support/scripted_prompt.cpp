#include "support/scripted_prompt.h"

#include <QDialog>

namespace testsupport {

QString ScriptedPrompt::dialogTitle(QDialog* dialog) const
{
    return dialog->windowTitle();
}

void ScriptedPrompt::closeDialog(QDialog* dialog, int result)
{
    dialog->setResult(result);
    dialog->hide();
}

} // namespace testsupport
