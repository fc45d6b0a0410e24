#include "app/app_settings.h"
#include "app/custom_message_box.h"
#include "app/desktop_services.h"
#include "app/export_dialog.h"
#include "app/floor_panel.h"
#include "app/main_window.h"
#include "app/main_window_instance.h"
#include "app/message_presenter.h"
#include "app/property_panel.h"
#include "app/property_tree_model.h"
#include "app/property_tree_view.h"
#include "editor/editor.h"
#include "pano/panorama.h"
#include "support/gui_input.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QMenu>
#include <QSettings>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

// A window showing a property of two buildings: House (Ground with s1 and s2, First with f1) and
// Garage (Bay, without scans).
struct WindowFixture {
    ProjectFixture project;
    Property* property = project.property.get();
    Building* house = project.addBuilding("House");
    Floor* ground = project.addFloor(house, "Ground");
    Floor* first = project.addFloor(house, "First");
    Building* garage = project.addBuilding("Garage");
    Floor* bay = project.addFloor(garage, "Bay");
    Panorama* s1 = project.addUserScan(ground, "s1");
    Panorama* s2 = project.addUserScan(ground, "s2");
    Panorama* f1 = project.addUserScan(first, "f1");
    std::unique_ptr<MainWindow> window;

    WindowFixture()
    {
        MessagePresenter::setBlockingBoxes(false);
        property->setName("Villa");
        s2->setPos(3000, 0);
        property->setDirty(false);
        window = std::make_unique<MainWindow>();
        window->show();
        window->openProperty(project.property.release());
        QApplication::processEvents();
    }
    ~WindowFixture()
    {
        if (window && property->isDirty())
            property->setDirty(false);
        window.reset();
        MessagePresenter::setBlockingBoxes(true);
    }
};

// A generated project of user scans only (no camera model needed), loaded into a window through
// the project chooser.
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
    ~LoadedWindowFixture() { MessagePresenter::setBlockingBoxes(true); }

    void load(const QString& path)
    {
        ScriptedPrompt prompt;
        prompt.answerProjectFolders({path}, QFileInfo(path).absolutePath());
        window.loadAction()->trigger();
        // Scans that failed leave their floors through posted jobs; messages are shown the same way.
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }

    QStringList floorNames() const
    {
        QStringList names;
        const QModelIndex building = window.treeModel()->index(0, 0, window.treeModel()->index(0, 0));
        for (int row = 0; row < window.treeModel()->rowCount(building); ++row)
            names << window.treeModel()->index(row, 0, building).data().toString();
        return names;
    }
};

struct SettingsScope {
    bool metric = AppSettings::metricSystem;
    ~SettingsScope()
    {
        AppSettings::metricSystem = metric;
        QSettings().remove("metricSystem");
        QSettings().remove("geometry");
    }
};

} // namespace

TEST(MainWindow, KeepsItsSettingsAndGeometry)
{
    SettingsScope scope;
    QSettings().setValue("metricSystem", false);
    QRect closedAt;
    {
        MainWindow window;
        EXPECT_EQ(mainWindowInstance(), &window);
        EXPECT_EQ(window.windowTitle(), "Quoril");
        EXPECT_FALSE(window.saveAction()->isEnabled());
        // Read when the window is built, written when it goes.
        EXPECT_FALSE(AppSettings::metricSystem);
        AppSettings::metricSystem = true;
        window.show();
        window.setGeometry(40, 60, 1000, 640);
        closedAt = window.geometry();
        ASSERT_TRUE(window.close());
    }
    EXPECT_EQ(mainWindowInstance(), nullptr);
    EXPECT_TRUE(QSettings().value("metricSystem").toBool());
    MainWindow again;
    again.show();
    EXPECT_EQ(again.size(), QSize(1000, 640));
    EXPECT_LE((again.geometry().topLeft() - closedAt.topLeft()).manhattanLength(), 4);
}

TEST(MainWindow, TitleShowsTheProjectAndItsUnsavedChangesUntilSaved)
{
    WindowFixture f;
    EXPECT_EQ(f.window->windowTitle(), "Quoril - Villa[*]");
    EXPECT_FALSE(f.window->isWindowModified());
    f.window->saveAction()->trigger();
    EXPECT_TRUE(QFile::exists(f.project.path("quoril.qjs")));

    QLineEdit* name = f.window->propertyPanel()->nameEdit();
    name->selectAll();
    keyClicks(name, "Casa");
    keyClick(name, Qt::Key_Return);
    EXPECT_EQ(f.window->windowTitle(), "Quoril - Casa[*]");
    EXPECT_TRUE(f.window->isWindowModified());
    EXPECT_EQ(f.window->treeModel()->index(0, 0).data().toString(), "Casa");
    f.window->saveAction()->trigger();
    EXPECT_FALSE(f.window->isWindowModified());
}

TEST(MainWindow, ClosingAsksAboutUnsavedChangesExactlyWhenThereAreSome)
{
    SettingsScope scope;
    WindowFixture f;
    {
        // Clean: no question (an unscripted one would fail the test).
        ScriptedPrompt prompt;
        EXPECT_TRUE(f.window->close());
    }
    f.window->show();
    f.ground->setCeilingHeight(2500);
    QSettings().remove("geometry");
    ScriptedPrompt prompt;
    // Cancel; then Save, which fails (a folder stands where the file goes); then Save again.
    prompt.answerQuestion(QMessageBox::Cancel).answerQuestion(QMessageBox::Save).answerQuestion(QMessageBox::Save);
    EXPECT_FALSE(f.window->close());
    EXPECT_EQ(prompt.asked()[0].title, "Quoril");
    EXPECT_EQ(prompt.asked()[0].text, "Unsaved changes!");
    QDir().mkpath(f.project.path("quoril.qjs/in-the-way"));
    EXPECT_FALSE(f.window->close());
    EXPECT_TRUE(f.window->isVisible());
    EXPECT_TRUE(f.window->isWindowModified());
    EXPECT_FALSE(QSettings().contains("geometry"));
    QDir(f.project.path("quoril.qjs")).removeRecursively();
    EXPECT_TRUE(f.window->close());
    EXPECT_TRUE(QFileInfo(f.project.path("quoril.qjs")).isFile());
    EXPECT_FALSE(f.property->isDirty());
    EXPECT_TRUE(QSettings().contains("geometry"));
}

TEST(MainWindow, NextAndPreviousScanStepThroughAllFloors)
{
    WindowFixture f;
    QList<Panorama*> followed;
    QObject::connect(f.window.get(), &MainWindow::highlitedPanoChanged, [&](Panorama* p) { followed << p; });
    for (int i = 0; i < 4; ++i)
        f.window->nextPanoAction()->trigger();
    f.window->previousPanoAction()->trigger();
    EXPECT_EQ(followed, QList<Panorama*>({f.s1, f.s2, f.f1, f.s1, f.f1}));
    EXPECT_EQ(f.window->editor()->floor(), f.first);
    EXPECT_EQ(f.window->floorPanel()->floor(), f.first);
    EXPECT_EQ(f.first->selectedItems(), QList<QGraphicsItem*>({f.f1}));
    EXPECT_EQ(f.window->treeView()->currentEntry(), static_cast<Itemizeable*>(f.f1));

    // The scan followed goes: the next step starts from the first again.
    f.first->deletePano(f.f1, false);
    EXPECT_EQ(f.window->highlightedPano(), nullptr);
    f.window->nextPanoAction()->trigger();
    EXPECT_EQ(followed.last(), f.s1);
}

TEST(MainWindow, LoadsTheProjectChosenAndShowsIt)
{
    LoadedWindowFixture f;
    LogCapture log;
    f.load(f.folder);
    Property* property = f.window.currentProperty();
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(property->folder(), f.folder);
    EXPECT_EQ(f.window.windowTitle(), "Quoril - Maple Street[*]");
    EXPECT_FALSE(f.window.isWindowModified());
    const QStringList floors = f.floorNames();
    EXPECT_TRUE(floors.contains("Ground") && floors.contains("Basement")) << floors.join(", ").toStdString();
    // The first floor is in the view with its scans.
    Floor* shown = f.window.editor()->floor();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->panos().size(), 2);
    EXPECT_EQ(f.window.treeModel()->rowCount(f.window.treeModel()->indexOf(shown)), 2);
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty()) << log.texts(QtCriticalMsg).join("\n").toStdString();
}

TEST(MainWindow, LoadAsksAboutUnsavedChangesFirstAndACancelChangesNothing)
{
    LoadedWindowFixture f;
    f.load(f.folder);
    Property* loaded = f.window.currentProperty();
    f.window.editor()->floor()->setGradeHint(1);
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Cancel);
        f.window.loadAction()->trigger();
        ASSERT_EQ(prompt.asked().size(), 1);
        EXPECT_EQ(prompt.asked()[0].text, "Unsaved changes!");
    }
    {
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Discard).cancelProjectFolders();
        f.window.loadAction()->trigger();
    }
    EXPECT_EQ(f.window.currentProperty(), loaded);
    EXPECT_TRUE(f.window.isWindowModified());
    loaded->setDirty(false);
}

TEST(MainWindow, AFailedLoadIsReportedAndTheWindowStaysUsable)
{
    LoadedWindowFixture f;
    // Not a project: the box and the log say why; nothing on the disk changes.
    const QString notAProject = f.root.filePath("Holiday photos");
    writeFile(notAProject + "/beach.txt", "sand");
    const QStringList before = listTree(notAProject);
    LogCapture log;
    f.load(notAProject);
    EXPECT_EQ(listTree(notAProject), before);
    EXPECT_EQ(readFile(notAProject + "/beach.txt"), "sand");
    const QString reported = "Could not load Quoril project at " + notAProject + ". Reason: ";
    EXPECT_TRUE(log.contains(QtCriticalMsg, reported));
    ASSERT_FALSE(f.boxes.isEmpty());
    EXPECT_TRUE(f.boxes.last()->text().startsWith(reported)) << f.boxes.last()->text().toStdString();
    EXPECT_EQ(f.boxes.last()->windowTitle(), "Quoril");

    // Broken scans: reported, and every other scan is there.
    writeFile(f.folder + "/Ground/User Pano_Ground 1/u.jpg", "not a picture");
    f.load(f.folder);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Could not process pano " + f.folder + "/Ground/User Pano_Ground 1"));
    Floor* ground = f.window.editor()->floor();
    ASSERT_NE(ground, nullptr);
    EXPECT_EQ(ground->ownName(), "Ground");
    ASSERT_EQ(ground->panos().size(), 1);
    EXPECT_EQ(ground->panos().first()->dir(), "User Pano_Ground 2");
    EXPECT_TRUE(f.floorNames().contains("Basement"));
    f.window.currentProperty()->setDirty(false);
}

TEST(MainWindow, LoadEditAndSaveAGeneratedProject)
{
    LoadedWindowFixture f;
    f.load(f.folder);
    Floor* ground = f.window.editor()->floor();
    ASSERT_NE(ground, nullptr);
    ASSERT_EQ(ground->ownName(), "Ground");

    // The floor panel: grade below, walls of 30 cm.
    FloorPanel* panel = f.window.floorPanel();
    ASSERT_EQ(panel->floor(), ground);
    panel->gradeBox()->setCurrentIndex(0);
    keyClick(panel->gradeBox(), Qt::Key_Down);
    QLineEdit* wall = panel->wallThicknessEdit();
    wall->selectAll();
    keyClicks(wall, "30");
    keyClick(wall, Qt::Key_Return);
    EXPECT_EQ(ground->gradeHint(), 1);
    EXPECT_EQ(ground->extWallThickness(true), 300);
    EXPECT_TRUE(f.window.isWindowModified());

    // A scan dragged in the floor view, and the move undone.
    Editor* editor = f.window.editor();
    Panorama* moved = dynamic_cast<Panorama*>(ground->itemAt(QPointF(0, 0), QTransform()));
    ASSERT_NE(moved, nullptr);
    const QPointF before = moved->pos();
    const QPoint start = editor->mapFromScene(before);
    mouseEvent(editor->viewport(), QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    mouseEvent(editor->viewport(), QEvent::MouseMove, start + QPoint(30, 0), Qt::LeftButton, Qt::LeftButton);
    mouseEvent(editor->viewport(), QEvent::MouseButtonRelease, start + QPoint(30, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_GT(moved->pos().x(), before.x());
    EXPECT_EQ(ground->undoStack()->text(0), "Move pano");
    // Undone through the window's own Ctrl+Z, wherever the focus is.
    QAction* undo = nullptr;
    for (QAction* action : f.window.actions())
        if (action->shortcut() == QKeySequence::Undo)
            undo = action;
    ASSERT_NE(undo, nullptr);
    undo->trigger();
    EXPECT_EQ(moved->pos(), before);

    // Saved: read back by a fresh property, the floor keeps what the panel set.
    f.window.saveAction()->trigger();
    EXPECT_FALSE(f.window.isWindowModified());
    Property reread;
    ASSERT_TRUE(reread.load(f.folder));
    Floor* readGround = nullptr;
    for (Building* building : reread.buildings())
        for (Floor* floor : building->floors())
            if (floor->ownName() == "Ground")
                readGround = floor;
    ASSERT_NE(readGround, nullptr);
    EXPECT_EQ(readGround->gradeHint(), 1);
    EXPECT_EQ(readGround->extWallThickness(true), 300);

    // Nothing unsaved: closing asks nothing.
    ScriptedPrompt none;
    EXPECT_TRUE(f.window.close());
}

TEST(MainWindow, ExportChecksFirstThenWritesTheArchiveAndOffersCreateAmbrel)
{
    LoadedWindowFixture f;
    f.load(f.folder);
    QList<QUrl> opened;
    const UrlOpener previous = setUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    auto answerCheck = [](bool ignore) {
        return [ignore](QDialog* dialog) {
            auto* check = qobject_cast<ExportDialog*>(dialog);
            if (!check || (ignore && !check->ignoreButton())) {
                ADD_FAILURE() << "not the export check, or one that cannot be ignored";
                return int(QDialog::Rejected);
            }
            QListWidget* rows = check->findingList();
            // A blocking row shows its finding in the floor view.
            for (int row = 0; row < rows->count(); ++row)
                if (rows->item(row)->foreground().color() == QColor(Qt::red))
                    rows->setCurrentRow(row);
            (ignore ? check->ignoreButton() : check->cancelButton())->click();
            return check->result();
        };
    };
    // The generated scans stand on one spot: the check blocks the export, Cancel is all it offers.
    {
        ScriptedPrompt prompt;
        prompt.answerDialog(answerCheck(false));
        f.window.exportAction()->trigger();
    }
    EXPECT_FALSE(f.window.editor()->shownHighlight().isEmpty());
    const QString exportFolder = f.folder + "/_Export";
    EXPECT_TRUE(QDir(exportFolder).isEmpty());

    // Scans spread out and every floor's grade set: what is left may be ignored.
    for (Building* building : f.window.currentProperty()->buildings())
        for (Floor* floor : building->floors()) {
            floor->setGradeHint(2);
            for (int i = 0; i < floor->panos().size(); ++i)
                floor->panos()[i]->setPos(3000.0 * i, 0);
        }
    QString successText;
    {
        ScriptedPrompt prompt;
        prompt.answerDialog(answerCheck(true)).answerDialog([&](QDialog* dialog) {
            auto* box = qobject_cast<ExportSuccessBox*>(dialog);
            if (!box) {
                ADD_FAILURE() << "not the export's success box";
                return int(QDialog::Rejected);
            }
            successText = box->text();
            box->createAmbrelButton()->click();
            return box->result();
        });
        f.window.exportAction()->trigger();
    }
    setUrlOpener(previous);
    EXPECT_TRUE(QFileInfo(exportFolder + "/Maple Street.quoril.tar").isFile());
    EXPECT_TRUE(successText.contains(exportFolder));
    EXPECT_EQ(opened, QList<QUrl>({QUrl::fromLocalFile(exportFolder), QUrl("https://portal.example.invalid/ambrels/new")}));
    // The export saved the project first.
    EXPECT_FALSE(f.window.isWindowModified());
}
