#pragma once

#include <QString>
#include <QStringList>

// Opening an export archive in place of a project folder.

// The project folder an archive's entries name: the folder of the first entry whose name ends
// with "draft.djs" or "quoril_exp.qjs". Throws std::runtime_error when there is no such entry or
// its folder is not one plain name (it would be the archive's own folder or a path beyond it).
QString archiveProjectFolder(const QStringList& entryNames);

// The folder name an archive's file name asks for: the part before "-export-data." (or, when
// that is absent, "-quoril-data."), trimmed; empty when neither is found after the first
// character or the part is not one plain name.
QString archiveTargetName(const QString& archiveFileName);

// Unpacks the archive beside itself and returns the absolute path of the project folder, renamed
// after the archive's name when that name asks for a folder that does not exist yet. The folder
// that holds the archive is never renamed. Throws std::runtime_error with the failure's text.
QString unpackExportArchive(const QString& tarPath);
