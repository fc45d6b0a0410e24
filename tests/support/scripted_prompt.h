#pragma once

#include "support/scripted_questions.h"

#include <QMessageBox>

namespace testsupport {

// The scripted questions of the model's and the application's tests, where questions may also
// run dialogs: a dialog it answers is left closed with the scripted result, as a modal run leaves it.
class ScriptedPrompt : public ScriptedQuestions {
protected:
    QString dialogTitle(QDialog* dialog) const override;
    void closeDialog(QDialog* dialog, int result) override;
};

} // namespace testsupport
