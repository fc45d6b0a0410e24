#include "project/archive_entry_queue.h"
#include "support/archive_check.h"
#include "support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace testsupport;

TEST(ArchiveEntryQueue, WritesInTheOrderGivenAndSkipsOnlyTheDuplicatesItIsToldTo)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("one"), pseudoRandomBytes(300000, 1));
    writeFile(dir.filePath("two"), "second file of that name");
    const QString archive = dir.filePath("a.tar");
    {
        std::ofstream out(archive.toStdString(), std::ios::binary);
        ArchiveEntryQueue queue(&out);
        queue.putData("p/first", "in memory");
        queue.putFile(dir.filePath("one"), "p//_Assets/shared");
        queue.putFile(dir.filePath("two"), "p//_Assets/shared", true);
        for (int i = 0; i < 50; ++i)
            queue.putData("p/n" + QByteArray::number(i), QByteArray(i * 37, 'x'));
        queue.finish();
    }
    const ArchiveListing listing = pythonTarListing(archive);
    ASSERT_TRUE(listing.failure.isEmpty()) << listing.failure.toStdString();
    ASSERT_EQ(listing.members.size(), 52);
    EXPECT_EQ(listing.members[0].name, "p/first");
    EXPECT_EQ(listing.members[1].name, "p//_Assets/shared");
    EXPECT_EQ(listing.members[1].sha1, sha1sumOf(dir.filePath("one")));
    EXPECT_EQ(listing.members[51].name, "p/n49");
}

TEST(ArchiveEntryQueue, TheWritersFailureReachesTheCallerWithItsType)
{
    {
        std::ostringstream out;
        ArchiveEntryQueue queue(&out);
        queue.putData("p/a", "1");
        EXPECT_THROW(
            {
                queue.putData("p/a", "2"); // may be refused here already, or at the end
                queue.finish();
            },
            TarDuplicateException);
        EXPECT_THROW(queue.putData("p/b", "3"), TarDuplicateException) << "nothing is taken after a failure";
    }
    std::ostringstream out;
    ArchiveEntryQueue queue(&out);
    queue.putFile("/nonexistent/t.pic", "p/t.pic");
    EXPECT_EQ(thrownMessage([&] { queue.finish(); }), "Could not open file: /nonexistent/t.pic");

    // Dropped with entries still waiting: nothing hangs.
    std::ostringstream dropped;
    ArchiveEntryQueue abandoned(&dropped);
    for (int i = 0; i < 100; ++i)
        abandoned.putData("p/" + QByteArray::number(i), QByteArray(100000, 'y'));
}
