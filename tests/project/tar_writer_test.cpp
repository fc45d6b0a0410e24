#include "project/tar_writer.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using namespace std::string_literals;

namespace {

// Keeps no put area, so every write call, even of one byte, reaches it and is counted.
// Without keepBytes it only counts, for tests where a fault could write gigabytes.
class CountingBuffer : public std::streambuf {
public:
    explicit CountingBuffer(bool keepBytes = true)
        : keepBytes(keepBytes)
    {
    }
    int writes = 0;
    std::int64_t length = 0;
    const std::string& str() const { return bytes; }

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        ++writes;
        length += n;
        if (keepBytes)
            bytes.append(s, std::size_t(n));
        return n;
    }
    int_type overflow(int_type c) override
    {
        return traits_type::eq_int_type(c, traits_type::eof()) ? traits_type::not_eof(c)
                                                                : (xsputn(reinterpret_cast<const char*>(&c), 1), c);
    }

private:
    bool keepBytes;
    std::string bytes;
};

struct Entry {
    std::string name;
    QByteArray data;
    bool fromFile;
};

class TarWriterTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }

    // Writes the entries, each put from memory or from a file holding the same bytes.
    QString writeArchive(const std::vector<Entry>& entries)
    {
        const QString archive = path("out.tar");
        std::ofstream out(archive.toStdString(), std::ios::binary);
        TarWriter writer(&out);
        int n = 0;
        for (const Entry& e : entries) {
            const QString source = path(QStringLiteral("sources/%1").arg(n++));
            writeFile(source, e.data);
            if (e.fromFile)
                writer.putFile(source, e.name.c_str());
            else
                writer.put(e.name.c_str(), e.data.constData(), e.data.size());
        }
        writer.finish();
        return archive;
    }
};

TEST_F(TarWriterTest, HeaderHoldsTheFixedFieldsAndAValidChecksum)
{
    std::ostringstream out;
    TarWriter writer(&out);
    const std::time_t before = std::time(nullptr);
    writer.put("Proj/a.txt", "hello", 5);
    const std::time_t after = std::time(nullptr);
    writer.finish();
    const std::string h = out.str().substr(0, 512);

    EXPECT_EQ(h.substr(0, 11), "Proj/a.txt\0"s);
    EXPECT_EQ(h.substr(100, 8), "0000644\0"s);
    EXPECT_EQ(h.substr(108, 16), std::string(16, '\0'));
    EXPECT_EQ(h.substr(124, 12), "00000000005\0"s);
    const long mtime = std::stol(h.substr(136, 11), nullptr, 8);
    EXPECT_GE(mtime, before);
    EXPECT_LE(mtime, after);
    EXPECT_EQ(h[147], '\0');
    EXPECT_EQ(h[156], '\0') << "typeflag is NUL, not '0'";
    EXPECT_EQ(h.substr(257, 8), "ustar\0 \0"s);
    EXPECT_EQ(h.substr(265, 32), "draft" + std::string(27, '\0'));
    EXPECT_EQ(h.substr(297, 32), "users" + std::string(27, '\0'));
    EXPECT_EQ(h.substr(345, 167), std::string(167, '\0'));

    unsigned sum = 0;
    for (int i = 0; i < 512; ++i)
        sum += (i >= 148 && i < 156) ? 32u : static_cast<unsigned char>(h[i]);
    char expected[8] = {};
    std::snprintf(expected, 7, "%06o", sum);
    EXPECT_EQ(h.substr(148, 8), std::string(expected, 8)) << "six digits, NUL, NUL";
}

TEST_F(TarWriterTest, LengthIsPaddedEntriesPlusTwoEndBlocksAndPayloadsGoOutInBlocks)
{
    const std::vector<std::int64_t> lengths = {0, 1, 511, 512, 513, 1000, 2 * 131072 + 5};
    CountingBuffer buffer;
    std::ostream out(&buffer);
    TarWriter writer(&out);
    std::int64_t expected = 1024;
    int n = 0;
    for (std::int64_t length : lengths) {
        const QByteArray data = pseudoRandomBytes(length, quint32(length));
        const QString source = path(QStringLiteral("f%1").arg(n));
        writeFile(source, data);
        const std::string name = "e" + std::to_string(n++);
        const int writesBefore = buffer.writes;
        if (n % 2)
            writer.put(name.c_str(), data.constData(), length);
        else
            writer.putFile(source, name.c_str());
        EXPECT_LE(buffer.writes - writesBefore, 3 + length / 131072) << "entry of " << length << " bytes";
        const std::string written = buffer.str();
        const std::int64_t end = std::int64_t(written.size());
        const std::int64_t padded = (length + 511) / 512 * 512;
        EXPECT_EQ(end - expected + 1024, 512 + padded) << "entry of " << length << " bytes";
        EXPECT_EQ(written.substr(end - padded + length), std::string(padded - length, '\0'));
        expected += 512 + padded;
    }
    writer.finish();
    EXPECT_EQ(std::int64_t(buffer.str().size()), expected);
    EXPECT_EQ(buffer.str().substr(expected - 1024), std::string(1024, '\0'));
}

// Names the export really uses: doubled slashes, long paths split into prefix and name,
// empty and block-sized entries, and a file larger than the copy buffer.
TEST_F(TarWriterTest, OtherToolsListAndExtractTheSameEntries)
{
    const std::string longDir = "Proj/" + std::string(60, 'd') + "/" + std::string(60, 'e');
    const std::vector<Entry> entries = {
        {"Proj/project.qjs", pseudoRandomBytes(1000, 1), false},
        {"Proj//system.cfg", pseudoRandomBytes(513, 2), true},
        {"Proj/empty.txt", {}, false},
        {"Proj/block.bin", pseudoRandomBytes(512, 3), true},
        {longDir + "/" + std::string(90, 'n') + ".jpg", pseudoRandomBytes(300001, 4), true},
        {longDir + "/grüße.txt", pseudoRandomBytes(10, 5), false},
    };
    const QString archive = writeArchive(entries);
    std::int64_t expectedLength = 1024;
    QStringList names;
    QStringList sizes;
    for (const Entry& e : entries) {
        names << QString::fromStdString(e.name);
        sizes << QString::number(e.data.size());
        expectedLength += 512 + (e.data.size() + 511) / 512 * 512;
    }
    EXPECT_EQ(QFileInfo(archive).size(), expectedLength);
    const qsizetype longHeader = 512 * (1 + 2) + 512 * (1 + 2) + 512 + 512 * (1 + 1);
    const std::string longSplit = readFile(archive).mid(longHeader + 345, 155).constData();
    EXPECT_EQ(longSplit, longDir) << "a long name is split at its last slash";

    const QString listing = "import sys, tarfile\nfor m in tarfile.open(sys.argv[1]):\n"
                            "    print(m.name, m.size, m.isfile())";
    QStringList pythonLines;
    for (int i = 0; i < names.size(); ++i)
        pythonLines << names[i] + ' ' + sizes[i] + " True";
    // Under the C locale the tools would print the UTF-8 name escaped.
    const QStringList utf8 = {"LC_ALL=C.UTF-8"};
    EXPECT_EQ(outputLines(runProcess("env", utf8 + QStringList{systemPython(), "-c", listing, archive})), pythonLines);
    EXPECT_EQ(outputLines(runProcess("env", utf8 + QStringList{"tar", "-tf", archive})), names);
    EXPECT_EQ(outputLines(runProcess("env", utf8 + QStringList{"bsdtar", "-tf", archive})), names);

    const QString extractPython = "import sys, tarfile\ntarfile.open(sys.argv[1]).extractall(sys.argv[2])";
    const std::vector<std::pair<QString, QStringList>> extractors = {
        {"tar", {"-xf", archive, "-C"}},
        {"bsdtar", {"-xf", archive, "-C"}},
        {systemPython(), {"-c", extractPython, archive}},
    };
    int n = 0;
    for (const auto& [tool, args] : extractors) {
        const QString target = path(QStringLiteral("x%1").arg(n++));
        QDir().mkpath(target);
        const ProcessResult r = runProcess("env", utf8 + QStringList{tool} + args + QStringList{target});
        ASSERT_EQ(r.exitCode, 0) << tool.toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << tool.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(listTree(target).filter(QRegularExpression("[^/]$")).size(), qsizetype(entries.size()))
            << tool.toStdString();
        for (int i = 0; i < names.size(); ++i)
            EXPECT_EQ(sha1sumOf(target + '/' + names[i]), sha1sumOf(path(QStringLiteral("sources/%1").arg(i))))
                << tool.toStdString() << " " << names[i].toStdString();
    }
}

TEST_F(TarWriterTest, NameRulesRefuseBeforeWritingAndQuoteTheWholeName)
{
    std::ostringstream out;
    TarWriter writer(&out);
    writer.put(std::string(99, 'a').c_str(), "x", 1);
    EXPECT_EQ(out.str().substr(0, 100), std::string(99, 'a') + '\0');
    EXPECT_EQ(out.str().substr(345, 155), std::string(155, '\0'));
    const std::size_t length = out.str().size();

    const std::string noSlash(100, 'b');
    const std::string longLast = "dir/" + std::string(100, 'c');
    const std::string longPrefix = std::string(155, 'p') + "/file";
    for (const std::string& name : {noSlash, longLast, longPrefix}) {
        EXPECT_EQ(thrownMessage([&] { writer.put(name.c_str(), "x", 1); }),
                  QString::fromStdString("Invalid archive name \"" + name + "\". 0 < length < 100"));
    }
    writeFile(path("x"), "x");
    EXPECT_EQ(thrownMessage([&] { writer.putFile(path("x"), noSlash.c_str()); }),
              QString::fromStdString("Invalid archive name \"" + noSlash + "\". 0 < length < 100"));
    EXPECT_EQ(thrownMessage([&] { writer.put("Proj/folder/", "", 0); }),
              "Invalid archive name \"Proj/folder/\". It must not end in \"/\"");
    EXPECT_EQ(thrownMessage([&] { writer.put("", "", 0); }), "Invalid archive name");
    EXPECT_EQ(thrownMessage([&] { writer.put(nullptr, "", 0); }), "Invalid archive name");
    EXPECT_EQ(thrownMessage([&] { writer.put("neg", "", -1); }), "Invalid length -1 of archive entry \"neg\"");
    EXPECT_EQ(out.str().size(), length) << "a refused name writes nothing";

    // The longest splits that still fit are accepted.
    writer.put((std::string(154, 'p') + "/" + std::string(99, 'n')).c_str(), "", 0);
    EXPECT_EQ(out.str().substr(length + 345, 155), std::string(154, 'p') + '\0');
    writer.finish();
}

TEST_F(TarWriterTest, DuplicateNameIsRefusedBeforeAnyByteAndTheArchiveStaysValid)
{
    const QString archive = path("dup.tar");
    writeFile(path("src"), "content");
    {
        std::ofstream out(archive.toStdString(), std::ios::binary);
        TarWriter writer(&out);
        writer.put("a/b", "first", 5);
        const auto length = out.tellp();
        EXPECT_THROW(writer.put("a/b", "second", 6), TarDuplicateException);
        EXPECT_EQ(thrownMessage([&] { writer.putFile(path("src"), "a/b"); }),
                  "Attempted to add a duplicated resource to tar file: a/b");
        EXPECT_EQ(out.tellp(), length);
        writer.put("a/c", "third", 5);
        writer.finish();
    }
    EXPECT_EQ(outputLines(runProcess("tar", {"-tf", archive})), (QStringList{"a/b", "a/c"}));
    const ProcessResult content = runProcess("tar", {"-xOf", archive, "a/b"});
    EXPECT_EQ(content.out, "first");
}

TEST_F(TarWriterTest, PutFileRefusesWhatIsNotAFittingRegularFileBeforeTheHeader)
{
    const QString huge = path("huge.bin");
    ASSERT_EQ(runProcess("truncate", {"-s", "8589934592", huge}).exitCode, 0) << "a sparse file of 8 GiB";
    const QString fifo = path("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Holding the pipe open means a writer that wrongly opens it fails the test instead of hanging.
    const int pipeHolder = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(pipeHolder, 0);
    QDir().mkpath(path("folder"));

    CountingBuffer sink(false);
    std::ostream out(&sink);
    TarWriter writer(&out);
    for (const QString& source : {path("missing"), path("folder"), fifo})
        EXPECT_EQ(thrownMessage([&] { writer.putFile(source, "entry"); }), "Could not open file: " + source);
    EXPECT_EQ(thrownMessage([&] { writer.putFile(huge, "entry"); }),
              "File too large for tar file (at most 8589934591 bytes): " + huge);
    EXPECT_EQ(sink.length, 0);
    writer.finish();
    ::close(pipeHolder);
}

TEST_F(TarWriterTest, FailingStreamIsReportedByFinishAndUnfinishedWriterWarnsOnce)
{
    writeFile(path("src"), pseudoRandomBytes(300000, 9));
    testing::internal::CaptureStderr();
    {
        std::ofstream full("/dev/full", std::ios::binary);
        ASSERT_TRUE(full.is_open());
        TarWriter writer(&full);
        const QByteArray data = pseudoRandomBytes(200000, 8);
        writer.put("a", data.constData(), data.size());
        writer.putFile(path("src"), "b");
        EXPECT_EQ(thrownMessage([&] { writer.finish(); }),
                  "Failed to write data to tar file. Check for free disk space.");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a writer whose finish threw is finished";

    testing::internal::CaptureStderr();
    {
        std::ostringstream out;
        TarWriter writer(&out);
        writer.put("a", "x", 1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tar file was not finished.\n");
}

} // namespace
