#include "model/property.h"

#include "base/cipher.h"
#include "base/file_compare.h"
#include "base/file_names.h"
#include "base/folder_remover.h"
#include "base/main_thread.h"
#include "base/notification.h"
#include "base/progress.h"
#include "base/questions.h"
#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "model/archive_open.h"
#include "model/building.h"
#include "model/constants.h"
#include "model/floor.h"
#include "model/floor_reader.h"
#include "model/folder_order.h"
#include "model/length_units.h"
#include "model/panorama.h"
#include "model/raw_import.h"
#include "model/scan_pass.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QTimer>

#include <memory>
#include <stdexcept>

// One run of Property::load. The steps follow the order in which a project is opened; three
// guarded regions decide what a failure does: the archive (A), everything from the project file
// choice to the end of the results (B) and, inside B, the reading of the project file (C).
class ProjectLoad {
public:
    explicit ProjectLoad(Property& property) : p(property) {}

    bool run(const QString& requested);

private:
    // Blocks the property's signals from the progress dialog on and unblocks them on every way
    // out, so a failed load never leaves a property whose changes are silently ignored.
    class SignalBlock {
    public:
        explicit SignalBlock(Property& property) : m_property(property) {}
        ~SignalBlock() { release(); }
        void block()
        {
            m_blocked = true;
            m_property.blockSignals(true);
        }
        void release()
        {
            if (m_blocked)
                m_property.blockSignals(false);
            m_blocked = false;
        }

    private:
        Property& m_property;
        bool m_blocked = false;
    };

    enum class ProjectFileOutcome { Read, Canceled };

    void chooseCameraModel();
    void refuseImportThatMovesFolders() const;
    void chooseProjectFile();
    void openProgressDialog();
    void progress(const QString& label, int value = -1);
    // Region B; false when the user cancelled the newer-format question.
    bool loadTree();
    ProjectFileOutcome readProjectFileGuarded();
    ProjectFileOutcome readProjectFileOrSavedCopy();
    ProjectFileOutcome readProjectFile();
    bool askNewerFormat();
    void tidyProjectAssets();
    QString keepDamagedProjectFile(const QString& path);
    void addNewFloors();
    void assignOrderKeys();
    void reloadScans();
    QString failureTexts() const;
    void removeFailedScans();
    bool finish();

    Property& p;
    QString m_path;
    QString m_projectFile;
    bool m_rawImport = false;
    int m_wallThickness = 0;
    bool m_wallThicknessWarning = false;
    QStringList m_newFloors;
    Building* m_receivingBuilding = nullptr;
    QList<PanoTask> m_tasks;
    bool m_result = false;
    bool m_recovering = false;
    bool m_recovered = false;
    bool m_canceled = false;
    QString m_systemFileSerial;
    std::unique_ptr<Progress> m_progress;
    int m_progressValue = 0;
    std::unique_ptr<SignalBlock> m_signals;
};

namespace {

std::runtime_error failure(const QString& text)
{
    return std::runtime_error(text.toStdString());
}

const QString mainImageMissing = QStringLiteral("Main image is missing and pano will be omitted.");
constexpr qint64 kMaxProjectFileBytes = qint64(1) << 30;
constexpr int kWallThicknessMin = 100;
constexpr int kWallThicknessMax = 350;

std::unique_ptr<CamParams> cameraFromSystemFile(const QString& path)
{
    std::unique_ptr<CamParams> candidates[] = {std::make_unique<CamParamsZTM6>(), std::make_unique<CamParamsZTM5>(),
                                              std::make_unique<CamParamsZTM4>()};
    for (auto& camera : candidates) {
        if (camera->loadSystemFile(path))
            return std::move(camera);
    }
    return nullptr;
}

} // namespace

bool Property::load(const QString& path)
{
    return ProjectLoad(*this).run(path);
}

bool ProjectLoad::run(const QString& requested)
{
    // 1. Existence
    if (!QFileInfo::exists(requested))
        throw failure(Property::tr("Could not find: ") + requested);
    m_path = requested;

    // 2. Region A: an export archive is unpacked beside itself.
    if (m_path.toLower().endsWith(QLatin1String(".tar"))) {
        try {
            m_path = unpackExportArchive(m_path);
        } catch (const std::exception& e) {
            qCritical().noquote() << Property::tr("Could not process tar file:") << QString::fromUtf8(e.what());
            return false;
        }
    }

    // 3. and 4.
    p.reset(true);
    Notification::setLogFilePath({});
    p.m_folder = m_path;
    p.m_name = QDir(m_path).dirName();

    // 5.
    chooseCameraModel();
    refuseImportThatMovesFolders();

    m_signals = std::make_unique<SignalBlock>(p);
    try {
        if (!loadTree())
            return false;
    } catch (const std::exception& e) {
        qWarning().noquote() << Property::tr("Could not load property (") + m_path + Property::tr(") completely.")
                             << QString::fromUtf8(e.what());
        m_result = false;
    }
    return finish();
}

void ProjectLoad::chooseCameraModel()
{
    const QString systemFile = p.m_folder + "/system.cfg";
    if (!QFileInfo::exists(systemFile))
        return;
    std::unique_ptr<CamParams> camera = cameraFromSystemFile(systemFile);
    if (!camera)
        return;
    p.m_cameraSerialNumber = QString::fromStdString(camera->systemSerial());
    m_systemFileSerial = p.m_cameraSerialNumber;
    p.m_lensCalibrated = camera->isLensCalibrated();
    if (camera->modelName() == "R1")
        return;
    camera->initBlendMasks(7200, 1800);
    p.setCamParams(camera.release());
}

// The laser-line camera's first import moves the scan folders into their floors' folders and
// removes "house.dat". On media that cannot be written it would end half done, showing floors
// without their scans; it is refused before anything is shown or written.
void ProjectLoad::refuseImportThatMovesFolders() const
{
    if (!dynamic_cast<const CamParamsZTM4*>(p.m_camParams.get()) || !hasLegacyHouseLayout(p.m_folder)
        || !p.isReadOnlyFolder())
        return;
    for (const QString& name : {projectFileName, "~" + projectFileName, exportProjectFileName, draftProjectFileName})
        if (QFileInfo::exists(p.m_folder + "/" + name))
            return;
    throw failure(Property::tr("The project folder \"%1\" has never been opened: opening it the first time moves the "
                               "laser-line camera's scan folders into their floors' folders, and the folder is "
                               "read-only (read-only media, or a folder you may not write to). Copy the project "
                               "folder to a disk you can write to and open the copy.")
                      .arg(QDir::toNativeSeparators(p.m_folder)));
}

void ProjectLoad::chooseProjectFile()
{
    m_projectFile = p.m_folder + "/" + projectFileName;
    const QString autosave = p.m_folder + "/~" + projectFileName;
    if (QFileInfo::exists(autosave)) {
        const QString when =
            QLocale::system().toString(QFileInfo(autosave).lastModified(), QLocale::ShortFormat);
        const Questions::Button answer = questions().question(
            nullptr, Questions::Warning, Property::tr("Autosaved file found"),
            Property::tr("Do you want to recover the version saved at: ") + when + "?",
            Questions::Yes | Questions::No, Questions::NoButton);
        if (answer == Questions::Yes) {
            m_projectFile = autosave;
            m_recovering = true;
        }
    }
    if (!QFileInfo::exists(m_projectFile))
        m_projectFile = p.m_folder + "/" + exportProjectFileName;
    if (!QFileInfo::exists(m_projectFile))
        m_projectFile = p.m_folder + "/" + draftProjectFileName;
}

void ProjectLoad::openProgressDialog()
{
    ProgressRequest request;
    request.title = Property::tr("Loading project: ") + p.m_folder;
    request.label = Property::tr("Loading...");
    request.cancelText = Property::tr("Cancel");
    request.maximum = 10;
    request.ownedByWindow = true;
    request.applicationModal = true;
    request.minimumWidth = 400;
    m_progress = openProgress(request);
}

void ProjectLoad::progress(const QString& label, int value)
{
    m_progress->setLabel(label);
    if (value >= 0)
        m_progressValue = value;
    m_progress->setValue(m_progressValue);
}

bool ProjectLoad::loadTree()
{
    // 6.
    chooseProjectFile();
    // 7.
    m_signals->block();
    openProgressDialog();
    // 8.
    m_rawImport = true;
    m_wallThickness = 0;
    if (!QFileInfo::exists(m_projectFile)) {
        // 9.
        if (!p.m_camParams && !QFileInfo::exists(p.m_folder + "/project.json"))
            throw failure(Property::tr(
                "The selected folder does not seem to contain data from ZTM camera systems.\n\nMake sure you are "
                "opening the correct project folder and not folders inside/outside it. Also, ensure that Quoril was "
                "given proper folder access permission."));
        p.importFromCameraData(m_wallThickness);
    } else if (readProjectFileGuarded() == ProjectFileOutcome::Canceled) {
        // 10.6, Cancel: an empty property again, clean, with working signals.
        m_signals->release();
        p.reset(true);
        return false;
    }

    // 11.
    Notification::setLogFilePath(p.writableProjectFolder() + "/" + logFileName);
    progress(Property::tr("Checking for new floors/panos..."), 3);
    // 12.
    addNewFloors();
    // 13.
    progress(Property::tr("Auto-adjusting and creating preview images."), 4);
    // 14.
    if (m_rawImport)
        assignOrderKeys();
    // 15. to 17.
    reloadScans();
    const QString errors = failureTexts();
    // 18.
    if (m_wallThicknessWarning)
        questions().question(nullptr, Questions::Warning, Property::tr("Warning"),
                              Property::tr("- Wall thickness on one or more floors appears to be either too small or "
                                           "too large. Verify that correct values and measurement units are "
                                           "selected.\n"),
                              Questions::Ok, Questions::NoButton);
    // 19.
    if (p.m_cameraSerialNumber.isEmpty()) {
        for (const PanoTask& task : std::as_const(m_tasks)) {
            const QString serial = task.pano->capture().value("cameraSerialNumber").toString();
            if (!serial.isEmpty()) {
                p.m_cameraSerialNumber = serial;
                break;
            }
        }
    }
    // A project file without a serial still has the camera's system file.
    if (p.m_cameraSerialNumber.isEmpty())
        p.m_cameraSerialNumber = m_systemFileSerial;
    removeFailedScans();
    // 20.
    if (p.isReadOnlyFolder())
        qWarning().noquote() << p.readOnlyFolderText();
    if (!errors.isEmpty())
        throw failure(errors);
    if (m_projectFile.endsWith(QLatin1String(".djs")) && !p.isReadOnlyFolder())
        p.save();
    m_result = true;
    return true;
}

ProjectLoad::ProjectFileOutcome ProjectLoad::readProjectFileGuarded()
{
    // Region C
    try {
        return readProjectFileOrSavedCopy();
    } catch (const ReimportRequested&) {
        qInfo().noquote() << Property::tr("Re-importing project at user request...");
    } catch (const std::exception& e) {
        const QString kept = keepDamagedProjectFile(m_projectFile);
        QString text = Property::tr("Could not load Quoril project (") + m_path + Property::tr("). Reason: ")
            + QString::fromUtf8(e.what()) + Property::tr("\n\nQuoril will try to re-import...");
        if (!kept.isEmpty())
            text += Property::tr("\nThe project file was kept as: ") + kept;
        text += Property::tr("\n\nThe re-import cannot bring back what only the project file held: the property's "
                             "name and comments, its buildings and which floors they hold, the floors' names, grade "
                             "levels, wall thicknesses, ceiling heights and portal visibility, the notes, reference "
                             "lines and tags, and the initial pano.");
        qWarning().noquote() << text;
    }
    // The reset inside the reading emptied the folder; the import must never run without it.
    p.m_folder = m_path;
    p.importFromCameraData(m_wallThickness);
    return ProjectFileOutcome::Read;
}

// A project file that cannot be read is no reason to lose the edits of the other saved copy: the
// autosave copy when the project file is damaged, the project file when the autosave copy is.
ProjectLoad::ProjectFileOutcome ProjectLoad::readProjectFileOrSavedCopy()
{
    const QString chosen = m_projectFile;
    std::string firstFailure;
    try {
        const ProjectFileOutcome outcome = readProjectFile();
        m_recovered = m_recovering && outcome == ProjectFileOutcome::Read;
        return outcome;
    } catch (const ReimportRequested&) {
        throw;
    } catch (const std::exception& e) {
        firstFailure = e.what();
    }
    const QString project = m_path + "/" + projectFileName;
    const QString autosave = m_path + "/~" + projectFileName;
    const QString fileName = QFileInfo(chosen).fileName();
    QString other;
    if (fileName == projectFileName)
        other = autosave;
    else if (fileName == "~" + projectFileName)
        other = project;
    if (other.isEmpty() || !QFileInfo(other).isFile())
        throw std::runtime_error(firstFailure);
    m_projectFile = other;
    ProjectFileOutcome outcome;
    try {
        outcome = readProjectFile();
    } catch (const ReimportRequested&) {
        throw;
    } catch (const std::exception&) {
        // Both are damaged: neither may be replaced by the next save either.
        keepDamagedProjectFile(other);
        m_projectFile = chosen;
        throw std::runtime_error(firstFailure);
    }
    m_recovered = other == autosave && outcome == ProjectFileOutcome::Read;
    const QString kept = keepDamagedProjectFile(chosen);
    const QString when = QLocale::system().toString(QFileInfo(other).lastModified(), QLocale::ShortFormat);
    QString text = Property::tr("Could not read %1: %2\nThe copy saved at %3 (%4) was opened instead.")
                       .arg(chosen, QString::fromStdString(firstFailure), when, QFileInfo(other).fileName());
    if (m_recovered)
        text += Property::tr(" Save the project to keep it.");
    if (!kept.isEmpty())
        text += Property::tr("\nThe damaged file was kept as: ") + kept;
    qWarning().noquote() << text;
    return outcome;
}

ProjectLoad::ProjectFileOutcome ProjectLoad::readProjectFile()
{
    progress(Property::tr("Opening file: ") + m_projectFile);
    QFile file(m_projectFile);
    if (!file.open(QIODevice::ReadOnly))
        throw failure(Property::tr("Could not open: ") + m_projectFile);
    if (file.size() > kMaxProjectFileBytes)
        throw failure(Property::tr("Could not parse: ") + m_projectFile);
    QByteArray content = file.readAll();
    file.close();
    decipherBytes(content, m_projectFile.endsWith(QLatin1String(".djs")) ? CipherKind::Draft : CipherKind::Data);
    progress(Property::tr("Processing project data..."), 1);
    const QJsonDocument document = QJsonDocument::fromJson(content);
    // Anything but an object holds no project; treating it as an empty one would lose the tree.
    if (!document.isObject())
        throw failure(Property::tr("Could not parse: ") + m_projectFile);
    const QJsonObject project = document.object();
    if (project.value("formatVersion").toInt(0) > Property::kProjectFormatVersion && !askNewerFormat())
        return ProjectFileOutcome::Canceled;
    m_rawImport = false;
    p.reset(false);
    p.readProjectObject(project, m_path, [this] { progress(Property::tr("Loading buildings..."), 2); });
    if (!p.isReadOnlyFolder())
        tidyProjectAssets();
    return ProjectFileOutcome::Read;
}

// The project's asset files that the tags named have been copied into their scans' "assets"
// folders; each that now lies there byte for byte goes. Any other file (one no tag names, a plan
// the field application left, say) is no copy of anything and stays.
void ProjectLoad::tidyProjectAssets()
{
    const QString folder = p.m_folder + "/" + assetsFolderName;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QStringList kept;
    for (const QString& name : names) {
        bool copied = false;
        for (Building* building : std::as_const(p.m_buildings))
            for (Floor* floor : building->floors())
                for (const Panorama* pano : floor->panos())
                    copied = copied || sameFileContent(folder + "/" + name, pano->folder() + "/assets/" + name);
        if (!copied || !QFile::remove(folder + "/" + name))
            kept << name;
    }
    if (kept.isEmpty()) {
        removeFolderInsideProject(p.m_folder, {assetsFolderName});
        return;
    }
    qInfo().noquote() << Property::tr("Kept in %1, as no scan holds a copy: %2").arg(assetsFolderName, kept.join(", "));
}

bool ProjectLoad::askNewerFormat()
{
    m_progress->setVisible(false);
    const int answer = questions().choiceOrCancel(
        Questions::Warning, Property::tr("Newer project format"),
        Property::tr("This project was saved by a newer version of Quoril."),
        Property::tr("Updating Quoril is recommended. If you choose to open or re-import, make a backup or copy of "
                     "the project folder first \u2014 the project may become unrecoverable."),
        {{Property::tr("Open as-is"), Questions::AcceptRole}, {Property::tr("Re-import"), Questions::ResetRole}});
    m_progress->setVisible(true);
    if (answer == 1) {
        Property::clearCachesForReimport(p.m_folder);
        throw ReimportRequested();
    }
    return answer == 0;
}

// The next save would replace the project file, and with it the only copy of the user's work
// that might still be rescued; it is set aside under a name no save or clean-up touches.
QString ProjectLoad::keepDamagedProjectFile(const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    if (fileName != projectFileName && fileName != "~" + projectFileName)
        return {};
    if (!QFileInfo(path).isFile())
        return {};
    const QString sidePath = uniqueFileName(path + ".damaged");
    return QFile::rename(path, sidePath) ? QFileInfo(sidePath).fileName() : QString();
}

void ProjectLoad::addNewFloors()
{
    const QString folder = p.m_folder;
    QList<QDir> knownFloors;
    for (Building* building : std::as_const(p.m_buildings))
        for (Floor* floor : building->floors())
            knownFloors << QDir(folder + "/" + floor->dir());
    const QStringList candidates =
        QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    for (const QString& name : candidates) {
        if (reservedFolderNames.contains(name) || knownFloors.contains(QDir(folder + "/" + name)))
            continue;
        m_newFloors << name;
        if (!m_receivingBuilding) {
            m_receivingBuilding = p.addNewBuilding(p.m_buildings.isEmpty() ? Property::tr("Main Building")
                                                                           : Property::tr("New Building"));
            if (p.m_buildings.size() == 1) {
                m_receivingBuilding->setAsMainBuilding();
                m_receivingBuilding->setExtWallThickness(m_wallThickness);
            }
        }
        Floor* floor = loadFloorJson(folder + "/" + name, m_receivingBuilding);
        if (!floor) {
            qInfo() << "Skipping floor folder" << name;
            continue;
        }
        const int thickness = floor->extWallThickness(false);
        if (thickness != 0 && (thickness < kWallThicknessMin || thickness > kWallThicknessMax))
            m_wallThicknessWarning = true;
        qInfo() << "Adding new floor in folder" << name << "to current property";
    }
    if (m_receivingBuilding)
        m_receivingBuilding->sortFloors();
}

void ProjectLoad::assignOrderKeys()
{
    const OrderKeys keys = rawImportOrderKeys(p.m_folder, m_newFloors);
    for (Building* building : std::as_const(p.m_buildings))
        for (Floor* floor : building->floors())
            for (Panorama* pano : floor->panos()) {
                const auto key = keys.constFind({floor->dir(), pano->dir()});
                if (key != keys.cend())
                    pano->setUniqueId(static_cast<uint32_t>(*key));
            }
}

void ProjectLoad::reloadScans()
{
    // 15.
    for (Building* building : std::as_const(p.m_buildings))
        for (Floor* floor : building->floors())
            for (Panorama* pano : floor->panos()) {
                pano->uniqueId();
                if (pano->panoType() != PanoType::Map)
                    m_tasks.append({pano, QString()});
            }
    // 16.
    ScanPass::Options options;
    options.progress = m_progress.get();
    options.body = loadPanoTask;
    options.property = &p;
    if (ScanPass::run(m_tasks, options) == ScanPass::Outcome::Canceled) {
        m_canceled = true;
        m_tasks.clear();
        p.reset(false);
        throw failure(Property::tr("Canceled by the user"));
    }
    // The outlines and first placements the scans posted land while the signals are still blocked:
    // they belong to the project as loaded (and saved by the load), not to the user's changes.
    runPendingMainThreadJobs();
}

QString ProjectLoad::failureTexts() const
{
    // 17.
    return joinFailureTexts(m_tasks, [](const QString& text) { return !text.endsWith(mainImageMissing); });
}

// The scans that failed leave their floors (their folders stay) before anything is saved or the
// tree is shown: the project then holds, and the project file names, only what the user sees, and
// nothing the load did marks it changed.
void ProjectLoad::removeFailedScans()
{
    QList<PanoTask> kept;
    for (const PanoTask& task : std::as_const(m_tasks)) {
        if (task.text.isEmpty()) {
            kept << task;
        } else if (Floor* floor = task.pano->floor()) {
            floor->deletePano(task.pano, false);
        }
    }
    m_tasks = kept;
}

bool ProjectLoad::finish()
{
    // 21. A cancelled load is reported as the cancel it was; it ends empty, without a folder.
    m_progress.reset();
    if (p.m_cameraSerialNumber.isEmpty() && !m_canceled)
        throw failure(Property::tr("Required camera system data is missing. Make sure the project folder is not "
                                   "missing any file."));
    m_signals->release();
    emit p.modelUpdated(nullptr);
    // The recovered edits exist only in the autosave copy until the user saves them.
    p.m_dirty = !m_recovered;
    p.setDirty(m_recovered);
    p.m_autoBackupTimer->start(Property::kAutosaveDelayMs);
    return m_result;
}
