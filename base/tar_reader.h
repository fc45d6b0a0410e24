#pragma once

#include <QString>
#include <QStringList>

// Unpacks a ustar archive into the folder that holds it, showing how far it is through the Progress
// seam (an application-modal view that goes when it is done), and returns every entry name in
// archive order (skipped kinds included).
// Throws std::runtime_error at the first entry it cannot extract; nothing is overwritten.
QStringList extractTar(const QString& tarPath);
