#pragma once

#include "app/main_window.h"

#include <QStringList>
#include <QString>

namespace testsupport {

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
};

} // namespace testsupport
