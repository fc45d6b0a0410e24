#include "camera/scan_fingerprint.h"
#include "camera/sha1.h"

#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {
std::string hexOf(const Sha1::Digest& digest)
{
    return toHex(digest.data());
}

std::wstring wide(const QString& path)
{
    return path.toStdWString();
}

class Sha1Engines : public ::testing::TestWithParam<Sha1::Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Sha1::Engine::ShaExtensions && !Sha1::shaExtensionsAvailable())
            GTEST_SKIP() << "this processor has no SHA instructions";
        ASSERT_TRUE(dir.isValid());
    }
    QTemporaryDir dir;
};
} // namespace

TEST_P(Sha1Engines, FilesAroundTheChunkSizeMatchSha1sum)
{
    const qsizetype chunk = qsizetype(Sha1::kFileChunkSize);
    const qsizetype sizes[] = {0, 1, 55, 56, 63, 64, 65, 119, 120, chunk - 1, chunk, chunk + 1, 2 * chunk};
    for (qsizetype size : sizes) {
        SCOPED_TRACE(size);
        const QString file = dir.filePath(QString("f%1").arg(size));
        writeFile(file, pseudoRandomBytes(size, quint32(size) + 17));
        Sha1 sha1(GetParam());
        ASSERT_EQ(sha1.engine(), GetParam());
        ASSERT_TRUE(sha1.hashFile(wide(file).c_str()));
        EXPECT_EQ(QString::fromStdString(hexOf(sha1.digest())), sha1sumOf(file));
    }
}

TEST_P(Sha1Engines, PiecewiseUpdatesEqualTheWholeAndContextsReset)
{
    const QByteArray data = pseudoRandomBytes(5000, 99);
    const QString file = dir.filePath("data");
    writeFile(file, data);
    const std::string expected = sha1sumOf(file).toStdString();

    Sha1 sha1(GetParam());
    sha1.update("left over from before", 21);
    sha1.reset();
    const qsizetype pieces[] = {1, 63, 64, 65, 0, 3, 130, 7};
    qsizetype at = 0;
    for (int i = 0; at < data.size(); ++i) {
        const qsizetype take = std::min(pieces[i % 8], data.size() - at);
        sha1.update(data.constData() + at, size_t(take));
        at += take;
    }
    sha1.finish();
    EXPECT_EQ(hexOf(sha1.digest()), expected);
}

TEST_P(Sha1Engines, UnreadableFilesGiveZeroDigest)
{
    Sha1 sha1(GetParam());
    EXPECT_FALSE(sha1.hashFile(wide(dir.filePath("missing")).c_str()));
    EXPECT_EQ(hexOf(sha1.digest()), std::string(40, '0'));
    writeFile(dir.filePath("data"), "abc");
    ASSERT_TRUE(sha1.hashFile(wide(dir.filePath("data")).c_str()));
    EXPECT_FALSE(sha1.hashFile(wide(dir.path()).c_str()));
    EXPECT_EQ(hexOf(sha1.digest()), std::string(40, '0'));
}

INSTANTIATE_TEST_SUITE_P(, Sha1Engines, ::testing::Values(Sha1::Engine::Portable, Sha1::Engine::ShaExtensions),
                         [](const ::testing::TestParamInfo<Sha1::Engine>& info) {
                             return info.param == Sha1::Engine::Portable ? "Portable" : "ShaInstructions";
                         });

TEST(Sha1, EnginesAgreeOnEveryLengthUpToFourBlocks)
{
    if (!Sha1::shaExtensionsAvailable())
        GTEST_SKIP() << "this processor has no SHA instructions";
    const QByteArray data = pseudoRandomBytes(260, 5);
    for (qsizetype length = 0; length <= data.size(); ++length) {
        Sha1 portable(Sha1::Engine::Portable);
        Sha1 instructions(Sha1::Engine::ShaExtensions);
        portable.update(data.constData(), size_t(length));
        instructions.update(data.constData(), size_t(length));
        portable.finish();
        instructions.finish();
        ASSERT_EQ(hexOf(portable.digest()), hexOf(instructions.digest())) << "length " << length;
    }
}
