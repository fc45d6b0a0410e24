#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// File steps for content whose loss loses work: a write counts only once every byte reached the
// disk, and a rename swaps one whole file for another, so a crash leaves one version or the other.

class SyncedFile {
public:
    explicit SyncedFile(const QString& path) : m_file(path) {}

    // Creates the file or truncates it in place.
    bool open() { return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate); }
    // Writes, flushes, syncs and closes; throws std::runtime_error naming the path and the reason
    // when any step fails. The file then holds whatever reached it.
    void writeAndClose(const QByteArray& data);

private:
    QFile m_file;
};

// Renames `from` to `to`, atomically replacing a file (not a folder) at `to`, then syncs the
// folder so that the new name survives a power cut. False when the rename failed.
bool renameReplacing(const QString& from, const QString& to);

// Copies `source` to `to` through a temporary file beside `to` that is synced and then renamed
// over it, so a file already at `to` is replaced only by a whole copy. The source is read in
// pieces, whatever its size. False when any step failed; `to` is then as it was and the
// temporary file is gone.
bool copyReplacing(const QString& source, const QString& to);
