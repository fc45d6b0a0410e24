#include "support/scripted_prompt.h"

#include <QDialog>

#include <gtest/gtest.h>

namespace testsupport {

ScriptedPrompt::ScriptedPrompt()
{
    m_previous = setQuestions(this);
}

ScriptedPrompt::~ScriptedPrompt()
{
    setQuestions(m_previous);
    EXPECT_TRUE(m_answers.isEmpty()) << m_answers.size() << " scripted answer(s) were never asked for";
}

ScriptedPrompt& ScriptedPrompt::answerQuestion(QMessageBox::StandardButton button)
{
    m_answers.append(Answer(button));
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerChoice(int index)
{
    m_answers.append(Answer(index));
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerFiles(const QStringList& files)
{
    m_answers.append(Answer(Files{files}));
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerDirectory(const QString& directory)
{
    m_answers.append(Answer(Directory{directory}));
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerFloor(Floor* floor, bool cancelled)
{
    m_answers.append(Answer(FloorChoice{floor, cancelled}));
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerProjectFolders(const QStringList& selected, const QString& directory)
{
    m_answers.append(Answer(ProjectFolderChoice{true, selected, directory}));
    return *this;
}

ScriptedPrompt& ScriptedPrompt::cancelProjectFolders()
{
    m_answers.append(Answer(ProjectFolderChoice{}));
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerDialog(DialogHandler handler)
{
    m_answers.append(Answer(Dialog{std::move(handler)}));
    return *this;
}

template <typename T>
bool ScriptedPrompt::take(const QString& kind, const QString& title, const QString& text, T& out)
{
    m_asked.append({kind, title, text});
    if (m_answers.isEmpty()) {
        ADD_FAILURE() << "unexpected " << kind.toStdString() << ": " << title.toStdString() << " / "
                      << text.toStdString();
        return false;
    }
    const Answer answer = m_answers.takeFirst();
    if (!std::holds_alternative<T>(answer)) {
        ADD_FAILURE() << "a " << kind.toStdString() << " came where another kind of answer was scripted: "
                      << text.toStdString();
        return false;
    }
    out = std::get<T>(answer);
    return true;
}

Questions::Button ScriptedPrompt::question(QWidget*, Icon, const QString& title, const QString& text, Buttons,
                                           Button)
{
    QMessageBox::StandardButton button = QMessageBox::Cancel;
    take(QStringLiteral("question"), title, text, button);
    return static_cast<Button>(button);
}

int ScriptedPrompt::choice(QWidget*, Icon, const QString& title, const QString& text,
                           const QStringList&, int)
{
    int index = -1;
    take(QStringLiteral("choice"), title, text, index);
    return index;
}

QStringList ScriptedPrompt::openFileNames(QWidget*, const QString& caption, const QString&, const QString& filter)
{
    Files files;
    take(QStringLiteral("file chooser"), caption, filter, files);
    return files.value;
}

QString ScriptedPrompt::existingDirectory(QWidget*, const QString& caption, const QString& dir)
{
    Directory directory;
    take(QStringLiteral("directory chooser"), caption, dir, directory);
    return directory.value;
}

FloorChoice ScriptedPrompt::selectFloor(Building*, Floor*)
{
    FloorChoice choice;
    take(QStringLiteral("floor chooser"), QString(), QString(), choice);
    return choice;
}

int ScriptedPrompt::choiceOrCancel(QWidget*, Icon, const QString& title, const QString& text,
                                   const QString&, const QList<NamedButton>&)
{
    int index = -1;
    take(QStringLiteral("choice"), title, text, index);
    return index;
}

ProjectFolderChoice ScriptedPrompt::projectFolders(QWidget*, const QString& startDirectory)
{
    ProjectFolderChoice choice;
    take(QStringLiteral("project folder chooser"), QString(), startDirectory, choice);
    return choice;
}

int ScriptedPrompt::runDialog(QDialog* dialog)
{
    Dialog answer;
    if (!take(QStringLiteral("dialog"), dialog->windowTitle(), QString(), answer) || !answer.handler)
        return QDialog::Rejected;
    const int result = answer.handler(dialog);
    // What a modal run leaves behind: the dialog closed with that result.
    dialog->setResult(result);
    dialog->hide();
    return result;
}

} // namespace testsupport
