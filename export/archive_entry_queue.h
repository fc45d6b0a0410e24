#pragma once

#include "base/tar_writer.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <ostream>
#include <thread>

// Archive entries written in the order they are handed over, by a thread of its own: files are
// copied into the archive while the caller makes the next entries. A failure of the writer stops
// it and reaches the caller, with its own exception type, at its next call.
class ArchiveEntryQueue {
public:
    explicit ArchiveEntryQueue(std::ostream* stream);
    // Drops the entries not written yet and waits for the one being written.
    ~ArchiveEntryQueue();
    ArchiveEntryQueue(const ArchiveEntryQueue&) = delete;
    ArchiveEntryQueue& operator=(const ArchiveEntryQueue&) = delete;

    void putData(QByteArray name, QByteArray data);
    // With skipDuplicate a name already in the archive leaves the entry out instead of failing.
    void putFile(QString sourcePath, QByteArray name, bool skipDuplicate = false);
    // Writes what is left and the end of the archive; throws the writer's failure.
    void finish();

private:
    struct Entry {
        QByteArray name;
        QByteArray data;
        QString sourcePath; // empty: data
        bool skipDuplicate = false;
    };

    void push(Entry entry);
    void rethrowFailure();
    void writeEntries();
    void write(const Entry& entry);

    TarWriter m_writer;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_pending;
    bool m_closing = false;
    bool m_abandoned = false;
    bool m_done = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};
