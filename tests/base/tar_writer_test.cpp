#include "base/tar_writer.h"
#include "support/archive_check.h"
#include "support/test_support.h"
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// Keeps no put area, so every write call, even of one byte, reaches it and is counted.
struct CountingBuffer : std::streambuf {
    int writes = 0;
    std::int64_t length = 0;
    std::streamsize xsputn(const char*, std::streamsize n) override { return ++writes, length += n, n; }
    int_type overflow(int_type c) override { return xsputn(nullptr, 1), traits_type::not_eof(c); }
};

} // namespace

// Names the export uses: doubled slashes, long names split as GNU tar splits them (a project folder
// name too long for the name field before its last "/", both fields filled to the last byte, a
// whole name of 100 bytes), empty and block-sized entries, non-ASCII text, a file beyond the copy
// buffer. What it refuses leaves no byte.
TEST(TarWriter, GnuTarBsdtarAndPythonReadWhatItWritesAndNothingOfWhatItRefuses)
{
    QTemporaryDir dir;
    const QString longName = "Proj/" + QString(74, 'd') + "/" + QString(74, 'e') + "/" + QString(95, 'n') + ".jpg";
    const QString longProject = QString(140, 'P');
    const QStringList names = {"Proj/project.qjs",
                               "Proj//system.cfg",
                               "Proj/empty.txt",
                               longName,
                               "Proj/grüße.txt",
                               "Proj/block.bin",
                               longProject + "/Ground_Scan 1#12/t.pic",
                               longProject + "//quorillog.txt",
                               QString(150, 'q') + "/" + QString(4, 'r') + "/" + QString(100, 's'),
                               QString(100, 'w')};
    const int sizes[] = {1000, 513, 0, 300001, 10, 512, 7, 1, 2, 3};
    const QString archive = dir.filePath("out.tar");
    QStringList sums;
    std::int64_t expectedLength = 1024;
    {
        std::ofstream out(archive.toStdString(), std::ios::binary);
        TarWriter writer(&out);
        for (int i = 0; i < names.size(); ++i) { // from memory and from a file in turn
            const QByteArray data = pseudoRandomBytes(sizes[i], quint32(i));
            const QString source = dir.filePath("src/" + QString::number(i));
            writeFile(source, data);
            i % 2 ? writer.putFile(source, names[i].toUtf8().constData())
                  : writer.put(names[i].toUtf8().constData(), data.constData(), data.size());
            sums << sha1sumOf(source);
            expectedLength += 512 + (data.size() + 511) / 512 * 512;
        }
        const auto length = out.tellp();
        const std::string noSlash(101, 'b'), longPrefix = std::string(156, 'p') + "/file";
        EXPECT_EQ(thrownMessage([&] { writer.put(noSlash.c_str(), "x", 1); }),
                  QString::fromStdString("Invalid archive name \"" + noSlash + "\". 0 < length < 100"));
        EXPECT_EQ(thrownMessage([&] { writer.putFile(dir.filePath("src/0"), longPrefix.c_str()); }),
                  QString::fromStdString("Invalid archive name \"" + longPrefix + "\". 0 < length < 100"));
        // Whatever the split, more than 100 bytes would be left for the name field.
        const std::string longLast = "Proj/" + std::string(101, 'n');
        EXPECT_EQ(thrownMessage([&] { writer.put(longLast.c_str(), "x", 1); }),
                  QString::fromStdString("Invalid archive name \"" + longLast + "\". 0 < length < 100"));
        EXPECT_FALSE(TarWriter::acceptsName(longPrefix.c_str()) || TarWriter::acceptsName(longLast.c_str()));
        EXPECT_TRUE(TarWriter::acceptsName(names[8].toUtf8().constData()));
        EXPECT_EQ(thrownMessage([&] { writer.put("Proj/folder/", "", 0); }),
                  "Invalid archive name \"Proj/folder/\". It must not end in \"/\"");
        EXPECT_EQ(thrownMessage([&] { writer.put(nullptr, "", 0); }), "Invalid archive name");
        EXPECT_EQ(thrownMessage([&] { writer.put("neg", "", -1); }), "Invalid length -1 of archive entry \"neg\"");
        EXPECT_THROW(writer.put("Proj/empty.txt", "second", 6), TarDuplicateException);
        EXPECT_THROW(writer.putFile(dir.filePath("src/0"), "Proj//system.cfg"), TarDuplicateException);
        EXPECT_EQ(out.tellp(), length);
        writer.finish();
    }
    EXPECT_EQ(QFileInfo(archive).size(), expectedLength);

    const ArchiveListing python = pythonTarListing(archive);
    ASSERT_EQ(python.failure, QString());
    ASSERT_EQ(python.names(), names);
    for (int i = 0; i < names.size(); ++i) {
        const ArchiveMember& m = python.members[i];
        EXPECT_TRUE(m.regularFile && m.size == sizes[i] && m.sha1 == sums[i]) << names[i].toStdString();
    }
    EXPECT_EQ(gnuTarListing(archive).names(), names);
    // Under the C locale the tools would print the UTF-8 name escaped.
    const QStringList utf8 = {"LC_ALL=C.UTF-8"};
    EXPECT_EQ(outputLines(runProcess("env", utf8 + QStringList{"bsdtar", "-tf", archive})), names);
    for (const QString tool : {"tar", "bsdtar"}) {
        SCOPED_TRACE(tool.toStdString());
        const QString target = dir.filePath("x-" + tool);
        QDir().mkpath(target);
        const ProcessResult r = runProcess("env", utf8 + QStringList{tool, "-xf", archive, "-C", target});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        EXPECT_EQ(listTree(target).filter(QRegularExpression("[^/]$")).size(), names.size());
        for (int i = 0; i < names.size(); ++i)
            EXPECT_EQ(sha1sumOf(target + '/' + names[i]), sums[i]) << names[i].toStdString();
    }
}

TEST(TarWriter, PutFileRefusesWhatIsNotAFittingRegularFileBeforeTheHeaderAndPayloadsGoOutInLargeBlocks)
{
    QTemporaryDir dir;
    const QString huge = dir.filePath("huge.bin");
    ASSERT_EQ(runProcess("truncate", {"-s", "8589934592", huge}).exitCode, 0) << "a sparse file of 8 GiB";
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Holding the pipe open means a writer that wrongly opens it fails the test instead of hanging.
    const int pipeHolder = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(pipeHolder, 0);
    CountingBuffer sink;
    std::ostream out(&sink);
    TarWriter writer(&out);
    for (const QString& source : {dir.filePath("missing"), dir.path(), fifo})
        EXPECT_EQ(thrownMessage([&] { writer.putFile(source, "entry"); }), "Could not open file: " + source);
    EXPECT_EQ(thrownMessage([&] { writer.putFile(huge, "entry"); }),
              "File too large for tar file (at most 8589934591 bytes): " + huge);
    EXPECT_EQ(sink.length, 0);
    ::close(pipeHolder);

    const QByteArray data = pseudoRandomBytes(2 * 131072 + 5, 1);
    writeFile(dir.filePath("src"), data);
    writer.put("memory", data.constData(), data.size());
    EXPECT_LE(sink.writes, 5);
    writer.putFile(dir.filePath("src"), "file");
    EXPECT_LE(sink.writes, 10);
    writer.finish();
    EXPECT_EQ(sink.length, 2 * (512 + (data.size() + 511) / 512 * 512) + 1024);
}
