#include "base/huge_pages.h"
#include "base/large_blocks.h"

#include "support/test_support.h"

#include <QByteArray>
#include <QList>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr size_t kMegabyte = 1024 * 1024;

// Whether /proc/self/smaps has a mapping that overlaps [block, block + bytes) advised to huge
// pages (flag "hg"). Whether the kernel then finds free huge pages for it is its own affair.
bool advisedToHugePages(const void* block, size_t bytes)
{
    const auto from = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t to = from + bytes;
    bool advised = false;
    bool inside = false;
    for (const QByteArray& line : testsupport::readFile(QStringLiteral("/proc/self/smaps")).split('\n')) {
        const qsizetype dash = line.indexOf('-');
        const qsizetype space = line.indexOf(' ');
        bool startOk = false, endOk = false;
        const std::uintptr_t start = dash > 0 && dash < space ? line.left(dash).toULongLong(&startOk, 16) : 0;
        const std::uintptr_t end = startOk ? line.mid(dash + 1, space - dash - 1).toULongLong(&endOk, 16) : 0;
        if (startOk && endOk)
            inside = start < to && end > from;
        else if (inside && line.startsWith("VmFlags:"))
            advised = advised || line.mid(8).split(' ').contains("hg");
    }
    return advised;
}

// Writes a pattern into every byte and reads it back; false on the first byte that differs.
bool keepsWhatIsWritten(uint8_t* block, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        block[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    for (size_t i = 0; i < bytes; ++i)
        if (block[i] != static_cast<uint8_t>(i * 7 + i / 4096))
            return false;
    return true;
}

} // namespace

TEST(HugePages, ALargeBlockIsAdvisedToHugePages)
{
    const QByteArray mode = testsupport::readFile(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled")).trimmed();
    if (mode.isEmpty() || mode.contains("[never]"))
        GTEST_SKIP() << "transparent huge pages are not available here: '" << mode.constData() << "'";
    returnLargeBlocksToTheSystem(); // the block comes straight from the system, untouched, as in the program
    constexpr size_t kBytes = 16 * kMegabyte;
    const std::unique_ptr<uint8_t[]> block = makeHugeArray<uint8_t>(kBytes);
    ASSERT_TRUE(keepsWhatIsWritten(block.get(), kBytes));
    EXPECT_TRUE(advisedToHugePages(block.get(), kBytes));
}

// Advice spilling over the block's ends would turn the memory around it to huge pages too.
TEST(HugePages, ABlockSmallerThanAHugePageIsLeftAlone)
{
    returnLargeBlocksToTheSystem();
    constexpr size_t kBytes = 2 * kMegabyte - 64 * 1024;
    const std::unique_ptr<uint8_t[]> block = makeHugeArray<uint8_t>(kBytes);
    ASSERT_TRUE(keepsWhatIsWritten(block.get(), kBytes));
    EXPECT_FALSE(advisedToHugePages(block.get(), kBytes));
}
