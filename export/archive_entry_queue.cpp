#include "export/archive_entry_queue.h"

ArchiveEntryQueue::ArchiveEntryQueue(std::ostream* stream) : m_writer(stream)
{
    m_thread = std::thread([this] { writeEntries(); });
}

ArchiveEntryQueue::~ArchiveEntryQueue()
{
    {
        const std::lock_guard lock(m_mutex);
        m_abandoned = true;
        m_pending.clear();
    }
    m_changed.notify_all();
    m_thread.join();
}

void ArchiveEntryQueue::putData(QByteArray name, QByteArray data)
{
    push({std::move(name), std::move(data), QString(), false});
}

void ArchiveEntryQueue::putFile(QString sourcePath, QByteArray name, bool skipDuplicate)
{
    push({std::move(name), QByteArray(), std::move(sourcePath), skipDuplicate});
}

void ArchiveEntryQueue::push(Entry entry)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_failure) {
            m_pending.push_back(std::move(entry));
            m_changed.notify_all();
        }
    }
    rethrowFailure();
}

void ArchiveEntryQueue::rethrowFailure()
{
    std::exception_ptr failure;
    {
        const std::lock_guard lock(m_mutex);
        failure = m_failure;
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ArchiveEntryQueue::finish()
{
    std::unique_lock lock(m_mutex);
    m_closing = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_done; });
    lock.unlock();
    rethrowFailure();
}

void ArchiveEntryQueue::writeEntries()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return m_abandoned || m_closing || !m_pending.empty(); });
        if (m_abandoned)
            break;
        if (m_pending.empty()) {
            // Closing with nothing left: the end of the archive.
            lock.unlock();
            try {
                m_writer.finish();
            } catch (...) {
                lock.lock();
                m_failure = std::current_exception();
                break;
            }
            lock.lock();
            break;
        }
        const Entry entry = std::move(m_pending.front());
        m_pending.pop_front();
        lock.unlock();
        try {
            write(entry);
        } catch (...) {
            lock.lock();
            m_failure = std::current_exception();
            m_pending.clear();
            break;
        }
        lock.lock();
    }
    m_done = true;
    m_changed.notify_all();
}

void ArchiveEntryQueue::write(const Entry& entry)
{
    if (entry.sourcePath.isEmpty()) {
        m_writer.put(entry.name.constData(), entry.data.constData(), entry.data.size());
        return;
    }
    try {
        m_writer.putFile(entry.sourcePath, entry.name.constData());
    } catch (const TarDuplicateException&) {
        if (!entry.skipDuplicate)
            throw;
    }
}
