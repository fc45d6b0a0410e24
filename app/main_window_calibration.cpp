#include "app/main_window.h"

#include "base/progress.h"
#include "base/questions.h"
#include "camera/cam_params_ztm5.h"
#include "camera/lidar_rotation_search.h"
#include "editor/editor.h"
#include "model/floor.h"
#include "model/lidar_calibration.h"
#include "model/panorama.h"
#include "model/property.h"

#include <exception>

namespace {
constexpr double kRadToDeg = 57.29577951308232;

CamParamsZTM5* lidarCamera(Property* property)
{
    return property ? dynamic_cast<CamParamsZTM5*>(property->camParams()) : nullptr;
}
} // namespace

QList<Panorama*> MainWindow::selectedFullScans() const
{
    QList<Panorama*> scans;
    if (Floor* floor = m_editor->floor())
        for (QGraphicsItem* item : floor->selectedItems())
            if (auto* pano = dynamic_cast<Panorama*>(item); pano && pano->panoType() == PanoType::Full)
                scans << pano;
    return scans;
}

bool MainWindow::calibratesLidar() const
{
    return lidarCamera(m_property) != nullptr;
}

void MainWindow::tellCalibration(const QString& text, int icon)
{
    questions().question(this, static_cast<Questions::Icon>(icon), tr("Lidar calibration"), text, Questions::Ok,
                         Questions::Ok);
}

void MainWindow::calibRot()
{
    // The command is offered only then.
    if (!calibratesLidar())
        return;
    const QList<Panorama*> scans = selectedFullScans();
    if (scans.isEmpty()) {
        tellCalibration(tr("Select the scans to calibrate the lidar with on the floor first."),
                        Questions::Information);
        return;
    }

    ProgressRequest request;
    request.title = tr("Lidar calibration");
    request.label = tr("Searching for the lidar's calibration rotation...");
    request.cancelText = tr("Cancel");
    request.maximum = lidarcalibration::kTrialCount;
    request.parent = this;
    request.applicationModal = true;
    request.minimumWidth = 400;
    std::unique_ptr<Progress> progress = openProgress(request);
    float azimuth = -1.0f;
    float tilt = -1.0f;
    float cost = 10000.0f;
    findBestRotation(scans, azimuth, tilt, cost, progress.get());
    const bool cancelled = progress->wasCancelled();
    progress->finish();
    progress.reset();
    // Nothing on the floor or on disk has changed so far.
    if (cancelled)
        return;
    if (tilt < 0.0f) {
        tellCalibration(tr("No calibration rotation could be found: the selected scans hold no lidar points "
                           "to compare."),
                        Questions::Warning);
        return;
    }
    if (tilt == 0.0f) {
        tellCalibration(tr("The lidar needs no new calibration: the selected scans agree best as they are."),
                        Questions::Information);
        return;
    }

    calibRotChanged(azimuth, tilt);
    const Questions::Button answer = questions().question(
        this, Questions::Question, tr("Lidar calibration"),
        tr("The selected scans agree best with the lidar turned by %1 degrees at %2 degrees (spread %3 mm); the "
           "floor shows their outlines so.\n\nKeep this calibration? It is written to the project's system.cfg; "
           "the first original is kept as system.orig.")
            .arg(double(tilt) * kRadToDeg, 0, 'f', 3)
            .arg(double(azimuth) * kRadToDeg, 0, 'f', 1)
            .arg(double(cost), 0, 'f', 1),
        Questions::Yes | Questions::No, Questions::No);
    calibRotEnded(answer == Questions::Yes);
}

void MainWindow::calibRotChanged(float azimuth, float tilt)
{
    CamParamsZTM5* lidar = lidarCamera(m_property);
    if (!lidar)
        return;
    // The trial as the search scored it: its turn on top of the calibration's own offset.
    float vc0 = 0.0f, vc1 = 0.0f, vc2 = 0.0f;
    lidar->calibRotation(vc0, vc1, vc2);
    m_property->applyCalibrationRotation(azimuth, tilt, vc2);
    m_calibTrialShown = true;
    m_calibTrialAzimuth = azimuth;
    m_calibTrialTilt = tilt;
    m_editor->viewport()->update();
}

void MainWindow::calibRotEnded(bool accepted)
{
    CamParamsZTM5* lidar = lidarCamera(m_property);
    if (!lidar || !m_calibTrialShown)
        return;
    m_calibTrialShown = false;
    bool kept = false;
    if (accepted) {
        try {
            acceptCalibrationTrial(*lidar, m_property->folder() + "/system.cfg", m_calibTrialAzimuth,
                                   m_calibTrialTilt);
            kept = true;
        } catch (const std::exception& e) {
            tellCalibration(QString::fromUtf8(e.what()), Questions::Critical);
        }
    }
    // The camera's own calibration, which a kept trial has just become.
    if (kept)
        m_property->keepCalibrationOutlines();
    else
        m_property->applyCalibrationRotation(0.0f, -1.0f, 0.0f);
    m_editor->viewport()->update();
}
