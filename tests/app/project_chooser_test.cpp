#include "app/custom_file_dialog.h"
#include "model/project_chooser.h"
#include "support/gui_input.h"
#include "support/test_support.h"

#include <QDialogButtonBox>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The chooser shown on a folder holding a project ("Maple Street", with its calibration file) and
// a folder of projects ("Jobs").
struct ChooserFixture {
    QTemporaryDir root;
    QString shown = QDir(root.path()).absolutePath();
    QString project = shown + "/Maple Street";
    QString jobs = shown + "/Jobs";
    CustomFileDialog dialog;
    QListView* list = nullptr;

    ChooserFixture()
    {
        QDir().mkpath(project + "/Ground/001");
        writeFile(project + "/system.cfg", "calibration");
        QDir().mkpath(jobs + "/Old job");
        dialog.setDirectory(shown);
        dialog.show();
        list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    }
    // The entry once the dialog's file system model has listed it.
    QModelIndex entry(const QString& name)
    {
        QModelIndex found;
        processEventsUntil([&] {
            for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
                const QModelIndex index = list->model()->index(row, 0, list->rootIndex());
                if (index.data().toString() == name)
                    found = index;
            }
            return found.isValid();
        });
        return found;
    }
    void doubleClick(const QModelIndex& index)
    {
        list->setCurrentIndex(index);
        const QPoint at = list->visualRect(index).center();
        mouseEvent(list->viewport(), QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        mouseEvent(list->viewport(), QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
        mouseEvent(list->viewport(), QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        mouseEvent(list->viewport(), QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    }
    QPushButton* acceptButton() const
    {
        return dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open);
    }
};

} // namespace

TEST(ProjectChooser, OpeningAProjectFolderTakesItAndOtherFoldersOpenWithTheAcceptButtonLeftOn)
{
    for (const bool byKey : {false, true}) {
        SCOPED_TRACE(byKey ? "Enter" : "double click");
        ChooserFixture f;
        ASSERT_NE(f.list, nullptr);
        const QModelIndex project = f.entry("Maple Street");
        ASSERT_TRUE(project.isValid());
        if (byKey) {
            f.list->setCurrentIndex(project);
            keyClick(f.list, Qt::Key_Return);
        } else {
            f.doubleClick(project);
        }
        EXPECT_EQ(f.dialog.result(), QDialog::Accepted) << "the project folder is taken, not opened";
        EXPECT_FALSE(f.dialog.isVisible());
        const ProjectFolderChoice choice{true, f.dialog.selectedFiles(), f.dialog.directory().absolutePath()};
        EXPECT_EQ(projectChooserPaths(choice), QStringList{f.project});
    }

    // A folder of projects opens; with nothing selected there the accept button takes it.
    ChooserFixture f;
    const QModelIndex jobs = f.entry("Jobs");
    ASSERT_TRUE(jobs.isValid());
    f.doubleClick(jobs);
    EXPECT_TRUE(processEventsUntil([&] { return f.dialog.directory().absolutePath() == f.jobs; }));
    EXPECT_TRUE(f.dialog.isVisible());
    ASSERT_TRUE(f.entry("Old job").isValid());
    f.list->clearSelection();
    processEventsFor(50);
    ASSERT_TRUE(f.acceptButton()->isEnabled()) << "never greyed out while there is a folder to take";
    f.acceptButton()->click();
    EXPECT_EQ(f.dialog.result(), QDialog::Accepted);
    const ProjectFolderChoice choice{true, f.dialog.selectedFiles(), f.dialog.directory().absolutePath()};
    EXPECT_EQ(projectChooserPaths(choice), QStringList{f.jobs});
}

TEST(ProjectChooser, TellsAProjectFolderFromOtherFolders)
{
    QTemporaryDir root;
    for (const QString marker : {"system.cfg", "project.json", "quoril.qjs", "~quoril.qjs", "quoril_exp.qjs",
                                 "draft.djs"}) {
        const QString folder = root.filePath("with " + marker);
        writeFile(folder + "/" + marker, "x");
        EXPECT_TRUE(looksLikeProjectFolder(folder)) << marker.toStdString();
    }
    QDir().mkpath(root.filePath("scans/system.cfg")); // a folder of that name is no calibration file
    EXPECT_FALSE(looksLikeProjectFolder(root.filePath("scans")));
    writeFile(root.filePath("file/quoril.qjs"), "x");
    EXPECT_FALSE(looksLikeProjectFolder(root.filePath("file/quoril.qjs")));
    EXPECT_FALSE(looksLikeProjectFolder(root.filePath("nowhere")));
}
