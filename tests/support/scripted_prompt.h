#pragma once

#include "base/questions.h"

#include <QMessageBox>

#include <QList>
#include <QString>

#include <functional>
#include <variant>

namespace testsupport {

// Answers the program's questions and choosers from a queue, in order. A question that comes when
// the queue is empty or expects another kind of answer fails the running test and is answered
// as if cancelled; answers left over when the prompt ends fail it too. Installs itself while it lives.
class ScriptedPrompt : public Questions {
public:
    struct Asked {
        QString kind;
        QString title;
        QString text;
    };

    ScriptedPrompt();
    ~ScriptedPrompt() override;
    ScriptedPrompt(const ScriptedPrompt&) = delete;
    ScriptedPrompt& operator=(const ScriptedPrompt&) = delete;

    ScriptedPrompt& answerQuestion(QMessageBox::StandardButton button);
    ScriptedPrompt& answerChoice(int index);
    ScriptedPrompt& answerFiles(const QStringList& files);
    ScriptedPrompt& answerDirectory(const QString& directory);
    ScriptedPrompt& answerFloor(Floor* floor, bool cancelled);
    // The project folder chooser accepted with these selected entries while showing directory.
    ScriptedPrompt& answerProjectFolders(const QStringList& selected, const QString& directory);
    ScriptedPrompt& cancelProjectFolders();
    // A dialog run through runDialog is handed to `handler`, which may look at it and press its
    // buttons; the handler's value is the dialog's result.
    using DialogHandler = std::function<int(QDialog* dialog)>;
    ScriptedPrompt& answerDialog(DialogHandler handler);

    const QList<Asked>& asked() const { return m_asked; }
    int pending() const { return static_cast<int>(m_answers.size()); }

    Button question(QWidget* parent, Icon icon, const QString& title, const QString& text, Buttons buttons,
                    Button defaultButton) override;
    int choice(QWidget* parent, Icon icon, const QString& title, const QString& text, const QStringList& buttons,
               int defaultIndex) override;
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter) override;
    QString existingDirectory(QWidget* parent, const QString& caption, const QString& dir) override;
    FloorChoice selectFloor(Building* building, Floor* exclude) override;
    // Answered from answerChoice; -1 stands for Cancel.
    int choiceOrCancel(QWidget* parent, Icon icon, const QString& title, const QString& text,
                       const QString& informativeText, const QList<NamedButton>& buttons) override;
    // Recorded with the start directory as its text.
    ProjectFolderChoice projectFolders(QWidget* parent, const QString& startDirectory) override;
    int runDialog(QDialog* dialog) override;

private:
    struct Files { QStringList value; };
    struct Directory { QString value; };
    struct Dialog { DialogHandler handler; };
    using Answer = std::variant<QMessageBox::StandardButton, int, Files, Directory, FloorChoice, ProjectFolderChoice,
                                Dialog>;

    template <typename T>
    bool take(const QString& kind, const QString& title, const QString& text, T& out);

    QList<Answer> m_answers;
    QList<Asked> m_asked;
    Questions* m_previous = nullptr;
};

} // namespace testsupport
