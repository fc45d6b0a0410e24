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
