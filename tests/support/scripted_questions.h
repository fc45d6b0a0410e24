#pragma once

#include "base/questions.h"

#include <QList>
#include <QString>

#include <functional>
#include <variant>

namespace testsupport {

// Answers the program's questions and choosers from a queue, in order. A question that comes when
// the queue is empty or expects another kind of answer fails the running test and is answered
// as if cancelled; answers left over when it ends fail it too. Installs itself while it lives.
// Needs no widgets: the tests of the layers below the model use it as it is.
class ScriptedQuestions : public Questions {
public:
    struct Asked {
        QString kind;
        QString title;
        QString text;
        Icon icon = NoIcon;
        QWidget* parent = nullptr; // as given to questions and directory choosers; never used
    };

    ScriptedQuestions();
    ~ScriptedQuestions() override;
    ScriptedQuestions(const ScriptedQuestions&) = delete;
    ScriptedQuestions& operator=(const ScriptedQuestions&) = delete;

    // The button chosen: a Questions::Button or the window system's own value of it.
    ScriptedQuestions& answerQuestion(Buttons button);
    ScriptedQuestions& answerChoice(int index);
    ScriptedQuestions& answerFiles(const QStringList& files);
    ScriptedQuestions& answerDirectory(const QString& directory);
    ScriptedQuestions& answerFloor(Floor* floor, bool cancelled);
    // The project folder chooser accepted with these selected entries while showing directory.
    ScriptedQuestions& answerProjectFolders(const QStringList& selected, const QString& directory);
    ScriptedQuestions& cancelProjectFolders();
    // A dialog run through runDialog is handed to `handler`, which may look at it and press its
    // buttons; the handler's value is the dialog's result.
    using DialogHandler = std::function<int(QDialog* dialog)>;
    ScriptedQuestions& answerDialog(DialogHandler handler);

    const QList<Asked>& asked() const { return m_asked; }
    int pending() const { return static_cast<int>(m_answers.size()); }

    Button question(QWidget* parent, Icon icon, const QString& title, const QString& text, Buttons buttons,
                    Button defaultButton) override;
    int choice(QWidget* parent, Icon icon, const QString& title, const QString& text, const QStringList& buttons,
               int defaultIndex) override;
    // Recorded with the caption as the title and the filter as the text.
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter) override;
    // Recorded with the caption as the title and the start directory as the text.
    QString existingDirectory(QWidget* parent, const QString& caption, const QString& dir) override;
    FloorChoice selectFloor(Building* building, Floor* exclude) override;
    // Answered from answerChoice; -1 stands for Cancel.
    int choiceOrCancel(Icon icon, const QString& title, const QString& text, const QString& informativeText,
                       const QList<NamedButton>& buttons) override;
    // Recorded with the start directory as its text.
    ProjectFolderChoice projectFolders(QWidget* parent, const QString& startDirectory) override;
    int runDialog(QDialog* dialog) override;

protected:
    // What a dialog run shows and leaves behind; widgets are known only where dialogs are.
    virtual QString dialogTitle(QDialog*) const { return {}; }
    virtual void closeDialog(QDialog*, int /*result*/) {}

private:
    struct Files { QStringList value; };
    struct Directory { QString value; };
    struct Dialog { DialogHandler handler; };
    using Answer = std::variant<Buttons, int, Files, Directory, FloorChoice, ProjectFolderChoice, Dialog>;

    template <typename T>
    bool take(const QString& kind, const QString& title, const QString& text, T& out, Icon icon = NoIcon);

    QList<Answer> m_answers;
    QList<Asked> m_asked;
    Questions* m_previous = nullptr;
};

} // namespace testsupport
