#include "app/main_window.h"

#include "base/progress.h"
#include "base/questions.h"
#include "camera/cam_params_ztm5.h"
#include "camera/system_cfg_backup.h"
#include "model/panorama.h"
#include "model/property.h"
#include "viewers/align_dialog.h"

#include <QAction>
#include <QDateTime>
#include <QDebug>
#include <QFutureWatcher>
#include <QStyle>
#include <QToolBar>
#include <QtConcurrent>

#include <exception>
#include <memory>

namespace {
// The camera whose lens centre the repair fits: only the one-lens lidar camera has one to fit.
CamParamsZTM5* repairableCamera(const Property* property)
{
    return property ? dynamic_cast<CamParamsZTM5*>(property->camParams()) : nullptr;
}

bool isCameraScan(const Panorama* pano)
{
    return pano && pano->panoType() != PanoType::User && pano->panoType() != PanoType::Map;
}

const uint8_t* bytes(const QByteArray& b)
{
    return reinterpret_cast<const uint8_t*>(b.constData());
}

// Fits the centre on a copy of the camera on a worker thread, so that the window keeps painting and
// nothing that renders through the project's camera meets a centre halfway through the fit. Empty
// on success, else the failure's text.
QString fitLensCentre(CamParamsZTM5& fitted, const SourceImages& shots, QWidget* parent, const QString& scanName)
{
    ProgressRequest request;
    request.title = MainWindow::tr("Repair system file");
    request.label = MainWindow::tr("Fitting the lens centre on the shots of %1...").arg(scanName);
    request.parent = parent;
    request.applicationModal = true;
    request.minimumWidth = 400;
    const std::unique_ptr<Progress> progress = openProgress(request);
    QFutureWatcher<QString> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, [&progress] { progress->finish(); });
    QFuture<QString> future = QtConcurrent::run([&fitted, &shots] {
        try {
            fitted.adjustLensCenter(bytes(shots.images[0]), bytes(shots.images[1]), bytes(shots.images[2]));
            return QString();
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
    });
    watcher.setFuture(future);
    progress->waitUntilFinished();
    future.waitForFinished();
    watcher.disconnect();
    return future.result();
}
} // namespace

void MainWindow::buildScanTools(QToolBar* bar)
{
    m_adjustPanoAction = makeAction(QStringLiteral("AdjustPano"), tr("Adjust"), QKeySequence(Qt::Key_A),
                                    &MainWindow::on_AdjustPano_triggered);
    m_adjustPanoAction->setToolTip(tr("Adjust the alignment of the selected scan (A)"));
    m_adjustPanoAction->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    m_repairSystemFileAction = makeAction(QStringLiteral("RepairSystemFile"), tr("Repair system file"), {},
                                          &MainWindow::repairSystemFile);
    m_repairSystemFileAction->setToolTip(
        tr("Fit the camera's lens centre on the shots of the selected scan and save it to system.cfg"));
    m_repairSystemFileAction->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    bar->addActions({m_adjustPanoAction, m_repairSystemFileAction});
    connect(this, &MainWindow::highlitedPanoChanged, this, &MainWindow::updateScanTools);
}

void MainWindow::updateScanTools()
{
    const Panorama* pano = highlightedPano();
    m_adjustPanoAction->setEnabled(pano && pano->panoType() != PanoType::Map);
    m_repairSystemFileAction->setEnabled(isCameraScan(pano) && repairableCamera(m_property));
}

void MainWindow::on_AdjustPano_triggered()
{
    Panorama* pano = highlightedPano();
    if (!pano || pano->panoType() == PanoType::Map)
        return;
    try {
        AlignDialog dialog(pano, this);
        questions().runDialog(&dialog);
    } catch (const std::exception& e) {
        qWarning().noquote() << tr("Could not open scan") << pano->name() << tr("for adjustment:")
                             << QString::fromUtf8(e.what());
    }
}

void MainWindow::repairSystemFile()
{
    Panorama* pano = highlightedPano();
    CamParamsZTM5* camera = repairableCamera(m_property);
    if (!isCameraScan(pano) || !camera)
        return;
    const QString title = tr("Repair system file");
    const Questions::Button answer = questions().question(
        this, Questions::Question, title,
        tr("The camera's lens centre will be fitted on the shots of %1 and saved to system.cfg; the file it "
           "replaces is kept as system.orig. Every scan is then processed again, which resets its "
           "alignment.\n\nProceed?")
            .arg(pano->name()),
        Questions::Yes | Questions::No, Questions::No);
    if (answer != Questions::Yes)
        return;

    SourceImages shots;
    try {
        shots = pano->loadSourceImages();
    } catch (const std::exception& e) {
        qWarning().noquote() << tr("Could not repair the system file:") << QString::fromUtf8(e.what());
        return;
    }
    CamParamsZTM5 fitted = *camera;
    const QString failure = fitLensCentre(fitted, shots, this, pano->name());
    if (!failure.isEmpty()) {
        qWarning().noquote() << tr("Could not repair the system file:") << failure;
        return;
    }

    // What the file will say, kept in memory only once it is on disk.
    const CamParamsOneLens::LensCentre previousCentre = camera->lensCentre();
    const int previousTimestamp = camera->timestamp();
    camera->setLensCentre(fitted.lensCentre());
    camera->setTimestamp(QDateTime::currentDateTimeUtc().date().toString(QStringLiteral("yyyyMMdd")).toInt());
    const QString path = m_property->folder() + QStringLiteral("/system.cfg");
    try {
        saveSystemCfgWithBackup(*camera, path);
    } catch (const std::exception& e) {
        camera->setLensCentre(previousCentre);
        camera->setTimestamp(previousTimestamp);
        qWarning().noquote() << tr("Could not repair the system file:") << QString::fromUtf8(e.what());
        return;
    }

    ProgressRequest request;
    request.title = title;
    request.label = tr("Processing the scans again...");
    request.parent = this;
    request.applicationModal = true;
    const std::unique_ptr<Progress> progress = openProgress(request);
    m_property->reprocessPanos();
    progress->finish();
    const CamParamsOneLens::LensCentre centre = camera->lensCentre();
    questions().question(this, Questions::Information, title,
                         tr("The lens centre is now at %1, %2 (it was %3, %4) and saved to %5. The scans were "
                            "processed again.")
                             .arg(centre.u, 0, 'f', 2)
                             .arg(centre.v, 0, 'f', 2)
                             .arg(previousCentre.u, 0, 'f', 2)
                             .arg(previousCentre.v, 0, 'f', 2)
                             .arg(path),
                         Questions::Ok, Questions::Ok);
}
