#include "project/tar_reader.h"
#include "project/tar_writer.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <unistd.h>

using namespace testsupport;

namespace {

// A ustar header built field by field here, so hand-made archives do not lean on the writer.
QByteArray header(const QByteArray& name, const QByteArray& sizeField, char type = '0')
{
    QByteArray h(512, '\0');
    auto set = [&h](int offset, const QByteArray& text) { std::memcpy(h.data() + offset, text.constData(), text.size()); };
    set(0, name.left(100));
    set(100, "0000644");
    set(124, sizeField);
    h[156] = type;
    set(257, QByteArray("ustar\0" "00", 8));
    return h;
}

QByteArray sealed(QByteArray h)
{
    std::memset(h.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (char c : h)
        sum += static_cast<unsigned char>(c);
    std::memcpy(h.data() + 148, QByteArray::number(sum, 8).rightJustified(6, '0').append('\0').append(' ').constData(), 8);
    return h;
}

QByteArray octalSize(qint64 size)
{
    return QByteArray::number(size, 8).rightJustified(11, '0').append('\0');
}

QByteArray padded(const QByteArray& data)
{
    return data + QByteArray((512 - data.size() % 512) % 512, '\0');
}

QByteArray entry(const QByteArray& name, const QByteArray& data, char type = '0')
{
    return sealed(header(name, octalSize(data.size()), type)) + padded(data);
}

const QByteArray endBlocks(1024, '\0');

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

    // Nothing outside the destination, and exactly these entries in it.
    void expectLeft(const QStringList& inDestination) const
    {
        const QStringList outside = listTree(root.path()).filter(QRegularExpression("^(?!box/dest/.)"));
        EXPECT_EQ(outside, (QStringList{"box/", "box/dest/"}));
        EXPECT_EQ(listTree(dest), inDestination);
    }
};

TEST_F(TarReaderTest, ExtractsWhatTheWriterWroteInOrder)
{
    const std::string longName = "Proj/" + std::string(80, 'd') + "/" + std::string(60, 'e') + "/scan.jpg";
    const QByteArray big = pseudoRandomBytes(300001, 1);
    const QByteArray small = pseudoRandomBytes(513, 2);
    {
        std::ofstream out(archive.toStdString(), std::ios::binary);
        TarWriter writer(&out);
        writer.put("Proj/project.qjs", small.constData(), small.size());
        writer.put("Proj//system.cfg", big.constData(), big.size());
        writer.put("Proj/empty.txt", "", 0);
        writer.put(longName.c_str(), small.constData(), small.size());
        writer.put("Proj/grüße.txt", "x", 1);
        writer.finish();
    }
    const QString longText = QString::fromStdString(longName);
    EXPECT_EQ(extractTar(archive),
              (QStringList{"Proj/project.qjs", "Proj//system.cfg", "Proj/empty.txt", longText, "Proj/grüße.txt"}));
    EXPECT_EQ(readFile(dest + "/Proj/project.qjs"), small);
    EXPECT_EQ(readFile(dest + "/Proj/system.cfg"), big);
    EXPECT_EQ(readFile(dest + "/Proj/empty.txt"), QByteArray());
    EXPECT_EQ(readFile(dest + "/" + longText), small);
    EXPECT_EQ(readFile(dest + "/Proj/grüße.txt"), "x");
    EXPECT_EQ(listTree(dest).filter(".part").size(), 0);
}

// Archives of other tools: what GNU tar extracts, the reader extracts too, leaving out links.
struct Producer {
    const char* label;
    bool python;
    const char* format;
    bool longNames;
};

class TarReaderOracleTest : public TarReaderTest, public ::testing::WithParamInterface<Producer> {};

TEST_P(TarReaderOracleTest, MatchesGnuTarExceptForSkippedLinks)
{
    const Producer p = GetParam();
    const QString src = root.filePath("src");
    writeFile(src + "/docs/empty.txt", {});
    writeFile(src + "/docs/block.bin", pseudoRandomBytes(512, 1));
    writeFile(src + "/docs/odd.bin", pseudoRandomBytes(513, 2));
    writeFile(src + "/docs/big.bin", pseudoRandomBytes(300001, 3));
    writeFile(src + "/docs/nested/deep/file.txt", "deep");
    writeFile(src + "/docs/a_target.txt", "target");
    ASSERT_EQ(::link(QFile::encodeName(src + "/docs/a_target.txt"), QFile::encodeName(src + "/docs/z_hard")), 0);
    ASSERT_EQ(::symlink("a_target.txt", QFile::encodeName(src + "/docs/link")), 0);
    if (p.longNames) {
        // A 100-byte last part without its NUL, and a prefix of exactly 155 bytes.
        writeFile(src + "/docs/" + QString(100, 'N'), "hundred");
        writeFile(src + "/docs/" + QString(90, 'L') + "/" + QString(59, 'M') + "/f.txt", "prefix");
    }

    const QString made = root.filePath("made.tar");
    const QString pythonMaker = "import sys, tarfile\n"
                                "fmt = {'ustar': tarfile.USTAR_FORMAT, 'gnu': tarfile.GNU_FORMAT}[sys.argv[3]]\n"
                                "with tarfile.open(sys.argv[1], 'w', format=fmt) as t:\n"
                                "    t.add(sys.argv[2] + '/docs', arcname='docs')\n";
    const ProcessResult r = p.python
        ? runProcess(systemPython(), {"-c", pythonMaker, made, src, p.format})
        : runProcess("tar", {QString("--format=") + p.format, "--sort=name", "-cf", made, "-C", src, "docs"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QString ref = root.filePath("ref");
    QDir().mkpath(ref);
    ASSERT_EQ(runProcess("tar", {"-xf", made, "-C", ref}).exitCode, 0);
    QFile::copy(made, archive);

    EXPECT_EQ(extractTar(archive), outputLines(runProcess("tar", {"-tf", made})));
    QStringList expected = listTree(ref);
    expected.removeOne("docs/link");
    expected.removeOne("docs/z_hard");
    QStringList extracted = listTree(dest);
    extracted.removeOne("a.tar");
    EXPECT_EQ(extracted, expected);
    for (const QString& name : expected.filter(QRegularExpression("[^/]$")))
        EXPECT_EQ(sha1sumOf(dest + '/' + name), sha1sumOf(ref + '/' + name)) << name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Producers, TarReaderOracleTest,
                         ::testing::Values(Producer{"GnuUstar", false, "ustar", true}, Producer{"GnuGnu", false, "gnu", false},
                                           Producer{"PythonUstar", true, "ustar", true},
                                           Producer{"PythonGnu", true, "gnu", false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(TarReaderTest, NameFieldsAreReadOnlyWithinTheirBounds)
{
    QByteArray h = header(QByteArray(100, 'n'), octalSize(2));
    std::memcpy(h.data() + 345, QByteArray(155, 'p').constData(), 155);
    std::memset(h.data() + 500, 'X', 12);
    QByteArray gnu = header("g.txt", octalSize(1));
    std::memcpy(gnu.data() + 257, "ustar  \0", 8);
    std::memcpy(gnu.data() + 345, "ignored", 7);
    const QString joined = QString(155, 'p') + "/" + QString(100, 'n');
    EXPECT_EQ(extract(sealed(h) + padded("ok") + sealed(gnu) + padded("g") + endBlocks), (QStringList{joined, "g.txt"}));
    EXPECT_EQ(readFile(dest + "/" + joined), "ok");
    EXPECT_EQ(readFile(dest + "/g.txt"), "g") << "the prefix counts only under the \"ustar\\0\" magic";
}

TEST_F(TarReaderTest, SizeFieldMayStartWithBlanksAndEndInABlank)
{
    const QByteArray data = pseudoRandomBytes(100, 4);
    EXPECT_EQ(extract(sealed(header("a.txt", QByteArray("     144 \0\0\0", 12))) + padded(data) + endBlocks),
              QStringList{"a.txt"});
    EXPECT_EQ(readFile(dest + "/a.txt"), data);
}

TEST_F(TarReaderTest, HostileArchivesAreRefusedWithNothingCreated)
{
    const QByteArray outside = root.filePath("evil.txt").toUtf8();
    struct Case {
        QByteArray bytes;
        QString message;
        QStringList left = {"a.tar"};
    };
    const QString outsideMessage = "Refusing to extract an entry outside the folder of the .tar file: ";
    const QString badSize = "Invalid size in the header of entry: a.txt";
    const QString truncatedData = "Tar file is incomplete/truncated. Could not read data for file: a.txt";
    const std::vector<Case> cases = {
        {entry("../evil.txt", "x") + endBlocks, outsideMessage + "../evil.txt"},
        {entry("docs/../../evil.txt", "x") + endBlocks, outsideMessage + "docs/../../evil.txt"},
        {entry(outside, "x") + endBlocks, outsideMessage + QString::fromUtf8(outside)},
        {entry("../up", "", '2') + endBlocks, outsideMessage + "../up"},
        {sealed(header("a.txt", QByteArray("0000000001x\0", 12))) + padded("x") + endBlocks, badSize},
        {sealed(header("a.txt", QByteArray("00000000089\0", 12))) + padded("x") + endBlocks, badSize},
        {sealed(header("a.txt", QByteArray("-0000000001\0", 12))) + padded("x") + endBlocks, badSize},
        {sealed(header("a.txt", QByteArray("777777777777", 12))) + padded("x") + endBlocks, badSize},
        {sealed(header("a.txt", QByteArray("\x80\0\0\0\0\0\0\0\0\0\0\x01", 12))) + padded("x") + endBlocks, badSize},
        {sealed(header("a.txt", QByteArray("            ", 12))) + padded("x") + endBlocks, badSize},
        {sealed(header("a.txt", octalSize(8589934591))) + QByteArray(2000, 'x'), truncatedData},
        {sealed(header("a.txt", octalSize(300000))) + QByteArray(200000, 'x'), truncatedData},
        {entry("a.txt", "abc").left(515), "Error when skipping to the next header in .tar file: " + archive},
        {entry("a.txt", "abc").left(300), "Tar file is incomplete/truncated. Could not read header: " + archive},
    };
    for (const Case& c : cases) {
        QDir(dest).removeRecursively();
        EXPECT_EQ(thrownMessage([&] { extract(c.bytes); }), c.message);
        SCOPED_TRACE(c.message.toStdString());
        expectLeft(c.left);
    }

    // Every header is checked before anything is written: a damaged entry late in the archive
    // leaves nothing behind, not even the entries before it.
    QDir(dest).removeRecursively();
    const QByteArray cut = entry("Proj/big.bin", pseudoRandomBytes(300000, 5)).left(150000);
    EXPECT_EQ(thrownMessage([&] { extract(entry("Proj/ok.txt", "ok") + cut); }),
              "Tar file is incomplete/truncated. Could not read data for file: Proj/big.bin");
    expectLeft({"a.tar"});
}

TEST_F(TarReaderTest, ChecksumMustMatchAsSixDigitsAndANul)
{
    const QByteArray good = entry("a.txt", "abc");
    QByteArray nulEnded = good;
    nulEnded[155] = '\0';
    EXPECT_EQ(extract(nulEnded + endBlocks), QStringList{"a.txt"});
    QFile::remove(dest + "/a.txt");

    QByteArray sevenDigits = good;
    std::memcpy(sevenDigits.data() + 148, ("0" + good.mid(148, 6) + '\0').constData(), 8);
    QByteArray flipped = good;
    flipped[3] = 'X';
    for (const QByteArray& bad : {sevenDigits, flipped}) {
        EXPECT_EQ(thrownMessage([&] { extract(bad + endBlocks); }), "Failed checking header integrity: " + archive);
        expectLeft({"a.tar"});
    }
}

TEST_F(TarReaderTest, NothingAlreadyThereIsOverwrittenNotEvenThroughALink)
{
    const QByteArray bytes = entry("docs/", "", '5') + entry("docs/a.txt", "new") + endBlocks;
    EXPECT_EQ(extract(bytes), (QStringList{"docs/", "docs/a.txt"}));
    EXPECT_EQ(thrownMessage([&] { extractTar(archive); }), "File already exists: docs/");
    EXPECT_EQ(thrownMessage([&] { extract(entry("docs/a.txt", "again") + endBlocks); }), "File already exists: docs/a.txt");
    EXPECT_EQ(readFile(dest + "/docs/a.txt"), "new");

    const QString target = root.filePath("target.txt");
    writeFile(target, "mine");
    ASSERT_EQ(::symlink(QFile::encodeName(target), QFile::encodeName(dest + "/live")), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(root.filePath("nowhere.txt")), QFile::encodeName(dest + "/dangling")), 0);
    EXPECT_EQ(thrownMessage([&] { extract(entry("live", "evil") + endBlocks); }), "File already exists: live");
    EXPECT_EQ(thrownMessage([&] { extract(entry("dangling", "evil") + endBlocks); }), "File already exists: dangling");
    EXPECT_EQ(readFile(target), "mine");
    EXPECT_FALSE(QFileInfo::exists(root.filePath("nowhere.txt")));
}

TEST_F(TarReaderTest, WhatCannotBeOpenedOrMadeIsReported)
{
    EXPECT_EQ(thrownMessage([&] { extractTar(dest + "/missing.tar"); }), "Could not open file: " + dest + "/missing.tar");
    EXPECT_EQ(thrownMessage([&] { extract(entry("a/b/", "", '5') + endBlocks); }), "Could not create directory: a/b/");
    writeFile(dest + "/plain", "a file, not a folder");
    EXPECT_EQ(thrownMessage([&] { extract(entry("plain/inner/x.txt", "x") + endBlocks); }),
              "Could not create directory: " + dest + "/plain/inner");
}

// The dialog is modal and lets events through while it works: a queued call sees it, and it
// must be gone afterwards, however the extraction ended.
struct SeenDialog {
    bool seen = false;
    QString title;
    QString label;
    Qt::WindowModality modality = Qt::NonModal;
    bool hasButton = true;
    double fraction = -1;
};

void lookAtDialogWhenEventsRun(QObject* context, SeenDialog& seen)
{
    QTimer::singleShot(0, context, [&seen] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible()) {
                seen = {true, d->windowTitle(), d->labelText(), d->windowModality(), d->findChild<QPushButton*>() != nullptr,
                        d->maximum() > 0 ? double(d->value()) / d->maximum() : -1};
            }
    });
}

bool anyProgressDialogLeft()
{
    QApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QProgressDialog*>(w))
            return true;
    return false;
}

TEST_F(TarReaderTest, ProgressDialogShowsWhileWorkingAndClosesItself)
{
    QObject context;
    SeenDialog seen;
    lookAtDialogWhenEventsRun(&context, seen);
    extract(entry("one.bin", pseudoRandomBytes(1500000, 6)) + entry("two.bin", "2") + endBlocks);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, "Extracting...");
    EXPECT_EQ(seen.label, "Extracting file: a.tar");
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    EXPECT_FALSE(seen.hasButton);
    EXPECT_FALSE(anyProgressDialogLeft());

    EXPECT_EQ(thrownMessage([&] { extract(entry("one.bin", "x").left(100)); }).left(16), "Tar file is inco");
    EXPECT_FALSE(anyProgressDialogLeft());
}

TEST_F(TarReaderTest, ArchivesBeyondTwoGibibytesKeepAProperProgressAndSkipOtherKinds)
{
    // Sparse: a 2.5 GiB entry of another kind, skipped without reading, then a small file.
    const qint64 skipped = 2684354560;
    {
        QFile f(archive);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(sealed(header("docs/link", octalSize(skipped), '2')));
        f.seek(512 + skipped);
        f.write(entry("after.txt", "hello") + endBlocks);
    }
    const double position = double(512 + skipped) / QFileInfo(archive).size();
    QObject context;
    SeenDialog seen;
    lookAtDialogWhenEventsRun(&context, seen);
    EXPECT_EQ(extractTar(archive), (QStringList{"docs/link", "after.txt"}));
    EXPECT_EQ(listTree(dest), (QStringList{"a.tar", "after.txt"}));
    ASSERT_TRUE(seen.seen);
    EXPECT_NEAR(seen.fraction, position, 0.001);
}

} // namespace
