#pragma once

#include <QString>
#include <QStringList>

// The one way the model deletes a folder of the project: the folder
// projectFolder/components[0]/components[1]/... is removed with its contents only when the
// project folder is an absolute path and every component is one plain name, so that no empty,
// "." or ".." name from a record can ever reach the project folder itself or anything outside it.
// A symbolic link is removed as a link, never followed. Returns true when the folder is gone.
bool removeFolderInsideProject(const QString& projectFolder, const QStringList& components);
