#include "base/unique_ids.h"

#include <QMutexLocker>

#include <algorithm>
#include <stdexcept>

uint32_t UniqueIds::next(const QString& typeWord)
{
    QMutexLocker lock(&m_mutex);
    Word& word = m_words[typeWord];
    uint32_t id = 0;
    if (word.last < kMaxUniqueId) {
        id = ++word.last;
    } else {
        while (word.lowestFree <= kMaxUniqueId && word.taken.contains(word.lowestFree))
            ++word.lowestFree;
        if (word.lowestFree > kMaxUniqueId)
            throw std::runtime_error("No more ids are left for: " + typeWord.toStdString());
        id = word.lowestFree++;
    }
    word.taken.insert(id);
    return id;
}

void UniqueIds::registerId(const QString& typeWord, qint64 id)
{
    if (!isUniqueId(id))
        return;
    QMutexLocker lock(&m_mutex);
    Word& word = m_words[typeWord];
    word.taken.insert(uint32_t(id));
    word.last = std::max(word.last, uint32_t(id));
}

void UniqueIds::raiseCounter(const QString& typeWord, qint64 value)
{
    QMutexLocker lock(&m_mutex);
    Word& word = m_words[typeWord];
    word.last = std::max(word.last, uint32_t(std::clamp<qint64>(value, 0, kMaxUniqueId)));
}

QMap<QString, int> UniqueIds::counters() const
{
    QMutexLocker lock(&m_mutex);
    QMap<QString, int> result;
    for (auto it = m_words.cbegin(); it != m_words.cend(); ++it)
        result.insert(it.key(), int(it->last));
    return result;
}

void UniqueIds::setCounters(const QMap<QString, int>& counters)
{
    QMutexLocker lock(&m_mutex);
    m_words.clear();
    for (auto it = counters.cbegin(); it != counters.cend(); ++it)
        m_words[it.key()].last = uint32_t(std::clamp<qint64>(it.value(), 0, kMaxUniqueId));
}

void UniqueIds::clear()
{
    QMutexLocker lock(&m_mutex);
    m_words.clear();
}
