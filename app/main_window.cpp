#include "app/main_window.h"

#include "camera/camera_update.h"

#include "app/camera_update_install.h"
#include "app/floor_panel.h"
#include "app/gui_helpers.h"
#include "app/main_window_instance.h"
#include "app/message_presenter.h"
#include "app/property_panel.h"
#include "app/property_tree_model.h"
#include "app/property_tree_view.h"
#include "base/questions.h"
#include "camera/camera_update.h"
#include "editor/editor.h"
#include "model/app_settings.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QAction>
#include <QCloseEvent>
#include <QSettings>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

namespace {
const QString geometryKey = QStringLiteral("geometry");
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    m_treeModel = new PropertyTreeModel(this);
    setMainWindowInstance(this);
    if (!restoreGeometry(QSettings().value(geometryKey).toByteArray()))
        resize(1280, 800);
    buildWidgets();
    buildToolBar();
    m_messages = new MessagePresenter(this);
    AppSettings::load();
    m_treeModel->rebuild();
    updateTitle();
    updateActions();
}

MainWindow::~MainWindow()
{
    AppSettings::save();
    closeProperty();
    delete m_treeView;
    delete m_treeModel;
    if (mainWindowInstance() == this)
        setMainWindowInstance(nullptr);
    releaseUpdateWindow(this);
}

void MainWindow::buildWidgets()
{
    m_treeView = new PropertyTreeView(m_treeModel);
    m_propertyPanel = new PropertyPanel;
    m_floorPanel = new FloorPanel;
    m_editor = new Editor;

    auto* side = new QWidget;
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(m_treeView, 1);
    sideLayout->addWidget(m_propertyPanel);
    sideLayout->addWidget(m_floorPanel);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(side);
    splitter->addWidget(m_editor);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({320, 960});
    setCentralWidget(splitter);

    connect(m_treeView, &PropertyTreeView::currentEntryChanged, this, &MainWindow::onCurrentEntryChanged);
    connect(m_propertyPanel, &PropertyPanel::nameChanged, this, [this] {
        m_treeModel->rebuild();
        updateTitle();
    });
}

QAction* MainWindow::makeAction(const QString& objectName, const QString& text, const QKeySequence& key,
                                void (MainWindow::*slot)())
{
    auto* action = new QAction(text, this);
    action->setObjectName(objectName);
    action->setShortcut(key);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
    return action;
}

void MainWindow::buildToolBar()
{
    m_loadAction = makeAction(QStringLiteral("LoadProperty"), tr("Load project"), QKeySequence(Qt::Key_Q),
                              &MainWindow::on_LoadProperty_triggered);
    m_saveAction = makeAction(QStringLiteral("SaveProperty"), tr("Save"), QKeySequence(Qt::CTRL | Qt::Key_S),
                              &MainWindow::on_SaveProperty_triggered);
    m_exportAction = makeAction(QStringLiteral("Export"), tr("Export project"), QKeySequence(Qt::Key_X),
                                &MainWindow::on_Export_triggered);
    m_previousPanoAction = makeAction(QStringLiteral("PreviousPano"), tr("Previous scan"), QKeySequence(Qt::Key_P),
                                      &MainWindow::on_PreviousPano_triggered);
    m_nextPanoAction = makeAction(QStringLiteral("NextPano"), tr("Next scan"), QKeySequence(Qt::Key_N),
                                  &MainWindow::on_NextPano_triggered);
    m_installCameraUpdateAction = makeAction(QStringLiteral("InstallCameraUpdate"), tr("Install camera update"),
                                             QKeySequence(), &MainWindow::on_InstallCameraUpdate_triggered);
    m_calibRotAction = makeAction(QStringLiteral("CalibRot"), tr("Calibrate lidar"), QKeySequence(),
                                  &MainWindow::calibRot);
    m_calibRotAction->setToolTip(tr("Find the lidar's calibration rotation from the scans selected on the floor"));
    m_loadAction->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    m_saveAction->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    m_exportAction->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    m_previousPanoAction->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    m_nextPanoAction->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
    m_installCameraUpdateAction->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));

    QToolBar* bar = addToolBar(tr("Project"));
    bar->setObjectName(QStringLiteral("projectToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->addActions({m_loadAction, m_saveAction, m_exportAction});
    bar->addSeparator();
    bar->addActions({m_previousPanoAction, m_nextPanoAction});
    buildScanTools(bar);
    bar->addSeparator();
    bar->addAction(m_calibRotAction);
    bar->addSeparator();
    const QList<QAction*> editing{m_editor->undoAction(),            m_editor->redoAction(),
                                  m_editor->deleteAction(),          m_editor->rotateLeftAction(),
                                  m_editor->rotateRightAction(),     m_editor->rotateByCompassAction(),
                                  m_editor->arrangeSelectedAction(), m_editor->zoomToFitAction()};
    bar->addActions(editing);
    bar->addSeparator();
    bar->addAction(m_installCameraUpdateAction);
    // Shortcuts of the floor view work wherever the focus is in the window.
    addActions(editing);
}

void MainWindow::openProperty(Property* property)
{
    if (property != m_property) {
        closeProperty();
        m_property = property;
        if (m_property) {
            connect(m_property, &Property::dirtyChanged, this, &MainWindow::updateTitle);
            connect(m_property, &Property::modelUpdated, this, &MainWindow::updateActions);
        }
    }
    m_treeModel->setProject(m_property);
    m_propertyPanel->setProject(m_property);
    // The first floor is where a person starts.
    if (m_property)
        for (Building* building : m_property->buildings())
            if (!building->floors().isEmpty()) {
                m_treeView->selectEntry(building->floors().first());
                break;
            }
    updateTitle();
    updateActions();
}

void MainWindow::closeProperty()
{
    if (!m_property)
        return;
    // Everything that shows a part of the project lets go of it before it goes.
    m_highlightedPano = nullptr;
    showFloor(nullptr);
    m_propertyPanel->setProject(nullptr);
    m_treeModel->setProject(nullptr);
    m_property->disconnect(this);
    delete m_property;
    m_property = nullptr;
}

bool MainWindow::maybeSave()
{
    clearFocusWidget();
    if (!m_property || !m_property->isDirty())
        return true;
    const Questions::Button answer = questions().question(
        this, Questions::Warning, tr("Quoril"), tr("Unsaved changes!"),
        Questions::Save | Questions::Discard | Questions::Cancel, Questions::Save);
    if (answer == Questions::Save)
        return saveProperty();
    return answer == Questions::Discard;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!maybeSave()) {
        event->ignore();
        return;
    }
    QSettings().setValue(geometryKey, saveGeometry());
    event->accept();
}

void MainWindow::onCurrentEntryChanged(Itemizeable* entry)
{
    if (auto* floor = dynamic_cast<Floor*>(entry)) {
        showFloor(floor);
    } else if (auto* pano = dynamic_cast<Panorama*>(entry)) {
        followPano(pano);
    } else if (auto* building = dynamic_cast<Building*>(entry)) {
        const QList<Floor*>& floors = building->floors();
        if (!floors.isEmpty() && !floors.contains(m_editor->floor()))
            showFloor(floors.first());
    }
}

void MainWindow::showFloor(Floor* floor)
{
    m_editor->setFloor(floor);
    m_floorPanel->setFloor(floor);
}

void MainWindow::followPano(Panorama* pano)
{
    Floor* floor = pano ? pano->floor() : nullptr;
    if (!floor)
        return;
    showFloor(floor);
    m_highlightedPano = pano;
    floor->setHighlightedPano(pano);
    m_editor->selectItem(pano);
    emit highlitedPanoChanged(pano);
}

QList<Panorama*> MainWindow::allPanos() const
{
    QList<Panorama*> panos;
    if (m_property)
        for (Building* building : m_property->buildings())
            for (Floor* floor : building->floors())
                panos += floor->panos();
    return panos;
}

Panorama* MainWindow::highlightedPano() const
{
    // The pointer is only compared: the scan may have been deleted since.
    return allPanos().contains(m_highlightedPano) ? m_highlightedPano : nullptr;
}

void MainWindow::stepPano(int direction)
{
    const QList<Panorama*> panos = allPanos();
    if (panos.isEmpty())
        return;
    const qsizetype at = panos.indexOf(highlightedPano());
    qsizetype next = 0;
    if (at < 0)
        next = direction > 0 ? 0 : panos.size() - 1;
    else
        next = (at + direction + panos.size()) % panos.size();
    Panorama* pano = panos[next];
    // Through the tree, which shows its floor and follows the scan.
    if (!m_treeView->selectEntry(pano))
        followPano(pano);
}

void MainWindow::on_NextPano_triggered()
{
    stepPano(1);
}

void MainWindow::on_PreviousPano_triggered()
{
    stepPano(-1);
}

void MainWindow::showFinding(Itemizeable* subject, const QPainterPath& highlight)
{
    Floor* floor = dynamic_cast<Floor*>(subject);
    if (auto* pano = dynamic_cast<Panorama*>(subject))
        floor = pano->floor();
    if (floor) {
        if (m_treeView->currentEntry() != subject)
            m_treeView->selectEntry(subject);
        showFloor(floor);
        m_editor->showHighlight(highlight);
    } else if (subject) {
        m_treeView->selectEntry(subject);
    }
}

void MainWindow::updateTitle()
{
    if (!m_property) {
        setWindowTitle(tr("Quoril"));
        setWindowModified(false);
        return;
    }
    setWindowTitle(tr("Quoril") + QStringLiteral(" - ") + m_property->name() + QStringLiteral("[*]"));
    setWindowModified(m_property->isDirty());
}

void MainWindow::updateActions()
{
    const bool open = m_property;
    m_saveAction->setEnabled(open);
    m_exportAction->setEnabled(open);
    const bool hasScans = !allPanos().isEmpty();
    m_nextPanoAction->setEnabled(hasScans);
    m_previousPanoAction->setEnabled(hasScans);
    m_installCameraUpdateAction->setEnabled(open && takesCameraUpdates(m_property->camParams()));
    m_calibRotAction->setEnabled(hasScans && calibratesLidar());
    updateScanTools();
}
