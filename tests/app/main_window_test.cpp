#include "app/custom_message_box.h"
#include "app/desktop_services.h"
#include "app/dialog_progress.h"
#include "app/export_dialog.h"
#include "app/floor_panel.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/property_panel.h"
#include "app/property_tree_model.h"
#include "app/property_tree_view.h"
#include "editor/editor.h"
#include "model/app_settings.h"
#include "model/building.h"
#include "model/panorama.h"
#include "support/gui_input.h"
#include "support/log_capture.h"
#include "support/project_generator.h"
#include "support/read_only_folder.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/thread_pool_size.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A generated project of user scans only (floors Ground, 1st Floor, Basement and Pictures), and a
// window that loads it through the project chooser.
struct LoadedWindowFixture {
    QTemporaryDir root;
    QString folder = root.filePath("Maple Street");
    MainWindow window;
    QList<QMessageBox*> boxes;

    LoadedWindowFixture()
    {
        MessagePresenter::setBlockingBoxes(false);
        makeProject(folder, {"--scans-per-floor", "0", "--user-scans", "2", "--lens-height", "64"});
        QObject::connect(window.messages(), &MessagePresenter::boxOpened, [this](QMessageBox* b) { boxes << b; });
        window.show();
    }
    ~LoadedWindowFixture()
    {
        if (window.currentProperty())
            window.currentProperty()->setDirty(false);
        MessagePresenter::setBlockingBoxes(true);
    }

    void load(const QString& path)
    {
        ScriptedPrompt prompt;
        prompt.answerProjectFolders({path}, QFileInfo(path).absolutePath());
        window.loadAction()->trigger();
        // Broken scans leave their floors, and messages are shown, through posted jobs.
        runPostedJobs();
    }
    // Loads the project, marks Ground below grade and saves it: a saved project that the raw
    // folder alone would not give. Returns Ground, shown on the floor view.
    Floor* loadAndSaveGroundBelowGrade()
    {
        load(folder);
        Floor* ground = window.editor()->floor();
        if (ground)
            ground->setGradeHint(1);
        window.saveAction()->trigger();
        return ground;
    }
    int treeRows(Itemizeable* entry) const { return window.treeModel()->rowCount(window.treeModel()->indexOf(entry)); }
};

// As a person edits a field: select all, type (or delete), Return.
void typeInto(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    keyClick(edit, Qt::Key_Delete);
    keyClicks(edit, text);
    keyClick(edit, Qt::Key_Return);
}

// Answers the export check: picks its blocking rows (shown in the floor view), then leaves it.
ScriptedPrompt::DialogHandler answerExportCheck(bool ignore)
{
    return [ignore](QDialog* dialog) {
        auto* check = qobject_cast<ExportDialog*>(dialog);
        if (!check || (check->ignoreButton() != nullptr) != ignore) {
            ADD_FAILURE() << "not the export check, or Ignore offered when it should not be";
            return int(QDialog::Rejected);
        }
        EXPECT_EQ(check->windowTitle(), "Error checking");
        QListWidget* rows = check->findingList();
        for (int row = 0; row < rows->count(); ++row) {
            // Numbered from zero, links shown as their words.
            EXPECT_TRUE(rows->item(row)->text().startsWith(QString::number(row) + ": ")) << row;
            EXPECT_FALSE(rows->item(row)->text().contains("<a")) << rows->item(row)->text().toStdString();
            if (rows->item(row)->foreground().color() == QColor(Qt::red))
                rows->setCurrentRow(row);
        }
        (ignore ? check->ignoreButton() : check->cancelButton())->click();
        return check->result();
    };
}

// Every progress view the application opens while it lives: its label and the widget that owns it.
class ProgressOwners {
public:
    ProgressOwners()
        : m_previous(setProgressFactory([this](const ProgressRequest& request) -> std::unique_ptr<Progress> {
              auto progress = std::make_unique<DialogProgress>(request);
              owners << qMakePair(request.label, progress->dialog()->parentWidget());
              return progress;
          }))
    {
    }
    ~ProgressOwners() { setProgressFactory(m_previous); }

    QList<QPair<QString, QWidget*>> owners;

private:
    ProgressFactory m_previous;
};

} // namespace

TEST(MainWindow, LoadEditSaveAndExportAGeneratedProject)
{
    LoadedWindowFixture f;
    LogCapture log;
    f.load(f.folder);
    EXPECT_EQ(f.window.windowTitle(), "Quoril - Maple Street[*]");
    EXPECT_FALSE(f.window.isWindowModified());
    EXPECT_EQ(log.texts(QtCriticalMsg), QStringList());
    // The first floor is in the view, and in the tree with the others and its scans.
    Floor* ground = f.window.editor()->floor();
    ASSERT_NE(ground, nullptr);
    ASSERT_EQ(ground->ownName(), "Ground");
    EXPECT_EQ(f.treeRows(ground->building()), 4);
    EXPECT_EQ(f.treeRows(ground), 2);

    // The floor panel: grade below; lengths in the chosen units, where typos and negative lengths
    // keep the value and an emptied field means "not set".
    FloorPanel* panel = f.window.floorPanel();
    ASSERT_EQ(panel->floor(), ground);
    panel->gradeBox()->setCurrentIndex(0);
    keyClick(panel->gradeBox(), Qt::Key_Down);
    EXPECT_EQ(ground->gradeHint(), 1);
    EXPECT_TRUE(f.window.isWindowModified());
    struct Case { bool metric; bool wall; const char* typed; int stored; const char* shown; };
    const Case cases[] = {{false, true, "10\"", 254, "10\""},       {true, true, "", 0, ""},
                          {true, false, "2.45 m", 2450, "2.45 m"}, {true, false, "-1 m", 2450, "2.45 m"},
                          {true, true, "30", 300, "30 cm"},        {true, true, "thick", 300, "30 cm"},
                          {true, true, "-5", 300, "30 cm"}};
    const bool metric = AppSettings::metricSystem;
    for (const Case& c : cases) {
        AppSettings::metricSystem = c.metric;
        QLineEdit* edit = c.wall ? panel->wallThicknessEdit() : panel->ceilingHeightEdit();
        typeInto(edit, c.typed);
        EXPECT_EQ(c.wall ? ground->extWallThickness(true) : ground->ceilingHeight(), c.stored) << c.typed;
        EXPECT_EQ(edit->text(), c.shown) << c.typed;
    }
    AppSettings::metricSystem = metric;
    // The project's name (never a blank one) is the window's title.
    typeInto(f.window.propertyPanel()->nameEdit(), "  Casa ");
    typeInto(f.window.propertyPanel()->nameEdit(), "");
    EXPECT_EQ(f.window.windowTitle(), "Quoril - Casa[*]");

    // A scan dragged in the floor view, then clicked without a move (no step); undone through the
    // window's own Ctrl+Z.
    Editor* editor = f.window.editor();
    auto* moved = dynamic_cast<Panorama*>(ground->itemAt(QPointF(0, 0), QTransform()));
    ASSERT_NE(moved, nullptr);
    const QPointF before = moved->pos();
    const double pixel = 1.0 / editor->transform().m11();
    for (const QPoint by : {QPoint(30, 0), QPoint(0, 0)}) {
        const QPoint start = editor->mapFromScene(moved->pos());
        mouseEvent(editor->viewport(), QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        mouseEvent(editor->viewport(), QEvent::MouseMove, start + by, Qt::LeftButton, Qt::LeftButton);
        mouseEvent(editor->viewport(), QEvent::MouseButtonRelease, start + by, Qt::LeftButton, Qt::NoButton);
    }
    const QPointF after = moved->pos();
    EXPECT_LE(QLineF(after, before + QPointF(30 * pixel, 0)).length(), 2 * pixel) << after.x() << "," << after.y();
    ASSERT_EQ(ground->undoStack()->count(), 1);
    EXPECT_EQ(ground->undoStack()->text(0), "Move pano");
    QAction* undo = editor->undoAction();
    ASSERT_TRUE(f.window.actions().contains(undo) && undo->shortcut() == QKeySequence::Undo);
    undo->trigger();
    EXPECT_EQ(moved->pos(), before);

    // Saved: a fresh property reads back what the panel set.
    f.window.saveAction()->trigger();
    EXPECT_FALSE(f.window.isWindowModified());
    Property reread;
    ASSERT_TRUE(reread.load(f.folder));
    Floor* readGround = reread.buildings().value(0)->floors().value(0);
    ASSERT_EQ(readGround->ownName(), "Ground");
    EXPECT_EQ(readGround->gradeHint(), 1);
    EXPECT_EQ(readGround->extWallThickness(true), 300);

    // The generated scans stand on one spot: the check blocks the export, showing its finding.
    {
        ScriptedPrompt prompt;
        prompt.answerDialog(answerExportCheck(false));
        f.window.exportAction()->trigger();
    }
    EXPECT_FALSE(editor->shownHighlight().isEmpty());
    const QString exportFolder = f.folder + "/_Export";
    EXPECT_TRUE(QDir(exportFolder).isEmpty());

    // Scans spread out and every grade set: what is left may be ignored, and the export is written.
    for (Building* building : f.window.currentProperty()->buildings())
        for (Floor* floor : building->floors()) {
            floor->setGradeHint(2);
            for (int i = 0; i < floor->panos().size(); ++i)
                floor->panos()[i]->setPos(3000.0 * i, 0);
        }
    QList<QUrl> opened;
    const UrlOpener previous = setUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    QSettings().setValue(kPortalUrlKey, "https://tours.example.invalid/eu/");
    {
        ScriptedPrompt prompt;
        prompt.answerDialog(answerExportCheck(true)).answerDialog([&](QDialog* dialog) {
            auto* box = qobject_cast<ExportSuccessBox*>(dialog);
            if (!box || box->createAmbrelButton()->text() != "Create AMBREL" || !box->text().contains(exportFolder)) {
                ADD_FAILURE() << "not the export's success box";
                return int(QDialog::Rejected);
            }
            box->createAmbrelButton()->click();
            return box->result();
        });
        f.window.exportAction()->trigger();
    }
    setUrlOpener(previous);
    QSettings().remove(kPortalUrlKey);
    EXPECT_TRUE(QFileInfo(exportFolder + "/Maple Street.quoril.tar").isFile());
    EXPECT_EQ(opened,
              QList<QUrl>({QUrl::fromLocalFile(exportFolder), QUrl("https://tours.example.invalid/eu/ambrels/new")}));
    // The export saved the project first, so closing asks nothing (an unscripted question fails).
    EXPECT_FALSE(f.window.isWindowModified());
    ScriptedPrompt none;
    EXPECT_TRUE(f.window.close());
}

// The load, the build pass and the export ask for their progress views (and for the views that wait
// out a cancel) without naming the window; each belongs to the window all the same.
TEST(MainWindow, TheProgressOfTheLoadTheBuildAndTheExportBelongsToTheWindow)
{
    LoadedWindowFixture f;
    ProgressOwners progress;
    f.load(f.folder);
    for (Building* building : f.window.currentProperty()->buildings())
        for (Floor* floor : building->floors()) {
            floor->setGradeHint(2);
            for (int i = 0; i < floor->panos().size(); ++i)
                floor->panos()[i]->setPos(3000.0 * i, 0);
        }
    {
        ScriptedPrompt prompt;
        prompt.answerDialog(answerExportCheck(true)).answerDialog([](QDialog*) { return int(QDialog::Rejected); });
        f.window.exportAction()->trigger();
    }
    EXPECT_TRUE(QFileInfo(f.folder + "/_Export/Maple Street.quoril.tar").isFile());
    QStringList labels;
    for (const auto& [label, owner] : std::as_const(progress.owners)) {
        labels << label;
        EXPECT_EQ(owner, &f.window) << label.toStdString();
    }
    EXPECT_EQ(labels,
              (QStringList{"Loading...", "Canceling...", "Quoriling panos... ", "Canceling...", "Exporting..."}));
}

TEST(MainWindow, UnsavedChangesAreAskedAboutBeforeALoadOrAClose)
{
    LoadedWindowFixture f;
    f.load(f.folder);
    Property* loaded = f.window.currentProperty();
    f.window.editor()->floor()->setGradeHint(1);
    ScriptedPrompt prompt;
    // A load: Cancel, then Discard and a cancelled chooser; neither changes the project held.
    prompt.answerQuestion(QMessageBox::Cancel).answerQuestion(QMessageBox::Discard).cancelProjectFolders();
    f.window.loadAction()->trigger();
    f.window.loadAction()->trigger();
    EXPECT_EQ(prompt.asked()[0].title, "Quoril");
    EXPECT_EQ(prompt.asked()[0].text, "Unsaved changes!");
    EXPECT_EQ(f.window.currentProperty(), loaded);
    EXPECT_TRUE(f.window.isWindowModified());

    // A close: Cancel; Save that fails (a folder stands where the file goes); Save.
    prompt.answerQuestion(QMessageBox::Cancel).answerQuestion(QMessageBox::Save).answerQuestion(QMessageBox::Save);
    EXPECT_FALSE(f.window.close());
    const QString projectFile = f.folder + "/quoril.qjs";
    QFile::remove(projectFile);
    QDir().mkpath(projectFile + "/in-the-way");
    EXPECT_FALSE(f.window.close());
    EXPECT_TRUE(f.window.isWindowModified());
    QDir(projectFile).removeRecursively();
    EXPECT_TRUE(f.window.close());
    EXPECT_TRUE(QFileInfo(projectFile).isFile());
    EXPECT_FALSE(loaded->isDirty());
}

// Whatever a load fails on, the window is left without a project: nothing to save or export, and
// nothing written into the folder tried, now or when it is tried again.
TEST(MainWindow, AFailedLoadIsReportedChangesNothingAndTheWindowStaysUsable)
{
    LoadedWindowFixture f;
    LogCapture log;
    // Not a project, and an archive that is not an export: the box and the log say why.
    const QString notAProject = f.root.filePath("Holiday photos");
    writeFile(notAProject + "/beach.txt", "sand");
    QDir().mkpath(notAProject + "/2024/June");
    const QString empty = f.root.filePath("Empty");
    QDir().mkpath(empty);
    writeFile(f.root.filePath("tour.tar"), "not an archive");
    const QString file = f.root.filePath("notes.txt");
    writeFile(file, "a file");
    f.load(f.folder);
    ASSERT_NE(f.window.currentProperty(), nullptr);
    f.window.currentProperty()->setDirty(false);
    const QStringList before = listTree(f.root.path());
    const QString floorFolder = f.folder + "/Ground";
    for (const QString& tried : {notAProject, empty, floorFolder, file, notAProject}) {
        SCOPED_TRACE(tried.toStdString());
        f.load(tried);
        const QString reported = "Could not load Quoril project at " + tried + ". Reason: ";
        EXPECT_TRUE(log.contains(QtCriticalMsg, reported));
        ASSERT_FALSE(f.boxes.isEmpty());
        EXPECT_TRUE(f.boxes.last()->text().startsWith(reported)) << f.boxes.last()->text().toStdString();
        EXPECT_EQ(f.boxes.last()->windowTitle(), "Quoril");
        EXPECT_EQ(f.window.currentProperty(), nullptr);
        EXPECT_FALSE(f.window.saveAction()->isEnabled());
        EXPECT_FALSE(f.window.exportAction()->isEnabled());
        EXPECT_EQ(f.window.windowTitle(), "Quoril");
        f.window.on_SaveProperty_triggered();
        f.window.on_Export_triggered();
        EXPECT_EQ(listTree(f.root.path()), before);
    }
    f.load(f.root.filePath("tour.tar"));
    EXPECT_TRUE(f.boxes.last()->text().startsWith("Could not process tar file:"));
    EXPECT_EQ(f.window.currentProperty(), nullptr);
    EXPECT_EQ(listTree(f.root.path()), before);
    EXPECT_EQ(readFile(notAProject + "/beach.txt"), "sand");

    // A load the user cancels (a project of a newer format) leaves nothing either.
    const QString newer = f.root.filePath("Newer");
    makeProject(newer, {"--scans-per-floor", "0", "--user-scans", "1", "--lens-height", "64", "--variant",
                        "newer-format"});
    const QStringList newerFiles = listTree(newer);
    {
        ScriptedPrompt prompt;
        prompt.answerProjectFolders({newer}, f.root.path()).answerChoice(-1);
        f.window.loadAction()->trigger();
    }
    EXPECT_EQ(f.window.currentProperty(), nullptr);
    EXPECT_FALSE(f.window.saveAction()->isEnabled());
    EXPECT_EQ(listTree(newer), newerFiles);

    // Broken scans: reported, and every other scan is there.
    writeFile(f.folder + "/Ground/User Pano_Ground 1/u.jpg", "not a picture");
    QFile::remove(f.folder + "/Ground/User Pano_Ground 1/t.pic");
    f.load(f.folder);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not process pano " + f.folder + "/Ground/User Pano_Ground 1"));
    Floor* ground = f.window.editor()->floor();
    ASSERT_NE(ground, nullptr);
    EXPECT_EQ(ground->ownName(), "Ground");
    ASSERT_EQ(ground->panos().size(), 1);
    EXPECT_EQ(ground->panos().first()->dir(), "User Pano_Ground 2");
    EXPECT_EQ(f.treeRows(ground->building()), 4);
}

// F2 in the tree renames a floor and its folder at once; the project on disk follows at once, so a
// Discard at the close still leaves a project that loads as the same tree, grade level and all.
TEST(MainWindow, AFloorRenamedInTheTreeLoadsAsTheSameTreeAfterADiscard)
{
    LoadedWindowFixture f;
    Floor* ground = f.loadAndSaveGroundBelowGrade();
    ASSERT_TRUE(ground && ground->ownName() == "Ground");

    PropertyTreeView* tree = f.window.treeView();
    ASSERT_TRUE(tree->selectEntry(ground));
    keyClick(tree, Qt::Key_F2);
    auto* editor = tree->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "F2 opens the name for editing";
    typeInto(editor, "Ground Floor");
    EXPECT_TRUE(processEventsUntil([&] { return ground->ownName() == "Ground Floor"; })) << "committed on Return";
    EXPECT_TRUE(QDir(f.folder + "/Ground Floor").exists() && !QDir(f.folder + "/Ground").exists());
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Discard);
    ASSERT_TRUE(f.window.close());

    Property reread;
    ASSERT_TRUE(reread.load(f.folder));
    ASSERT_EQ(reread.buildings().size(), 1) << "no floor found its way into a new building";
    QStringList floors;
    for (Floor* floor : reread.buildings()[0]->floors())
        floors << floor->ownName() + " in " + floor->dir();
    EXPECT_EQ(floors, QStringList({"Ground in Ground Floor", "1st Floor in 1st Floor", "Basement in Basement",
                                   "Pictures in Pictures"}))
        << "the rename was discarded, its folder stays";
    EXPECT_EQ(reread.buildings()[0]->floors()[0]->gradeHint(), 1);
    EXPECT_EQ(reread.buildings()[0]->floors()[0]->panos().size(), 2);
}

// A floor deleted through its menu goes from disk at once, and from the saved project with it: a
// Discard at the close leaves a project that loads as the same tree, without a word about a
// missing folder.
TEST(MainWindow, AFloorDeletedInTheTreeStaysGoneAfterADiscard)
{
    LoadedWindowFixture f;
    Floor* ground = f.loadAndSaveGroundBelowGrade();
    ASSERT_TRUE(ground && ground->ownName() == "Ground");
    ASSERT_TRUE(QFile::exists(f.folder + "/quoril.qjs"));

    Floor* first = ground->building()->floors()[1];
    ASSERT_EQ(first->ownName(), "1st Floor");
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Yes);
        treeMenu(*f.window.treeView(), f.window.treeModel()->indexOf(first), "Delete");
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].text, "Delete floor and its scans?\nThis operation can not be undone.");
    }
    EXPECT_FALSE(QDir(f.folder + "/1st Floor").exists());
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Discard);
    ASSERT_TRUE(f.window.close());

    LogCapture log;
    ProjectWindow again;
    again.load(f.folder);
    Property* reread = again.window.currentProperty();
    ASSERT_NE(reread, nullptr);
    ASSERT_EQ(reread->buildings().size(), 1);
    QStringList floors;
    for (Floor* floor : reread->buildings()[0]->floors())
        floors << floor->ownName();
    EXPECT_EQ(floors, QStringList({"Ground", "Basement", "Pictures"}));
    EXPECT_EQ(reread->buildings()[0]->floors()[0]->gradeHint(), 1);
    EXPECT_FALSE(log.contains(QtInfoMsg, "Could not find folder"));
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
    EXPECT_FALSE(again.window.isWindowModified());
}

// A scan whose main image is missing leaves the tree during the load; a person who then changes
// nothing is not asked about unsaved changes.
TEST(MainWindow, AProjectThatLostAScanOnLoadingIsNotChanged)
{
    LoadedWindowFixture f;
    const QString folder = f.root.filePath("Oak Lane");
    makeProject(folder, {"--scans-per-floor", "2", "--user-scans", "0", "--lens-height", "64", "--floors", "1"});
    f.load(folder);
    ASSERT_NE(f.window.currentProperty(), nullptr);
    Floor* ground = f.window.editor()->floor();
    ASSERT_NE(ground, nullptr);
    EXPECT_EQ(ground->panos().size(), 1) << "its scan 002 has no main image";
    EXPECT_FALSE(f.window.isWindowModified());
    EXPECT_FALSE(QFile::exists(folder + "/Ground/002/pano.dat"));
    ScriptedPrompt none;
    EXPECT_TRUE(f.window.close()) << "closing asks nothing";
}

// A project on read-only media opens whole: what the load makes for its scans goes to the user's
// cache, nothing reaches the folder, and saving or exporting says plainly that the folder is
// read-only.
TEST(MainWindow, AProjectInAReadOnlyFolderOpensWholeAndSavingSaysWhy)
{
    TestCachePaths testPaths;
    LoadedWindowFixture f;
    const QString folder = f.root.filePath("On a DVD");
    makeProject(folder, {"--scans-per-floor", "2", "--user-scans", "1", "--lens-height", "64", "--floors", "2"});
    const QMap<QString, QString> before = contentOf(folder);
    LogCapture log;
    {
        ReadOnlyFolder readOnly(folder);
        SCOPED_TRACE(readOnly.immutable() ? "immutable folder" : "write check says read-only");
        f.load(folder);
        Property* property = f.window.currentProperty();
        ASSERT_NE(property, nullptr);
        EXPECT_TRUE(property->isReadOnlyFolder());
        int scans = 0;
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                for (Panorama* pano : floor->panos()) {
                    ++scans;
                    if (pano->panoType() != PanoType::User) {
                        EXPECT_FALSE(pano->outline().isEmpty()) << pano->folder().toStdString();
                    }
                    EXPECT_TRUE(QFile::exists(pano->existingFilePath(QLatin1String("t.pic"))));
                    EXPECT_TRUE(pano->existingFilePath(QLatin1String("t.pic")).startsWith(property->cacheFolder()));
                }
        EXPECT_EQ(scans, 2 * 2 - 1 + 2 + 2) << "every scan but the one without its main image, Pictures too";
        EXPECT_FALSE(log.contains(QtWarningMsg, "Could not process pano"));
        const QString readOnlyText = property->readOnlyFolderText();
        EXPECT_TRUE(readOnlyText.startsWith("The project folder \"" + folder + "\" is read-only"));
        EXPECT_EQ(log.texts(QtWarningMsg).filter("read-only").size(), 1) << "told once when it opens";
        EXPECT_FALSE(f.window.isWindowModified());

        // An edit: saving says why it cannot; the autosave keeps it in memory without a word.
        f.window.editor()->floor()->setGradeHint(1);
        log.clear();
        f.window.saveAction()->trigger();
        EXPECT_EQ(log.texts(QtWarningMsg), QStringList{readOnlyText});
        ASSERT_FALSE(f.boxes.isEmpty());
        EXPECT_EQ(f.boxes.last()->text(), readOnlyText);
        EXPECT_TRUE(f.window.isWindowModified());
        ASSERT_TRUE(QMetaObject::invokeMethod(property, "on_autoBackupTimer_timeout", Qt::DirectConnection));
        EXPECT_EQ(log.texts(QtWarningMsg).size(), 1);
        const QList<DrcFinding> findings = property->checkExport();
        EXPECT_TRUE(std::any_of(findings.cbegin(), findings.cend(), [&](const DrcFinding& finding) {
            return finding.code == 0 && finding.message == readOnlyText;
        }));
        QString html;
        EXPECT_FALSE(property->exportTar(html));
        EXPECT_TRUE(log.contains(QtCriticalMsg, readOnlyText));
        const QString cache = property->cacheFolder();
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Discard);
        EXPECT_TRUE(f.window.close());
        QDir(cache).removeRecursively();
    }
    EXPECT_EQ(contentOf(folder), before) << "nothing written, renamed or removed in the folder";
}

namespace {

// Counts the paint events a widget and its children receive while it lives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : m_widget(widget) { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    int count() const { return m_count; }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_widget) {
            auto* widget = qobject_cast<QWidget*>(receiver);
            if (widget && (widget == m_widget || m_widget->isAncestorOf(widget)))
                ++m_count;
        }
        return false;
    }

private:
    QPointer<QWidget> m_widget;
    int m_count = 0;
};

int filesNamed(const QString& folder, const QString& name)
{
    int count = 0;
    for (QDirIterator files(folder, {name}, QDir::Files, QDirIterator::Subdirectories); files.hasNext(); files.next())
        ++count;
    return count;
}

} // namespace

// The scans of a load are processed on the pool while the window's event loop runs: the progress
// paints as the scans come in, and its Cancel is taken there and then. The load ends as cancelled:
// no further scan is started, no project is held and no project file written.
TEST(MainWindow, TheLoadProgressPaintsAndTakesItsCancelWhileTheScansAreProcessed)
{
    constexpr int kScans = 24;
    const GlobalPoolSize pool(2);
    LoadedWindowFixture f;
    const QString folder = f.root.filePath("Long House");
    makeProject(folder, {"--floors", "1", "--scans-per-floor", QString::number(kScans), "--user-scans", "0",
                         "--no-pictures", "--no-missing-main-image"});
    std::unique_ptr<PaintCounter> paints;
    int ticks = 0, paintsBeforeCancel = -1, doneBeforeCancel = -1;
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        // The scans' pass counts the scans; the steps before it count to 10.
        if (!dialog || !dialog->windowTitle().startsWith("Loading project: ") || dialog->maximum() != kScans
            || doneBeforeCancel >= 0)
            return;
        ++ticks;
        if (!paints)
            paints = std::make_unique<PaintCounter>(dialog);
        if (dialog->value() >= 2 && paints->count() >= 2) {
            paintsBeforeCancel = paints->count();
            doneBeforeCancel = dialog->value();
            dialog->findChild<QPushButton*>()->click();
        }
    });
    person.start(10);
    LogCapture log;
    f.load(folder);
    person.stop();
    ASSERT_GE(doneBeforeCancel, 2) << "the pass never showed two scans done; ticks: " << ticks;
    EXPECT_GE(paintsBeforeCancel, 2);
    EXPECT_GE(ticks, 2) << "the timer ran while the scans were processed";
    EXPECT_LT(filesNamed(folder, "t.pic"), kScans) << "the scans not started by the Cancel were left";
    EXPECT_TRUE(log.contains(QtWarningMsg, "Canceled by the user"));
    EXPECT_EQ(f.window.currentProperty(), nullptr);
    EXPECT_FALSE(f.window.saveAction()->isEnabled());
    EXPECT_FALSE(f.window.exportAction()->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(folder + "/quoril.qjs"));
}
