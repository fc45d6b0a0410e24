#include "support/scripted_questions.h"

#include <gtest/gtest.h>

namespace testsupport {

ScriptedQuestions::ScriptedQuestions()
{
    m_previous = setQuestions(this);
}

ScriptedQuestions::~ScriptedQuestions()
{
    setQuestions(m_previous);
    EXPECT_TRUE(m_answers.isEmpty()) << m_answers.size() << " scripted answer(s) were never asked for";
}

ScriptedQuestions& ScriptedQuestions::answerQuestion(Buttons button)
{
    m_answers.append(Answer(std::in_place_type<Buttons>, button));
    return *this;
}

ScriptedQuestions& ScriptedQuestions::answerChoice(int index)
{
    m_answers.append(Answer(std::in_place_type<int>, index));
    return *this;
}

ScriptedQuestions& ScriptedQuestions::answerFiles(const QStringList& files)
{
    m_answers.append(Answer(Files{files}));
    return *this;
}

ScriptedQuestions& ScriptedQuestions::answerDirectory(const QString& directory)
{
    m_answers.append(Answer(Directory{directory}));
    return *this;
}

ScriptedQuestions& ScriptedQuestions::answerFloor(Floor* floor, bool cancelled)
{
    m_answers.append(Answer(FloorChoice{floor, cancelled}));
    return *this;
}

ScriptedQuestions& ScriptedQuestions::answerProjectFolders(const QStringList& selected, const QString& directory)
{
    m_answers.append(Answer(ProjectFolderChoice{true, selected, directory}));
    return *this;
}

ScriptedQuestions& ScriptedQuestions::cancelProjectFolders()
{
    m_answers.append(Answer(ProjectFolderChoice{}));
    return *this;
}

ScriptedQuestions& ScriptedQuestions::answerDialog(DialogHandler handler)
{
    m_answers.append(Answer(Dialog{std::move(handler)}));
    return *this;
}

template <typename T>
bool ScriptedQuestions::take(const QString& kind, const QString& title, const QString& text, T& out, Icon icon)
{
    m_asked.append({kind, title, text, icon});
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

Questions::Button ScriptedQuestions::question(QWidget* parent, Icon icon, const QString& title, const QString& text,
                                              Buttons, Button)
{
    Buttons button = Cancel;
    take(QStringLiteral("question"), title, text, button, icon);
    m_asked.last().parent = parent;
    return static_cast<Button>(button);
}

int ScriptedQuestions::choice(QWidget*, Icon icon, const QString& title, const QString& text,
                              const QStringList&, int)
{
    int index = -1;
    take(QStringLiteral("choice"), title, text, index, icon);
    return index;
}

QStringList ScriptedQuestions::openFileNames(QWidget*, const QString& caption, const QString&, const QString& filter)
{
    Files files;
    take(QStringLiteral("file chooser"), caption, filter, files);
    return files.value;
}

QString ScriptedQuestions::existingDirectory(QWidget* parent, const QString& caption, const QString& dir)
{
    Directory directory;
    take(QStringLiteral("directory chooser"), caption, dir, directory);
    m_asked.last().parent = parent;
    return directory.value;
}

FloorChoice ScriptedQuestions::selectFloor(Building*, Floor*)
{
    FloorChoice choice;
    take(QStringLiteral("floor chooser"), QString(), QString(), choice);
    return choice;
}

int ScriptedQuestions::choiceOrCancel(Icon, const QString& title, const QString& text, const QString&,
                                      const QList<NamedButton>&)
{
    int index = -1;
    take(QStringLiteral("choice"), title, text, index);
    return index;
}

ProjectFolderChoice ScriptedQuestions::projectFolders(QWidget*, const QString& startDirectory)
{
    ProjectFolderChoice choice;
    take(QStringLiteral("project folder chooser"), QString(), startDirectory, choice);
    return choice;
}

int ScriptedQuestions::runDialog(QDialog* dialog)
{
    Dialog answer;
    if (!take(QStringLiteral("dialog"), dialogTitle(dialog), QString(), answer) || !answer.handler)
        return 0; // rejected
    const int result = answer.handler(dialog);
    closeDialog(dialog, result);
    return result;
}

} // namespace testsupport
