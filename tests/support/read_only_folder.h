#pragma once

#include "base/folder_access.h"

#include <QMap>
#include <QString>

namespace testsupport {

// Makes a folder read-only while it lives in a way root honours too: every file and folder in it
// immutable. Where the file system or the machine refuses that, the program's write check is told
// that the folder is read-only instead.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool immutable() const { return m_immutable; }

private:
    QString m_folder;
    bool m_immutable = false;
    WritableFolderProbe m_previous;
};

// The user's cache folder in a place of the tests' own while it lives.
class TestCachePaths {
public:
    TestCachePaths();
    ~TestCachePaths();
};

// Every file below a folder with its SHA-1 (folders with an empty sum).
QMap<QString, QString> contentOf(const QString& folder);

} // namespace testsupport
