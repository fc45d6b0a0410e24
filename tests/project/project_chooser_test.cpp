#include "project/project_chooser.h"
#include "project/property.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

struct ChooserFolders {
    QTemporaryDir root;
    QString project() const { return root.filePath("Project A"); }
    QString archive() const { return root.filePath("Job-export-data.tar"); }
    ChooserFolders()
    {
        QDir().mkpath(project() + "/Ground");
        writeFile(archive(), QByteArray(1024, '\0'));
    }
};

QString storedDefaultDir()
{
    return QSettings().value("DefaultDir").toString();
}

} // namespace

TEST(CustomFileDialog, TakesAFolderItselfAndAFileAsAFile)
{
    ChooserFolders folders;
    std::unique_ptr<QObject> made(CustomFileDialog::staticMetaObject.newInstance());
    auto* dialog = qobject_cast<CustomFileDialog*>(made.get());
    ASSERT_NE(dialog, nullptr) << "default construction through the meta-object system";
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(dialog->testOption(QFileDialog::HideNameFilterDetails));

    dialog->setDirectory(folders.root.path());
    dialog->selectFile(folders.project());
    dialog->accept();
    EXPECT_EQ(dialog->result(), QDialog::Accepted) << "a folder is accepted, not opened";
    EXPECT_EQ(dialog->selectedFiles(), QStringList{folders.project()});
    EXPECT_EQ(dialog->directory().absolutePath(), QDir(folders.root.path()).absolutePath());

    CustomFileDialog fileDialog;
    fileDialog.setDirectory(folders.root.path());
    fileDialog.selectFile(folders.archive());
    fileDialog.accept();
    EXPECT_EQ(fileDialog.result(), QDialog::Accepted);
    EXPECT_EQ(fileDialog.selectedFiles(), QStringList{folders.archive()});
}

TEST(ChooseProjectFolders, AnswersThroughTheSeamAndRemembersTheDirectory)
{
    ChooserFolders folders;
    const QString shown = QDir(folders.root.path()).absolutePath();
    QSettings().setValue("DefaultDir", shown);
    ScriptedPrompt prompt;
    prompt.answerProjectFolders({folders.project()}, shown);
    prompt.answerProjectFolders({shown}, shown); // accepted with nothing selected
    prompt.answerProjectFolders({folders.archive()}, shown);

    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{folders.project()});
    EXPECT_EQ(prompt.asked().last().text, shown) << "opens in the stored directory";
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{shown});
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{folders.archive()});
    EXPECT_EQ(storedDefaultDir(), shown);
}

TEST(ChooseProjectFolders, CancelKeepsTheStoredDirectoryAndAStaleOneFallsBackToDocuments)
{
    ChooserFolders folders;
    QSettings().setValue("DefaultDir", folders.root.filePath("gone"));
    ScriptedPrompt prompt;
    prompt.cancelProjectFolders();
    EXPECT_TRUE(Property::chooseProjectFolders(nullptr).isEmpty());
    EXPECT_EQ(storedDefaultDir(), folders.root.filePath("gone"));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(prompt.asked().last().text, QDir(documents).exists() ? documents : QString());

    const QString elsewhere = QDir(folders.project()).absolutePath();
    prompt.answerProjectFolders({folders.project() + "/Ground"}, elsewhere);
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{folders.project() + "/Ground"});
    EXPECT_EQ(storedDefaultDir(), elsewhere) << "the directory shown at accept is stored";
}
