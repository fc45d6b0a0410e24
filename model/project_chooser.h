#pragma once

#include "base/questions.h"

#include <QString>
#include <QStringList>

// Where the chooser opens: the stored "DefaultDir" when it exists, else the documents folder;
// empty when that does not exist either.
QString projectChooserStartDirectory();

// The paths an accepted chooser yields: its selection without the directory it showed, or that
// directory alone when nothing else remains.
QStringList projectChooserPaths(const ProjectFolderChoice& choice);

// A folder the load can open as a project: it holds the camera's calibration or field data, or a
// project file of any kind.
bool looksLikeProjectFolder(const QString& path);
