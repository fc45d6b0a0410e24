#pragma once

#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>

#include <cstdint>

// The one range of ids, whether read from a file or issued here: 1 up to the largest int, so that
// every id and every saved counter fits the int of a JSON reader. 0 stands for "no id".
inline constexpr uint32_t kMaxUniqueId = 2147483647;

inline bool isUniqueId(qint64 id)
{
    return id >= 1 && id <= qint64(kMaxUniqueId);
}

// Ids unique per type word, for any thread: issued from 1 up above every id registered so far,
// and once the counter has reached the end of the range (a damaged file may put it there) the
// lowest id never issued nor registered. No id is issued twice.
class UniqueIds {
public:
    uint32_t next(const QString& typeWord);
    // An id in use (read from a file): raises the counter to it. Ids out of range are ignored.
    void registerId(const QString& typeWord, qint64 id);
    // A saved counter: raises the word's counter to it, held within 0 and the end of the range.
    void raiseCounter(const QString& typeWord, qint64 value);
    // The counters, each at least every id of its word issued or registered.
    QMap<QString, int> counters() const;
    void setCounters(const QMap<QString, int>& counters);
    void clear();

private:
    struct Word {
        uint32_t last = 0;
        QSet<uint32_t> taken;
        uint32_t lowestFree = 1; // where the search for a free id resumes once the counter is spent
    };
    mutable QMutex m_mutex;
    QMap<QString, Word> m_words;
};
