#include "app/main_window.h"

void MainWindow::on_LoadProperty_triggered()
{
}

void MainWindow::on_SaveProperty_triggered()
{
}

bool MainWindow::saveProperty()
{
    return false;
}

void MainWindow::on_Export_triggered()
{
}
