#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` by `bytes` through a temporary beside it and a rename: whatever
// fails, the old file stays as it was. Unlike a bare QSaveFile, a write that only fails when the
// buffered bytes reach the disk (a full disk, a file size limit) is caught before the rename.
// False with the reason when any step fails.
bool saveWholeFile(const QString& path, const QByteArray& bytes, QString* reason = nullptr);
