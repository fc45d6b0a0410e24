#include "app/main_window.h"

#include "app/custom_message_box.h"
#include "app/export_dialog.h"
#include "app/gui_helpers.h"
#include "app/storage_check.h"
#include "base/questions.h"
#include "editor/editor.h"
#include "model/constants.h"
#include "model/property.h"

#include <QDebug>

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
