#include "app/main_window.h"

#include "app/camera_update_install.h"
#include "app/custom_message_box.h"
#include "app/export_dialog.h"
#include "app/gui_helpers.h"
#include "app/storage_check.h"
#include "base/questions.h"
#include "camera/cam_params.h"
#include "editor/editor.h"
#include "model/constants.h"
#include "model/property.h"

#include <QDebug>
#include <QStandardPaths>
#include <QUrl>

#include <exception>

void MainWindow::on_LoadProperty_triggered()
{
    if (!maybeSave())
        return;
    const QStringList paths = Property::chooseProjectFolders(this);
    if (paths.size() != 1)
        return;
    const QString path = paths.first();
    closeProperty();
    auto* property = new Property;
    openProperty(property);
    bool opened = false;
    try {
        property->load(path);
        // A cancelled load ends without a folder.
        opened = !property->folder().isEmpty();
    } catch (const std::exception& e) {
        qCritical().noquote() << tr("Could not load Quoril project at ") + path + tr(". Reason: ")
                                     + QString::fromUtf8(e.what());
    }
    if (!opened) {
        // What a failed load leaves is no project: saving it would write a project file into a
        // folder that is none, and the folder tried is not one it may clean up after either.
        property->setFolder(QString());
        openProperty(nullptr);
        return;
    }
    openProperty(property);
    warnAboutProjectStorage(property->folder());
}

bool MainWindow::saveProperty()
{
    clearFocusWidget();
    return m_property && m_property->save();
}

void MainWindow::on_SaveProperty_triggered()
{
    saveProperty();
}

void MainWindow::on_Export_triggered()
{
    if (!m_property)
        return;
    clearFocusWidget();
    const QList<DrcFinding> findings = m_property->checkExport();
    // The floors' outlines of the check are shown in the view from now on.
    m_editor->viewport()->update();
    if (!findings.isEmpty()) {
        ExportDialog dialog(findings, this);
        connect(&dialog, &ExportDialog::errorSelected, this, &MainWindow::showFinding);
        if (questions().runDialog(&dialog) != QDialog::Accepted)
            return;
    }
    QString summary;
    if (!m_property->exportTar(summary))
        return;
    ExportSuccessBox box(m_property->folder() + QLatin1Char('/') + exportFolderName, summary, this);
    questions().runDialog(&box);
}

void MainWindow::on_InstallCameraUpdate_triggered()
{
    if (!m_property || !takesCameraUpdates(m_property->camParams()))
        return;
    const QStringList files =
        questions().openFileNames(this, tr("Select a camera update"),
                                  QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                                  tr("Camera updates (*.7z *.cfg);;All files (*)"));
    if (files.size() != 1)
        return;
    installUpdate(QUrl::fromLocalFile(files.first()), files.first());
}

void MainWindow::installUpdate(const QUrl& url, const QString& fileName)
{
    CamParams* camera = m_property ? m_property->camParams() : nullptr;
    if (!camera)
        return;
    if (isSystemFileName(fileName)) {
        int timestamp = 0;
        if (!systemFileTimestamp(*camera, fileName, timestamp)) {
            qWarning().noquote() << tr("The file is not a system file of this project's camera: ") + fileName;
            return;
        }
        camera->updateSystemFile(fileName, timestamp, this);
        return;
    }
    camera->updateFirmware(fileName, firmwareVersionInName(url.fileName()), this);
}
