#include "project/project_chooser.h"
#include "project/property.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace testsupport;

TEST(CustomFileDialog, TakesAFolderItselfAndAFileAsAFile)
{
    QTemporaryDir root;
    const QString project = root.filePath("Project A"), archive = root.filePath("Job-export-data.tar");
    QDir().mkpath(project + "/Ground");
    writeFile(archive, QByteArray(1024, '\0'));
    for (const QString& entry : {project, archive}) {
        CustomFileDialog dialog;
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        dialog.setDirectory(root.path());
        dialog.selectFile(entry);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << "a folder is accepted, not opened";
        EXPECT_EQ(dialog.selectedFiles(), QStringList{entry});
        EXPECT_EQ(dialog.directory().absolutePath(), QDir(root.path()).absolutePath());
    }
}

TEST(ChooseProjectFolders, AnswersThroughTheSeamAndRemembersTheDirectoryShownAtAccept)
{
    QTemporaryDir root;
    const QString shown = QDir(root.path()).absolutePath(), project = shown + "/Project A";
    QDir().mkpath(project);
    QSettings().setValue("DefaultDir", shown);
    ScriptedPrompt prompt;
    prompt.answerProjectFolders({project}, shown).answerProjectFolders({shown}, shown).answerProjectFolders({project}, project);
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{project});
    EXPECT_EQ(prompt.asked().last().text, shown) << "opens in the stored directory";
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{shown}) << "accepted with nothing selected";
    EXPECT_EQ(Property::chooseProjectFolders(nullptr), QStringList{project});
    EXPECT_EQ(QSettings().value("DefaultDir").toString(), project);

    // A cancel keeps the stored directory; a stale one falls back to the documents folder.
    QSettings().setValue("DefaultDir", root.filePath("gone"));
    prompt.cancelProjectFolders();
    EXPECT_TRUE(Property::chooseProjectFolders(nullptr).isEmpty());
    EXPECT_EQ(QSettings().value("DefaultDir").toString(), root.filePath("gone"));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(prompt.asked().last().text, QDir(documents).exists() ? documents : QString());
}
