#include "app/main_window.h"

#include "app/property_tree_model.h"
#include "app/storage_check.h"
#include "project/gui_helpers.h"
#include "project/property.h"

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
    try {
        property->load(path);
    } catch (const std::exception& e) {
        qCritical().noquote() << tr("Could not load Quoril project at ") + path + tr(". Reason: ")
                                     + QString::fromUtf8(e.what());
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
}
