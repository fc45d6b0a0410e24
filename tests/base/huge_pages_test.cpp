#include "base/huge_pages.h"
#include "base/large_blocks.h"

#include "support/test_support.h"

#include <QByteArray>
#include <QList>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr size_t kMegabyte = 1024 * 1024;

// What /proc/self/smaps says of the mappings that overlap [block, block + bytes): their huge
// pages in kB, and whether any is advised to have them (flag "hg").
struct Mappings {
    qint64 anonHugePagesKb = 0;
    bool advised = false;
};

Mappings mappingsOf(const void* block, size_t bytes)
{
    const auto from = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t to = from + bytes;
    Mappings found;
    bool inside = false;
    for (const QByteArray& line : testsupport::readFile(QStringLiteral("/proc/self/smaps")).split('\n')) {
        const qsizetype dash = line.indexOf('-');
        const qsizetype space = line.indexOf(' ');
        bool startOk = false, endOk = false;
        const std::uintptr_t start = dash > 0 && dash < space ? line.left(dash).toULongLong(&startOk, 16) : 0;
        const std::uintptr_t end = startOk ? line.mid(dash + 1, space - dash - 1).toULongLong(&endOk, 16) : 0;
        if (startOk && endOk) {
            inside = start < to && end > from;
        } else if (inside && line.startsWith("AnonHugePages:")) {
            found.anonHugePagesKb += line.mid(14).trimmed().split(' ').first().toLongLong();
        } else if (inside && line.startsWith("VmFlags:")) {
            found.advised = found.advised || line.mid(8).split(' ').contains("hg");
        }
    }
    return found;
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

TEST(HugePages, ALargeBlockIsBackedByHugePages)
{
    const QByteArray mode = testsupport::readFile(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled")).trimmed();
    if (mode.isEmpty() || mode.contains("[never]"))
        GTEST_SKIP() << "transparent huge pages are not available here: '" << mode.constData() << "'";
    returnLargeBlocksToTheSystem(); // the block comes straight from the system, untouched, as in the program
    constexpr size_t kBytes = 16 * kMegabyte;
    const std::unique_ptr<uint8_t[]> block = makeHugeArray<uint8_t>(kBytes);
    ASSERT_TRUE(keepsWhatIsWritten(block.get(), kBytes));
    const Mappings mappings = mappingsOf(block.get(), kBytes);
    EXPECT_TRUE(mappings.advised);
    EXPECT_GT(mappings.anonHugePagesKb, 0);
}

// Advice spilling over the block's ends would turn the memory around it to huge pages too.
TEST(HugePages, ABlockSmallerThanAHugePageIsLeftAlone)
{
    returnLargeBlocksToTheSystem();
    constexpr size_t kBytes = 2 * kMegabyte - 64 * 1024;
    const std::unique_ptr<uint8_t[]> block = makeHugeArray<uint8_t>(kBytes);
    ASSERT_TRUE(keepsWhatIsWritten(block.get(), kBytes));
    EXPECT_FALSE(mappingsOf(block.get(), kBytes).advised);
}
