#include "base/questions.h"

#include <utility>

namespace {

// Where nobody can be asked: every question takes its default and every chooser is cancelled.
class UnattendedQuestions : public Questions {
public:
    Button question(QWidget*, Icon, const QString&, const QString&, Buttons, Button defaultButton) override
    {
        return defaultButton;
    }
    int choice(QWidget*, Icon, const QString&, const QString&, const QStringList&, int defaultIndex) override
    {
        return defaultIndex;
    }
    QStringList openFileNames(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString existingDirectory(QWidget*, const QString&, const QString&) override { return {}; }
    FloorChoice selectFloor(Building*, Floor*) override { return {}; }
    int choiceOrCancel(Icon, const QString&, const QString&, const QString&, const QList<NamedButton>&) override
    {
        return -1;
    }
    ProjectFolderChoice projectFolders(QWidget*, const QString&) override { return {}; }
    int runDialog(QDialog*) override { return 0; }
};

Questions* installed = nullptr;

} // namespace

Questions& questions()
{
    static UnattendedQuestions unattended;
    return installed ? *installed : unattended;
}

Questions* setQuestions(Questions* implementation)
{
    return std::exchange(installed, implementation);
}

