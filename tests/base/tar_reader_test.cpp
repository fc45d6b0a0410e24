#include "base/progress.h"
#include "base/tar_reader.h"
#include "support/test_support.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace testsupport;

namespace {

// A ustar header built field by field here, so hand-made archives do not lean on the writer.
QByteArray header(const QByteArray& name, const QByteArray& sizeField, char type = '0')
{
    QByteArray h(512, '\0');
    h.replace(0, name.size(), name).replace(100, 7, "0000644").replace(124, sizeField.size(), sizeField);
    h[156] = type;
    return h.replace(257, 8, QByteArray("ustar\0" "00", 8));
}

QByteArray sealed(QByteArray h)
{
    h.replace(148, 8, "        ");
    unsigned sum = 0;
    for (char c : h)
        sum += static_cast<unsigned char>(c);
    return h.replace(148, 8, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
}

QByteArray octal(qint64 size) { return QByteArray::number(size, 8).rightJustified(11, '0').append('\0'); }
QByteArray padded(const QByteArray& data) { return data + QByteArray((512 - data.size() % 512) % 512, '\0'); }
QByteArray entry(const QByteArray& name, const QByteArray& data, char type = '0')
{
    return sealed(header(name, octal(data.size()), type)) + padded(data);
}

const QByteArray endBlocks(1024, '\0');

// A pax record: its decimal length counts the whole record, the length's own digits included.
QByteArray paxRecord(const QByteArray& key, const QByteArray& value)
{
    const QByteArray body = " " + key + "=" + value + "\n";
    qsizetype length = body.size() + 1;
    while (QByteArray::number(length).size() + body.size() != length)
        ++length;
    return QByteArray::number(length) + body;
}
QByteArray paxHeader(const QByteArray& records) { return entry("PaxHeaders/x", records, 'x'); }
QByteArray longName(const QByteArray& name) { return entry("././@LongLink", name + '\0', 'L'); }

// Every test extracts into root/box/dest, so anything that escapes shows up in root's listing.
class TarReaderTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString dest = root.filePath("box/dest");
    QString archive = dest + "/a.tar";

    void SetUp() override { QDir().mkpath(dest); }
    QStringList extract(const QByteArray& bytes)
    {
        writeFile(archive, bytes);
        return extractTar(archive);
    }
};

// Archives of other tools extract to what GNU tar extracts, links left out but listed. Formats
// beyond ustar carry names that its fields cannot hold: GNU long-name records, pax "path" records.
using Producer = std::pair<const char*, const char*>; // tool, format
class TarReaderOracleTest : public TarReaderTest, public ::testing::WithParamInterface<Producer> {};

TEST_P(TarReaderOracleTest, MatchesGnuTarExceptForSkippedLinks)
{
    const auto [tool, format] = GetParam();
    const QString src = root.filePath("src");
    writeFile(src + "/docs/empty.txt", {});
    writeFile(src + "/docs/big.bin", pseudoRandomBytes(300001, 3));
    writeFile(src + "/docs/nested/deep/file.txt", "deep");
    writeFile(src + QString::fromUtf8("/docs/Küche/Ärger – 1.txt"), "umlauts");
    ASSERT_EQ(::symlink("big.bin", QFile::encodeName(src + "/docs/link")), 0);
    if (QByteArray(format) != "ustar") {
        // Two names alike in their first 100 bytes, one with a 150-byte last part: neither fits.
        const QString folder = src + "/docs/" + QString(120, 'd');
        writeFile(folder + "/" + QString(150, 'f') + ".txt", "long one");
        writeFile(folder + "/" + QString(150, 'f') + ".txu", "long two");
        writeFile(src + "/docs/" + QString(99, 'e') + QString::fromUtf8("ü.txt"), "non-ASCII beyond 100 bytes");
        ASSERT_EQ(::symlink(QFile::encodeName(QString(130, 't')), QFile::encodeName(src + "/docs/long_link")), 0);
    }
    const QString made = root.filePath("made.tar");
    const QString pythonMaker = "import sys, tarfile\nformat = getattr(tarfile, sys.argv[3].upper() + '_FORMAT')\n"
                                "with tarfile.open(sys.argv[1], 'w', format=format) as t:\n"
                                "    t.add(sys.argv[2] + '/docs', arcname='docs')\n";
    const ProcessResult r = QByteArray(tool) == "Python"
        ? runProcess(systemPython(), {"-c", pythonMaker, made, src, format})
        : runProcess("tar", {QString("--format=") + format, "--sort=name", "-cf", made, "-C", src, "docs"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString ref = root.filePath("ref");
    ASSERT_TRUE(QDir().mkpath(ref) && QFile::copy(made, archive));
    ASSERT_EQ(runProcess("tar", {"-xf", made, "-C", ref}).exitCode, 0);

    EXPECT_EQ(extractTar(archive), outputLines(runProcess("tar", {"--quoting-style=literal", "-tf", made})));
    const QStringList expected = listTree(ref).filter(QRegularExpression("^(?!docs/(long_)?link$)"));
    EXPECT_EQ(listTree(dest).filter(QRegularExpression("^(?!a\\.tar$)")), expected);
    for (const QString& name : expected.filter(QRegularExpression("[^/]$")))
        EXPECT_EQ(sha1sumOf(dest + '/' + name), sha1sumOf(ref + '/' + name)) << name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Producers, TarReaderOracleTest,
                         ::testing::Values(std::pair{"GnuTar", "ustar"}, std::pair{"GnuTar", "gnu"},
                                           std::pair{"GnuTar", "pax"}, std::pair{"Python", "ustar"},
                                           std::pair{"Python", "gnu"}, std::pair{"Python", "pax"}),
                         [](const auto& info) { return std::string(info.param.first) + info.param.second; });

TEST_F(TarReaderTest, HeaderFieldsAreReadOnlyWithinTheirBounds)
{
    QByteArray h = header(QByteArray(100, 'n'), octal(2));
    h.replace(345, 155, QByteArray(155, 'p')).replace(500, 12, QByteArray(12, 'X'));
    QByteArray gnu = header("g", QByteArray("     1 \0\0\0\0\0", 12)); // blanks before and after the digits
    gnu.replace(257, 8, QByteArray("ustar  \0", 8)).replace(345, 7, "ignored");
    const QString joined = QString(155, 'p') + "/" + QString(100, 'n');
    EXPECT_EQ(extract(sealed(h) + padded("ok") + sealed(gnu) + padded("g") + endBlocks), QStringList({joined, "g"}));
    EXPECT_EQ(readFile(dest + "/" + joined), "ok");
    EXPECT_EQ(readFile(dest + "/g"), "g") << "the prefix counts only under the \"ustar\\0\" magic";
}

TEST_F(TarReaderTest, HostileOrBrokenArchivesAreRefusedWithNothingCreated)
{
    const QByteArray absolute = root.filePath("evil.txt").toUtf8();
    const QString outside = "Refusing to extract an entry outside the folder of the .tar file: ";
    const QString badSize = "Invalid size in the header of entry: a.txt";
    const QString truncated = "Tar file is incomplete/truncated. Could not read data for file: ";
    const auto withSize = [](const char (&field)[13]) {
        return sealed(header("a.txt", QByteArray(field, 12))) + padded("x") + endBlocks;
    };
    QByteArray flipped = entry("a.txt", "abc");
    flipped[3] = 'X';
    const std::pair<QByteArray, QString> cases[] = {
        {entry("../evil.txt", "x") + endBlocks, outside + "../evil.txt"},
        {entry("docs/../../evil.txt", "x") + endBlocks, outside + "docs/../../evil.txt"},
        {entry(absolute, "x") + endBlocks, outside + QString::fromUtf8(absolute)},
        {entry("../up", "", '2') + endBlocks, outside + "../up"}, // even a kind that is skipped
        {withSize("0000000001x\0"), badSize}, {withSize("00000000089\0"), badSize},
        {withSize("-0000000001\0"), badSize}, {withSize("777777777777"), badSize},
        {withSize("\x80\0\0\0\0\0\0\0\0\0\0\x01"), badSize}, {withSize("            "), badSize},
        {sealed(header("a.txt", octal(8589934591))) + QByteArray(2000, 'x'), truncated + "a.txt"},
        {entry("a.txt", "abc").left(515), "Error when skipping to the next header in .tar file: " + archive},
        {entry("a.txt", "abc").left(300), "Tar file is incomplete/truncated. Could not read header: " + archive},
        {flipped + endBlocks, "Failed checking header integrity: " + archive},
        // Names from long-name records and pax headers are held to the same rules as any other.
        {longName("../evil.txt") + entry("ok.txt", "x") + endBlocks, outside + "../evil.txt"},
        {paxHeader(paxRecord("path", absolute)) + entry("ok.txt", "x") + endBlocks, outside + QString::fromUtf8(absolute)},
        {paxHeader(paxRecord("path", QByteArray("a\0b", 3))) + entry("ok.txt", "x") + endBlocks,
         "Refusing to extract an entry whose name is not UTF-8 text: a?b"},
        {entry("caf\xe9.txt", "x") + endBlocks, QString::fromUtf8("Refusing to extract an entry whose name is not "
                                                                   "UTF-8 text: caf\uFFFD.txt")},
        {paxHeader(paxRecord("path", "")) + entry("ok.txt", "x") + endBlocks,
         "Refusing to extract an entry without a name in .tar file: " + archive},
        {paxHeader("12 path=a.txt\n") + entry("ok.txt", "x") + endBlocks, "Invalid extended header in .tar file: " + archive},
        {paxHeader(paxRecord("size", "12x")) + entry("ok.txt", "x") + endBlocks,
         "Invalid extended header in .tar file: " + archive},
        {paxHeader(paxRecord("size", "100000")) + entry("ok.txt", "x") + endBlocks, truncated + "ok.txt"},
        {longName(QByteArray(2 << 20, 'n')) + entry("ok.txt", "x") + endBlocks,
         "Invalid long name or extended header in .tar file: " + archive},
        {sealed(header("././@LongLink", octal(5000), 'L')) + "abc", "Tar file is incomplete/truncated. Could not read "
                                                                    "header: " + archive},
        // A damaged entry late in the archive leaves nothing behind, not even the entries before it.
        {entry("ok.txt", "ok") + entry("big.bin", pseudoRandomBytes(300000, 5)).left(150000), truncated + "big.bin"},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message.toStdString());
        EXPECT_EQ(thrownMessage([&] { extract(bytes); }), message);
        EXPECT_EQ(listTree(root.path()), (QStringList{"box/", "box/dest/", "box/dest/a.tar"}));
    }
}

// What the next entry is called comes from the records before it: a pax "path" over a GNU long
// name over the header's own fields; a pax "size" over the header's. Global pax headers and long
// link names change no name; none of these records is an entry of its own.
TEST_F(TarReaderTest, LongNameAndExtendedHeaderRecordsNameAndSizeTheNextEntryOnly)
{
    const QByteArray longOne = "dir/" + QByteArray(150, 'a') + ".txt";
    const QByteArray sized = sealed(header("short-name.bin", octal(3))) + padded("0123456789");
    EXPECT_EQ(extract(longName(longOne) + entry("trunc", "L") + entry("plain.txt", "p")
                      + paxHeader(paxRecord("mtime", "1.5") + paxRecord("path", "Ärger.txt")) + entry("_rger.txt", "x")
                      + longName("from-gnu") + paxHeader(paxRecord("path", "from-pax")) + entry("from-header", "both")
                      + entry("g", paxRecord("path", "global.txt"), 'g') + entry("././@LongLink", "link\0", 'K')
                      + entry("after-global.txt", "g") + paxHeader(paxRecord("size", "10")) + sized + endBlocks),
              QStringList({QString(longOne), "plain.txt", QString::fromUtf8("Ärger.txt"), "from-pax",
                           "after-global.txt", "short-name.bin"}));
    EXPECT_EQ(readFile(dest + "/" + longOne), "L");
    EXPECT_EQ(readFile(dest + QString::fromUtf8("/Ärger.txt")), "x");
    EXPECT_EQ(readFile(dest + "/from-pax"), "both");
    EXPECT_EQ(readFile(dest + "/short-name.bin"), "0123456789");
    EXPECT_EQ(listTree(dest).size(), 8) << listTree(dest).join(", ").toStdString();
}

TEST_F(TarReaderTest, NothingAlreadyThereIsOverwrittenNotEvenThroughALink)
{
    EXPECT_EQ(extract(entry("d/", "", '5') + entry("d/a.txt", "new") + endBlocks), (QStringList{"d/", "d/a.txt"}));
    EXPECT_EQ(thrownMessage([&] { extract(entry("d/a.txt", "again") + endBlocks); }), "File already exists: d/a.txt");
    EXPECT_EQ(readFile(dest + "/d/a.txt"), "new");
    ASSERT_EQ(::symlink(QFile::encodeName(root.filePath("nowhere.txt")), QFile::encodeName(dest + "/dangling")), 0);
    EXPECT_EQ(thrownMessage([&] { extract(entry("dangling", "evil") + endBlocks); }), "File already exists: dangling");
    EXPECT_FALSE(QFileInfo::exists(root.filePath("nowhere.txt")));
}

// A write that fails halfway (a file-size limit stands in for a full disk) says why and leaves
// neither a partial file under the entry's name nor the temporary it was written to.
TEST_F(TarReaderTest, AFailedCopySaysWhyAndLeavesNothingUnderItsName)
{
    writeFile(archive, entry("small.txt", "fits") + entry("big.bin", pseudoRandomBytes(3 << 20, 9)) + endBlocks);
    QString message;
    {
        FileSizeLimit limit((1 << 20) + 1000); // inside a copied chunk: that write is cut short
        message = thrownMessage([&] { extractTar(archive); });
    }
    EXPECT_EQ(message, "Could not write to file: big.bin. " + QString::fromLocal8Bit(std::strerror(EFBIG)));
    EXPECT_EQ(listTree(dest), (QStringList{"a.tar", "small.txt"}));
}

// The extraction reports through the progress seam: never cancellable, modal, counted in units
// that keep a 2.5 GiB archive within int, and the view is gone however the extraction ended. The
// archive is sparse: a 2.5 GiB entry of another kind, skipped without reading, then a small file.
TEST_F(TarReaderTest, ProgressBeyondTwoGibibytesShowsAndClosesItself)
{
    const qint64 skipped = 2684354560;
    {
        QFile f(archive);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(sealed(header("docs/link", octal(skipped), '2')));
        f.seek(512 + skipped);
        f.write(entry("after.txt", "hello") + endBlocks);
    }
    struct Seen {
        ProgressRequest request;
        int lastValue = -1;
        int open = 0;
    };
    auto seen = std::make_shared<Seen>();
    class Recording : public HeadlessProgress {
    public:
        Recording(const ProgressRequest& r, std::shared_ptr<Seen> s) : HeadlessProgress(r), m_seen(std::move(s))
        {
            m_seen->request = r;
            ++m_seen->open;
        }
        ~Recording() override { --m_seen->open; }
        void setValue(int value) override { m_seen->lastValue = value; }

    private:
        std::shared_ptr<Seen> m_seen;
    };
    const ProgressFactory previous = setProgressFactory(
        [seen](const ProgressRequest& r) -> std::unique_ptr<Progress> { return std::make_unique<Recording>(r, seen); });
    EXPECT_EQ(extractTar(archive), (QStringList{"docs/link", "after.txt"}));
    EXPECT_EQ(listTree(dest), (QStringList{"a.tar", "after.txt"}));
    EXPECT_EQ(seen->request.title, "Extracting...");
    EXPECT_EQ(seen->request.label, "Extracting file: a.tar");
    EXPECT_TRUE(seen->request.applicationModal);
    EXPECT_TRUE(seen->request.cancelText.isEmpty()) << "no button";
    EXPECT_NEAR(double(seen->lastValue) / seen->request.maximum, double(512 + skipped) / QFileInfo(archive).size(),
                0.001);
    EXPECT_EQ(seen->open, 0);
    EXPECT_EQ(thrownMessage([&] { extract(entry("one.bin", "x").left(100)); }).left(16), "Tar file is inco");
    EXPECT_EQ(seen->open, 0);
    setProgressFactory(previous);
}

} // namespace
