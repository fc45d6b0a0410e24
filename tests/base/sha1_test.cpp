#include "base/sha1.h"
#include "support/test_support.h"
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QString hexOf(const Sha1& sha1)
{
    const auto digest = sha1.digest();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest.data()), qsizetype(digest.size())).toHex());
}

class Sha1Engines : public ::testing::TestWithParam<Sha1::Engine> {};

} // namespace

// Every padding boundary and the file chunk's edges; what cannot be read gives a zero digest.
TEST_P(Sha1Engines, FilesMatchSha1sum)
{
    if (GetParam() == Sha1::Engine::ShaExtensions && !Sha1::shaExtensionsAvailable())
        GTEST_SKIP() << "this processor has no SHA instructions";
    QTemporaryDir dir;
    const qsizetype chunk = qsizetype(Sha1::kFileChunkSize);
    const qsizetype sizes[] = {0, 1, 55, 56, 63, 64, 65, 119, 120, 5000, chunk - 1, chunk, chunk + 1, 2 * chunk};
    for (qsizetype size : sizes) {
        SCOPED_TRACE(size);
        const QString file = dir.filePath(QString::number(size));
        writeFile(file, pseudoRandomBytes(size, quint32(size) + 17));
        Sha1 sha1(GetParam());
        ASSERT_EQ(sha1.engine(), GetParam());
        ASSERT_TRUE(sha1.hashFile(file.toStdWString().c_str()));
        EXPECT_EQ(hexOf(sha1), sha1sumOf(file));
    }
    Sha1 sha1(GetParam()); // a failure after a success must not leave the old digest
    for (const QString& path : {dir.filePath("5000"), dir.path(), dir.filePath("5000"), dir.filePath("missing")}) {
        const bool readable = path.endsWith("5000");
        EXPECT_EQ(sha1.hashFile(path.toStdWString().c_str()), readable) << path.toStdString();
        EXPECT_EQ(hexOf(sha1) == QString(40, '0'), !readable) << path.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(, Sha1Engines, ::testing::Values(Sha1::Engine::Portable, Sha1::Engine::ShaExtensions),
                         [](const auto& info) { return info.param == Sha1::Engine::Portable ? "Portable" : "Sha"; });
