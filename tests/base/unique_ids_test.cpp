#include "base/unique_ids.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

// Once a damaged file has spent the counter, threads still draw distinct ids inside the range and
// skip every id in use; other type words keep counting on their own.
TEST(UniqueIds, ASpentCounterStillIssuesDistinctFreeIdsToEveryThread)
{
    UniqueIds ids;
    ids.registerId("pano", kMaxUniqueId);
    for (qint64 taken : {1, 3, 4, 9})
        ids.registerId("pano", taken);
    ids.registerId("pano", qint64(kMaxUniqueId) + 1); // no id: ignored
    ids.registerId("note", 0);
    std::vector<std::vector<uint32_t>> drawn(8);
    std::vector<std::thread> threads;
    for (auto& mine : drawn)
        threads.emplace_back([&ids, &mine] {
            for (int i = 0; i < 500; ++i)
                mine.push_back(ids.next("pano"));
        });
    for (std::thread& t : threads)
        t.join();
    QSet<uint32_t> all;
    for (const auto& mine : drawn)
        for (uint32_t id : mine)
            all.insert(id);
    EXPECT_EQ(all.size(), 4000);
    for (uint32_t id : {1u, 3u, 4u, 9u, kMaxUniqueId})
        EXPECT_FALSE(all.contains(id)) << id;
    EXPECT_TRUE(all.contains(2) && all.contains(4004)) << "the lowest free ids, in order";
    EXPECT_FALSE(all.contains(4005));
    EXPECT_EQ(ids.next("note"), 1u);
    EXPECT_EQ(ids.counters(), (QMap<QString, int>{{"note", 1}, {"pano", 2147483647}}));

    ids.setCounters({{"floor", -5}});
    ids.raiseCounter("tag", 5e9);
    EXPECT_EQ(ids.counters(), (QMap<QString, int>{{"floor", 0}, {"tag", 2147483647}}));
}
