#pragma once

#include "base/unique_ids.h"
#include "model/drc_finding.h"
#include "model/mixins.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>

class Building;
class CamParams;
class Floor;
class Panorama;
class QGraphicsItem;
class QTimer;
class QWidget;

// Thrown inside a load when the user answers "Re-import" to the newer-format question.
class ReimportRequested : public std::exception {
public:
    const char* what() const noexcept override { return "Re-import requested by user."; }
};

// Root of one open project: folder, camera model, buildings, id counters, dirty state with the
// autosave timer, and the signals that drive the tree, the panels and the dialogs.
class Property : public QObject, public Itemizeable {
    Q_OBJECT
public:
    static constexpr int kAutosaveDelayMs = 300000;

    Property();
    ~Property() override;

    // Back to an empty project; the folder on disk is not touched.
    void reset(bool deleteCamera);

    void setName(const QString& name) override;
    void contextMenuActions(QMenu* menu) override;

    // Tree
    QList<Building*> buildings() const { return m_buildings; }
    // Called by the Building constructor; takes the building over from any other property.
    void addBuilding(Building* building);
    void moveBuilding(int from, int to);
    // Takes the building out of the list, deletes its floors (with their scan folders when
    // withScans) and deletes it.
    void removeBuilding(Building* building, bool withScans);
    // A new building named after the first free candidate (base, base 1, ... base 9999); throws
    // std::runtime_error when every candidate is taken.
    Building* addNewBuilding(const QString& base);

    // Dirty state and autosave
    bool isDirty() const { return m_dirty; }
    void setDirty(bool value);
    void markChanged() { setDirty(true); }
    const QTimer* autoBackupTimer() const { return m_autoBackupTimer; }

    // Project file, save and autosave (property_json.cpp, property_save.cpp)
    static constexpr int kProjectFormatVersion = 52;
    // The property as the project file holds it; forExport is passed on to every building. May
    // issue the initial scan an id.
    QJsonObject toJson(bool forExport);
    // Reads a project object's keys, after its "formatVersion" was judged, into a property that
    // reset(false) emptied: folder becomes loadedPath, a missing name its folder's name. Building
    // records go through Building::fromJson; beforeBuildings runs just before them.
    void readProjectObject(const QJsonObject& project, const QString& loadedPath,
                           const std::function<void()>& beforeBuildings = {});
    // Writes the temporary project file; false when it could not be opened or written in full.
    bool writeProjectFile();
    // Replaces the project file by the current state; the previous one survives every failure.
    bool save();
    // A pass over the scans on pool threads (load, build) runs between these calls, on the GUI
    // thread; an autosave that falls due meanwhile waits for the end of the last pass.
    void beginScanPass();
    void endScanPass();
    bool scanPassRunning() const { return m_scanPasses > 0; }
    class ScanPassGuard {
    public:
        explicit ScanPassGuard(Property& property) : m_property(property) { m_property.beginScanPass(); }
        ~ScanPassGuard() { m_property.endScanPass(); }
        ScanPassGuard(const ScanPassGuard&) = delete;
        ScanPassGuard& operator=(const ScanPassGuard&) = delete;

    private:
        Property& m_property;
    };

    // Id registry (any thread)
    int nextId(const QString& typeName);
    void bumpLastId(const QString& typeName, qint64 id);
    QMap<QString, int> lastIds() const;
    void setLastIds(const QMap<QString, int>& ids);

    // Initial scan of the tour
    Panorama* initialPano() const { return m_initialPano; }
    void setInitialPano(Panorama* pano);
    // Drops the pointer without signals when that scan goes away.
    void forgetPano(Panorama* pano);

    // Scan records (any thread)
    int systemCfgIndex(const QString& name);
    QStringList systemcfgs() const;
    void setSystemcfgs(const QStringList& names);
    void updateShutterCounter(int value);
    int shutterCounter() const;

    bool isSupportedCameraModel() const;

    // A project folder on read-only media, or one the user may not write to: shown whole, never
    // written to. What is made for it goes to a folder of the user's cache instead.
    bool isReadOnlyFolder() const;
    QString cacheFolder() const;
    // The project folder, or for a read-only one its cache folder (made when missing).
    QString writableProjectFolder() const;
    // What a person is told about a read-only project folder.
    QString readOnlyFolderText() const;

    // Generated files
    void cleanup(bool reimport);
    static void clearCachesForReimport(const QString& projectFolder);
    void removeAutosave();

    // Plain fields
    const QString& folder() const { return m_folder; }
    void setFolder(const QString& folder) { m_folder = folder; }
    CamParams* camParams() const { return m_camParams.get(); }
    // Takes ownership; deletes the previous model.
    void setCamParams(CamParams* camera);
    const QString& globalId() const { return m_globalId; }
    void setGlobalId(const QString& id) { m_globalId = id; }
    const QJsonObject& portalData() const { return m_portalData; }
    void setPortalData(const QJsonObject& data) { m_portalData = data; }
    const QJsonObject& cam360() const { return m_cam360; }
    void setCam360(const QJsonObject& data) { m_cam360 = data; }
    int mainBuildingId() const { return m_mainBuildingId; }
    void setMainBuildingId(int id) { m_mainBuildingId = id; }
    const QString& quorilVersion() const { return m_quorilVersion; }
    void setQuorilVersion(const QString& v) { m_quorilVersion = v; }
    const QString& nomivoVersion() const { return m_nomivoVersion; }
    void setNomivoVersion(const QString& v) { m_nomivoVersion = v; }
    const QString& comments() const { return m_newPostComment; }
    void setComments(const QString& text);
    bool trialCalibrationApplied() const { return m_trialCalibrationApplied; }
    void setTrialCalibrationApplied(bool on) { m_trialCalibrationApplied = on; }
    bool alignmentLocked() const { return m_alignmentLocked; }
    void setAlignmentLocked(bool on) { m_alignmentLocked = on; }
    const QString& cameraSerialNumber() const { return m_cameraSerialNumber; }
    void setCameraSerialNumber(const QString& serial) { m_cameraSerialNumber = serial; }
    bool lensCalibrated() const { return m_lensCalibrated; }
    void setLensCalibrated(bool on) { m_lensCalibrated = on; }

    // Context menu and maintenance (property_actions.cpp)
    void onContextAction(QAction* action) override;
    // 1 when some building has a badly aligned scan, else -1 when some alignment is unknown, else 0.
    int alignmentState() const;
    // The first two characters of the camera serial number (fewer when it is shorter).
    QString cameraModelPrefix() const;
    // The floor item holding that id (never issues one) with that type word, or null.
    QGraphicsItem* findPanoById(int id, const QString& typeName) const;
    // Processes every full scan again from scratch; the scans that fail are reported together in
    // one warning and the others are processed all the same.
    void reprocessPanos();
    // Re-reads every full scan's point cloud under a trial lidar calibration; (0, -1, 0) returns to
    // the camera's own calibration.
    void applyCalibrationRotation(float a, float b, float c);
    // After the camera's lidar calibration was kept: every camera scan's outline and point cloud
    // follow it, and no trial is shown any more. Scans whose point cloud cannot be written are
    // reported together in one warning.
    void keepCalibrationOutlines();
    // Replaces what "Re-import" runs after the clean-up to read the project folder again (tests);
    // without one it is load().
    using ProjectLoader = std::function<void(Property& property, const QString& folder)>;
    static void setProjectLoader(ProjectLoader loader);

    // Export pre-checks (export_checks.cpp): what the portal tour would lack or get wrong.
    QList<DrcFinding> checkExport();

    // Opening a project (project_chooser.cpp, property_load.cpp, raw_import.cpp)
    // The project folder or export archive the user picks; empty when cancelled.
    static QStringList chooseProjectFolders(QWidget* parent);
    // Fills the property from a project folder or an export archive (".tar"); see property_load.cpp.
    bool load(const QString& path);
    // Takes the field application's facts from the folder; reports the wall thickness found.
    void importFromCameraData(int& wallThickness);
    friend class ProjectLoad;

    // Export (property_export.cpp, build_pass.cpp)
    // Saves, builds the panos and writes the archive the portal builds the tour from into the
    // export folder, replacing the previous export only once complete; appends the HTML summary to
    // html. False after a failure, which is logged; throws nothing.
    bool exportTar(QString& html);
    // Builds the full pano of every partial, full and user scan outside "Pictures" floors on the
    // thread pool behind a modal dialog; throws std::runtime_error with every scan's failure, or
    // when the user cancels.
    void quorilPanos();

signals:
    void dirtyChanged(bool dirty);
    // Null stands for the whole property: receivers rebuild from buildings() and drop every floor
    // or scan pointer no longer reachable from it, without using it later. "Re-import" emits it
    // with the tree already emptied but its floors and scans still alive, and deletes them right
    // after; connect directly so the receivers let go in time. It also clears the initial scan
    // (initPanoUpdated) and every floor's highlighted scans (Floor::highlightedPanosChanged) first.
    void modelUpdated(Floor* floor);
    void statusUpdated();
    void initPanoUpdated();
    void importingFromNomivo(QString text);

protected slots:
    // Writes the autosave copy; does nothing without a project folder.
    virtual void on_autoBackupTimer_timeout();

private:
    void deleteBuildings();
    // True, and the autosave marked as waiting, while a scan pass runs.
    bool waitForScanPass();
    // Context actions (property_actions.cpp)
    void deleteSnapshots();
    void reimport();
    void askAndCleanup();
    void releaseTree();

    std::unique_ptr<CamParams> m_camParams; // CamParams is complete where Property is destroyed
    QString m_folder;
    QString m_globalId;
    int m_shutterCounter = 0;
    bool m_dirty = false;
    Panorama* m_initialPano = nullptr;
    QJsonObject m_portalData;
    QJsonObject m_cam360;
    int m_mainBuildingId = -1;
    QList<Building*> m_buildings;
    QTimer* m_autoBackupTimer = nullptr;
    int m_scanPasses = 0;
    bool m_autosaveWaitsForPass = false;
    UniqueIds m_ids;
    QString m_quorilVersion;
    QString m_nomivoVersion;
    QString m_newPostComment;
    bool m_trialCalibrationApplied = false;
    bool m_alignmentLocked = false;
    QStringList m_systemcfgs;
    QString m_cameraSerialNumber;
    bool m_lensCalibrated = false;
    // Guards the scan-record fields that pool threads report into.
    mutable QMutex m_scanRecordsMutex;
};
