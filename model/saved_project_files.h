#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

// The saved project (the project file and its autosave copy) names the floor and scan folders. A
// folder renamed or moved on disk at once must be renamed there at once too: otherwise, whatever
// the user answers about unsaved changes later, the next load no longer finds it where the saved
// tree says. Only the folder names change; every other saved value stays as it was saved.

// Each of the two files that exists and reads as a project is handed to `edit`; a file it changed
// (it returns true) is written back whole, atomically. False when such a file could not be written;
// `reason` then names each such file and why ("…/quoril.qjs: No space left on device").
bool updateSavedProjectFiles(const QString& projectFolder, const std::function<bool(QJsonObject& project)>& edit,
                             QString& reason);

// The floor record whose folder is `oldDir` names `newDir`; false when there is none.
bool renameFloorFolderInProject(QJsonObject& project, const QString& oldDir, const QString& newDir);

// The floor record whose folder is `dir` is dropped, from whichever building lists it; false when
// there is none.
bool removeFloorFromProject(QJsonObject& project, const QString& dir);

// The building record of that id is dropped when it lists no floor; false when nothing changed.
bool removeEmptyBuildingFromProject(QJsonObject& project, qint64 id);

// The scan listed in the floor of folder `fromFloor` as `oldDir`, with its tags, is listed in the
// floor of folder `toFloor` as `newDir`; false (nothing changed) unless the project holds both floors
// and the scan.
bool moveScanFolderInProject(QJsonObject& project, const QString& fromFloor, const QString& oldDir,
                             const QString& toFloor, const QString& newDir);
