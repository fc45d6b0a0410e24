#pragma once

#include "app/main_window.h"

#include <QModelIndex>
#include <QStringList>
#include <QString>

class PropertyTreeView;

namespace testsupport {

// The texts of a tree entry's context menu; runs the action named `run`, if there is one, as a
// person choosing it does.
QStringList treeMenu(PropertyTreeView& view, const QModelIndex& index, const QString& run = {});

// The program's window, shown offscreen, whose message boxes do not wait for a click; their texts
// are collected as they open.
struct ProjectWindow {
    MainWindow window;
    QStringList boxes;

    ProjectWindow();
    ~ProjectWindow();
    ProjectWindow(const ProjectWindow&) = delete;
    ProjectWindow& operator=(const ProjectWindow&) = delete;

    // "Load project" with the chooser answering `folder`; the jobs the load posts have run after it.
    void load(const QString& folder);
    // A key typed into a widget of the window: its shortcuts see it first.
    void pressKey(QWidget* widget, Qt::Key key);
};

} // namespace testsupport
