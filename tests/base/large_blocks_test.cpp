#include "base/large_blocks.h"

#include "support/test_support.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

namespace {

qint64 residentBytes()
{
    const QList<QByteArray> fields = testsupport::readFile(QStringLiteral("/proc/self/statm")).split(' ');
    return fields.size() < 2 ? -1 : fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE);
}

// A buffer filled and dropped on a thread of its own, as a scan's step does on a pool thread.
void fillAndDropOnAThread(qsizetype bytes)
{
    std::thread([bytes] {
        QByteArray buffer(bytes, '\1');
        ASSERT_EQ(buffer.at(bytes - 1), '\1');
    }).join();
}

} // namespace

// The first large buffer freed (a camera-sized lens image: 22 MB; glibc raises its threshold up to
// 32 MB) is what made glibc keep the later, smaller ones.
TEST(LargeBlocks, AScanBufferLeavesNothingResidentOnceFreedEvenAfterALargerOne)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's allocator holds freed blocks back on purpose";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer's allocator holds freed blocks back on purpose";
#endif
#endif
    constexpr qsizetype kMegabyte = 1024 * 1024;
    returnLargeBlocksToTheSystem();
    fillAndDropOnAThread(22 * kMegabyte);
    const qint64 before = residentBytes();
    fillAndDropOnAThread(16 * kMegabyte);
    EXPECT_LT(residentBytes() - before, 4 * kMegabyte);
}
