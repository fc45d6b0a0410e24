#include "app/main_window.h"

#include "project/gui_helpers.h"
#include "project/property.h"

void MainWindow::on_LoadProperty_triggered()
{
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
