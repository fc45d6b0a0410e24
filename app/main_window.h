#pragma once

#include <QMainWindow>
#include <QPainterPath>
#include <QPointer>

class Editor;
class FloorPanel;
class Floor;
class Itemizeable;
class MessagePresenter;
class Panorama;
class Property;
class PropertyPanel;
class PropertyTreeModel;
class PropertyTreeView;
class QAction;
class QUrl;
class QToolBar;

// The one window of the program: the project tree with the property's and the current floor's
// panels beside the floor view, the tool bar of the project commands, and the message pop-up and
// boxes. Holds at most one Property.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    Property* currentProperty() const { return m_property; }
    // Shows this property, which the window then owns; the one held before is deleted. Called
    // again with the property held, shows it afresh (after a load).
    void openProperty(Property* property);

    // Unsaved changes: asks whether to save them first. False when the user cancels or the save
    // fails, so whatever was about to replace or close the project must not.
    bool maybeSave();
    // Shows an export finding: its floor in the view with its outline, or its tree entry.
    void showFinding(Itemizeable* subject, const QPainterPath& highlight);
    // The scan the window follows (N and P step through the scans), or null.
    Panorama* highlightedPano() const;
    // Installs a downloaded camera update (the file `fileName`, fetched from `url`) on the open
    // project's camera: a system file with the time stamp it holds, otherwise firmware with the
    // version its download name carries. The update goes on in the camera model's replies.
    void installUpdate(const QUrl& url, const QString& fileName);

    PropertyTreeModel* treeModel() const { return m_treeModel; }
    PropertyTreeView* treeView() const { return m_treeView; }
    Editor* editor() const { return m_editor; }
    FloorPanel* floorPanel() const { return m_floorPanel; }
    PropertyPanel* propertyPanel() const { return m_propertyPanel; }
    MessagePresenter* messages() const { return m_messages; }
    QAction* loadAction() const { return m_loadAction; }
    QAction* saveAction() const { return m_saveAction; }
    QAction* exportAction() const { return m_exportAction; }
    QAction* nextPanoAction() const { return m_nextPanoAction; }
    QAction* previousPanoAction() const { return m_previousPanoAction; }
    QAction* installCameraUpdateAction() const { return m_installCameraUpdateAction; }
    QAction* calibRotAction() const { return m_calibRotAction; }
    QAction* adjustPanoAction() const { return m_adjustPanoAction; }
    QAction* repairSystemFileAction() const { return m_repairSystemFileAction; }

public slots:
    void on_LoadProperty_triggered();
    void on_SaveProperty_triggered();
    void on_Export_triggered();
    void on_NextPano_triggered();
    void on_PreviousPano_triggered();
    void on_InstallCameraUpdate_triggered();
    // The lidar rotation calibration of a one-lens lidar camera on the scans selected on the floor:
    // searches the rotation, shows it on the floor and, when the person keeps it, writes it to the
    // project's "system.cfg".
    void calibRot();
    // Shows the scans' lidar outlines under a trial rotation (radians).
    void calibRotChanged(float azimuth, float tilt);
    // Ends a trial: an accepted one is written to "system.cfg"; the outlines return to the
    // camera's own calibration either way.
    void calibRotEnded(bool accepted);
    // The align dialog on the scan the window follows.
    void on_AdjustPano_triggered();
    // Fits the lens centre of a one-lens lidar camera on the shots of the scan the window follows,
    // saves it to the project's "system.cfg" (the file it replaces kept once as "system.orig") and
    // processes the scans again.
    void repairSystemFile();

signals:
    void highlitedPanoChanged(Panorama* pano);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWidgets();
    void buildToolBar();
    QAction* makeAction(const QString& objectName, const QString& text, const QKeySequence& key,
                        void (MainWindow::*slot)());
    void closeProperty();
    bool saveProperty();
    void onCurrentEntryChanged(Itemizeable* entry);
    void showFloor(Floor* floor);
    void followPano(Panorama* pano);
    void stepPano(int direction);
    QList<Panorama*> allPanos() const;
    void updateTitle();
    void updateActions();
    QList<Panorama*> selectedFullScans() const;
    // The open project's camera has the lidar that "Calibrate lidar" calibrates.
    bool calibratesLidar() const;
    void tellCalibration(const QString& text, int icon);
    // The commands on the scan the window follows (scan_tools.cpp).
    void buildScanTools(QToolBar* bar);
    void updateScanTools();

    Property* m_property = nullptr;
    PropertyTreeModel* m_treeModel = nullptr;
    PropertyTreeView* m_treeView = nullptr;
    PropertyPanel* m_propertyPanel = nullptr;
    FloorPanel* m_floorPanel = nullptr;
    Editor* m_editor = nullptr;
    MessagePresenter* m_messages = nullptr;
    Panorama* m_highlightedPano = nullptr;
    QAction* m_loadAction = nullptr;
    QAction* m_saveAction = nullptr;
    QAction* m_exportAction = nullptr;
    QAction* m_nextPanoAction = nullptr;
    QAction* m_previousPanoAction = nullptr;
    QAction* m_installCameraUpdateAction = nullptr;
    QAction* m_calibRotAction = nullptr;
    // The trial rotation the floor shows, while it does.
    bool m_calibTrialShown = false;
    float m_calibTrialAzimuth = 0.0f;
    float m_calibTrialTilt = 0.0f;
    QAction* m_adjustPanoAction = nullptr;
    QAction* m_repairSystemFileAction = nullptr;
};
