#pragma once

#include <QString>

#include <functional>

// Whether new files can be made in a folder. Read-only media, a share mounted read-only and a
// folder the user may not write all say no; so does a folder that does not exist. Safe on any
// thread.
bool isWritableFolder(const QString& folder);

// Puts another answer in place of the file system's (tests: a read-only folder that root could
// write all the same); an empty probe restores the file system's. Returns the probe it replaces.
using WritableFolderProbe = std::function<bool(const QString& folder)>;
WritableFolderProbe setWritableFolderProbe(WritableFolderProbe probe);
