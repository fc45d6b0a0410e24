#include "camera/cam_params_ztm4.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace testsupport;
using Lens = CamParamsOneLens;

namespace {
const char* const kCentroidKeys[] = {"CENT_COLOR", "CENT_THRESHOLD", "CENT_MINPEAK", "CENT_MAXPEAK",
                                     "CENT_MINSIDEPIX", "CENT_MAXSIDEPIX", "COMPASS_FACTOR"};

// What a call prints to the standard output, read back through a file in its place.
template <typename F>
QByteArray standardOutputOf(F&& action)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath("stdout").toLocal8Bit();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int file = open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDOUT_FILENO);
    close(file);
    action();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return readFile(QString::fromLocal8Bit(path));
}

// Every value the model holds besides the lens and calibration values the shared state shows.
QString laserState(const CamParamsZTM4& model)
{
    QString text = calibrationState(model);
    for (int i = 0; i < 7; ++i)
        text += " " + QString::number(model.centroidSetting(i));
    for (const auto& laser : model.lasers())
        for (float value : laser)
            text += " " + QString::number(double(value), 'g', 9);
    for (const auto& laser : model.lasersDouble())
        for (double value : laser)
            text += " " + QString::number(value, 'g', 17);
    return text;
}

class Ztm4Calibration : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QJsonObject make(const QString& name, const QStringList& options = {})
    {
        return makeSystemCfg(path(name), QStringList{"--model", "ztm4"} + options);
    }
    // The model's values against what the fixture script wrote, the block's floats in both forms.
    static void expectValues(const CamParamsZTM4& model, const QJsonObject& written)
    {
        EXPECT_EQ(model.systemSerial(), written["serial"].toString().toStdString());
        const QJsonObject integers = written["integers"].toObject();
        EXPECT_EQ(model.timestamp(), integers["TIMESTAMP"].toInt());
        EXPECT_EQ(model.imageWidth(), integers["IMGWIDTH"].toInt());
        EXPECT_EQ(model.imageHeight(), integers["IMGHEIGHT"].toInt());
        EXPECT_EQ(model.laserCount(), integers["NUM_LASERS"].toInt());
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(model.centroidSetting(i), integers[kCentroidKeys[i]].toInt()) << kCentroidKeys[i];
        const QJsonObject values = written["values"].toObject();
        for (int i = 0; i < Lens::LensTermCount; ++i) {
            EXPECT_EQ(model.lensTerm(Lens::LensTerm(i)), float(values[kLensKeys[i]].toDouble())) << kLensKeys[i];
            EXPECT_EQ(model.lensTermDouble(Lens::LensTerm(i)), values[kLensKeys[i]].toDouble()) << kLensKeys[i];
        }
        for (int i = 0; i < Lens::CalibrationValueCount; ++i) {
            const double value = values[kCalibrationKeys[i]].toDouble();
            EXPECT_EQ(model.calibrationValue(Lens::CalibrationValue(i)), float(value)) << kCalibrationKeys[i];
            EXPECT_EQ(model.calibrationValueDouble(Lens::CalibrationValue(i)), value) << kCalibrationKeys[i];
        }
        const QJsonArray lasers = written["lasers"].toArray();
        ASSERT_EQ(model.lasers().size(), size_t(lasers.size()));
        ASSERT_EQ(model.lasersDouble().size(), size_t(lasers.size()));
        for (qsizetype laser = 0; laser < lasers.size(); ++laser)
            for (int k = 0; k < CamParamsZTM4::kLaserValueCount; ++k) {
                const double value = lasers[laser][kLaserKeys[k]].toDouble();
                EXPECT_EQ(model.lasers()[size_t(laser)][size_t(k)], float(value)) << laser << kLaserKeys[k];
                EXPECT_EQ(model.lasersDouble()[size_t(laser)][size_t(k)], value) << laser << kLaserKeys[k];
            }
    }
    QTemporaryDir dir;
};
} // namespace

TEST_F(Ztm4Calibration, DefaultsAreTheCamerasOwnInBothPrecisions)
{
    const CamParamsZTM4 model;
    EXPECT_EQ(model.stamp(), 2128509u);
    EXPECT_EQ(model.imageWidth(), 4272);
    EXPECT_EQ(model.imageHeight(), 2848);
    EXPECT_EQ(model.laserCount(), 0);
    EXPECT_TRUE(model.lasers().empty());
    const int centroids[] = {3, 30, 20, 65536, 1, 8, 1};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(model.centroidSetting(i), centroids[i]) << kCentroidKeys[i];
    const double lens[] = {1050.0, 1424.0, 1424.0, 1.0, 1e-7, 0, 0, 0, 0, 0};
    for (int i = 0; i < Lens::LensTermCount; ++i) {
        EXPECT_EQ(model.lensTermDouble(Lens::LensTerm(i)), lens[i]) << kLensKeys[i];
        EXPECT_EQ(model.lensTerm(Lens::LensTerm(i)), float(lens[i])) << kLensKeys[i];
    }
    const double calibration[] = {0, 3.229, 1.00106, 1.00003, 1.0, 1.01026, 1.01546,
                                  1.01756, 1.02178, 1.02711, 1.03684, 1.06486, 1.10923, 1.17262};
    for (int i = 0; i < Lens::CalibrationValueCount; ++i) {
        EXPECT_EQ(model.calibrationValueDouble(Lens::CalibrationValue(i)), calibration[i]) << kCalibrationKeys[i];
        EXPECT_EQ(model.calibrationValue(Lens::CalibrationValue(i)), float(calibration[i])) << kCalibrationKeys[i];
    }
    EXPECT_EQ(model.modelName(), "ZTM4");
    EXPECT_EQ(model.laserOffset(), 210);
}

// Blocks written by struct + crcmod load whole and are written back byte for byte.
TEST_F(Ztm4Calibration, FixtureBlocksLoadEveryValueAndSaveTheSameBytes)
{
    const QList<QStringList> cases = {
        {},
        {"--lasers", "0"},
        {"--lasers", "1", "--set", "laser1.A5=-3.5e-9", "--set", "K3=-7.5e-22"},
        {"--lasers", "5", "--set", "CENT_MAXPEAK=-7", "--set", "TIMESTAMP=20991231"},
        {"--serial", "ABCDEFGHIJKLMNOPQRSTUVWX"}, // all 24 bytes, no terminator
    };
    for (const QStringList& options : cases) {
        SCOPED_TRACE(options.join(' ').toStdString());
        const QJsonObject written = make("system.cfg", options);
        const QByteArray original = readFile(path("system.cfg"));
        const int lasers = written["integers"]["NUM_LASERS"].toInt();
        ASSERT_EQ(original.size(), 168 + 48 * lasers + 2);
        CamParamsZTM4 model;
        ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
        expectValues(model, written);
        ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
        EXPECT_EQ(readFile(path("saved.cfg")), original);
        CamParamsZTM4 reread;
        ASSERT_TRUE(reread.loadSystemFile(path("saved.cfg")));
        EXPECT_EQ(laserState(reread), laserState(model));
    }
    EXPECT_EQ(readFile(path("saved.cfg")).size(), 170 + 3 * 48);
}

TEST_F(Ztm4Calibration, NoLasersMakeTheSmallestBlock)
{
    make("none.cfg", {"--lasers", "0"});
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadSystemFile(path("none.cfg")));
    EXPECT_EQ(model.laserCount(), 0);
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")).size(), 170);
}

// Bytes after the serial's terminator are not part of it: the saved block has zeros there, with
// the CRC to match.
TEST_F(Ztm4Calibration, SerialBytesAfterItsTerminatorAreSavedAsZeros)
{
    const QByteArray raw = QByteArray("ZT4-7\0junk-after-nul.", 21).leftJustified(24, 'q');
    make("junk.cfg", {"--raw-text", "serial=" + QString::fromLatin1(raw.toHex())});
    make("clean.cfg", {"--serial", "ZT4-7"});
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadSystemFile(path("junk.cfg")));
    EXPECT_EQ(model.systemSerial(), "ZT4-7");
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("clean.cfg")));
}

// A laser count beyond what the file holds is refused before a table is made for it; a count the
// bytes could hold but that disagrees with the trailer's place fails the CRC.
TEST_F(Ztm4Calibration, LaserCountsTheFileCannotHoldAreRefused)
{
    make("good.cfg");
    const QString fresh = laserState(CamParamsZTM4());
    const QList<QStringList> damages = {
        {"--lasers", "3", "--set", "NUM_LASERS=4"},
        {"--lasers", "3", "--set", "NUM_LASERS=2"},
        {"--lasers", "0", "--set", "NUM_LASERS=-1"},
        {"--lasers", "2", "--set", "NUM_LASERS=0x7fffffff"},
        {"--lasers", "2", "--set", "NUM_LASERS=44739243"}, // 48 x N wraps to a small 32-bit number
    };
    for (const QStringList& options : damages) {
        SCOPED_TRACE(options.join(' ').toStdString());
        make("bad.cfg", options);
        CamParamsZTM4 model;
        ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(model.loadSystemFile(path("bad.cfg")));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "no table was made for it";
        EXPECT_EQ(laserState(model), fresh);
    }
}

TEST_F(Ztm4Calibration, OtherStampsAndDamagedBlocksLeaveTheDefaults)
{
    make("good.cfg");
    const QString fresh = laserState(CamParamsZTM4());
    const QList<QStringList> damages = {
        {"--stamp", "2128508"}, {"--stamp", "2128510"}, {"--truncate", "1"}, {"--truncate", "60"},
        {"--append", "00"}, {"--flip-bit", "700"}, {"--swap-trailer"},
    };
    for (const QStringList& options : damages) {
        SCOPED_TRACE(options.join(' ').toStdString());
        make("bad.cfg", options);
        CamParamsZTM4 model;
        ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
        EXPECT_FALSE(model.loadSystemFile(path("bad.cfg")));
        EXPECT_EQ(laserState(model), fresh);
    }
}

// Only a missing and an empty file say so on the standard output; every other refusal is quiet.
TEST_F(Ztm4Calibration, MissingAndEmptyFilesAreReportedOnStandardOutput)
{
    writeFile(path("empty.cfg"), {});
    make("short.cfg", {"--truncate", "10"});
    make("good.cfg");
    const QString fresh = laserState(CamParamsZTM4());
    const std::pair<const char*, const char*> files[] = {
        {"missing.cfg", "failed to open file\n"}, {"empty.cfg", "read 0 bytes\n"}, {"short.cfg", ""}};
    for (const auto& [name, printed] : files) {
        SCOPED_TRACE(name);
        CamParamsZTM4 model;
        ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
        EXPECT_EQ(standardOutputOf([&, name = name] { EXPECT_FALSE(model.loadSystemFile(path(name))); }), printed);
        EXPECT_EQ(laserState(model), fresh) << "nothing of the earlier file is kept";
    }
}

TEST_F(Ztm4Calibration, SaveIntoAFolderFailsAndLeavesItAlone)
{
    make("good.cfg");
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("system.cfg"));
    writeFile(path("system.cfg/inside"), "kept");
    EXPECT_FALSE(model.saveSystemFile(path("system.cfg")));
    EXPECT_EQ(readFile(path("system.cfg/inside")), "kept");
    EXPECT_FALSE(model.saveSystemFile(path("no-such-folder/system.cfg")));
}

// The text form names every value and reads back what it wrote.
TEST_F(Ztm4Calibration, TextFormListsEveryValueAndReadsItBack)
{
    make("system.cfg", {"--lasers", "2", "--serial", "ZT4-TEXT", "--set", "laser2.UMAX=2712.5"});
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    ASSERT_TRUE(model.saveTextFile(path("system.txt")));
    const QList<QByteArray> lines = readFile(path("system.txt")).split('\n');
    ASSERT_EQ(lines.size(), 2 + 11 + 10 + 2 * 12 + 14 + 1);
    EXPECT_EQ(lines[0], "2128509");
    EXPECT_EQ(lines[1], "ZT4-TEXT");
    EXPECT_EQ(lines[2], "20190402\t# TIMESTAMP");
    EXPECT_EQ(lines[5], "2\t# NUM_LASERS");
    EXPECT_EQ(lines[13], "1049.5\t# F");
    EXPECT_EQ(lines[17], "1.125e-07\t# K1");
    EXPECT_EQ(lines[23], "98\t# L1: PN");
    EXPECT_EQ(lines[23 + 12 + 11], "2712.5\t# L2: UMAX");
    EXPECT_EQ(lines[47], "0.125\t# COMPASS_OFFSET");
    EXPECT_EQ(lines[60], "1.09\t# VC9");
    EXPECT_EQ(lines[61], "");

    CamParamsZTM4 reread;
    ASSERT_TRUE(reread.loadTextFile(path("system.txt")));
    ASSERT_TRUE(reread.saveTextFile(path("again.txt")));
    EXPECT_EQ(readFile(path("again.txt")), readFile(path("system.txt")));
    EXPECT_EQ(reread.systemSerial(), "ZT4-TEXT");
    ASSERT_EQ(reread.lasers().size(), 2u);
    for (size_t laser = 0; laser < 2; ++laser)
        for (int k = 0; k < CamParamsZTM4::kLaserValueCount; ++k)
            EXPECT_NEAR(reread.lasers()[laser][size_t(k)], model.lasers()[laser][size_t(k)],
                        1e-6 * std::abs(model.lasers()[laser][size_t(k)]));
    // The block written from the text holds the same calibration as the block read.
    ASSERT_TRUE(reread.saveSystemFile(path("from-text.cfg")));
    CamParamsZTM4 fromText;
    ASSERT_TRUE(fromText.loadSystemFile(path("from-text.cfg")));
    EXPECT_EQ(fromText.imageHeight(), model.imageHeight());
    EXPECT_EQ(fromText.lensTerm(Lens::K1), model.lensTerm(Lens::K1));
    EXPECT_EQ(readFile(path("from-text.cfg")), readFile(path("system.cfg")));
}

// A serial that fills all 24 bytes has no terminator: the text form prints those 24 and no more.
TEST_F(Ztm4Calibration, TextFormPrintsAtMostTheSerialsTwentyFourBytes)
{
    make("system.cfg", {"--serial", "ABCDEFGHIJKLMNOPQRSTUVWX"});
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    ASSERT_TRUE(model.saveTextFile(path("system.txt")));
    const QList<QByteArray> lines = readFile(path("system.txt")).split('\n');
    EXPECT_EQ(lines[1], "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(lines[2], "20190402\t# TIMESTAMP");
    // The reader keeps 23 characters of the line.
    CamParamsZTM4 reread;
    ASSERT_TRUE(reread.loadTextFile(path("system.txt")));
    EXPECT_EQ(reread.systemSerial(), "ABCDEFGHIJKLMNOPQRSTUVW");
}

// The first cameras' text files: no serial line, three lasers whatever the count line says, and
// their own field of view. Written back they read the same; the block has no form for them.
TEST_F(Ztm4Calibration, OlderTextFilesReadWithThreeLasersAndStayReadable)
{
    QByteArray text = "2128508\n20120101\t# TIMESTAMP\n4272\n2848\n9\t# NUM_LASERS\n3\n30\n20\n65536\n1\n8\n1\n";
    for (const char* value : {"1050", "1424", "1424", "1", "1e-07", "0", "0", "0", "0", "0"})
        text += QByteArray(value) + "\n";
    for (int laser = 0; laser < 3; ++laser)
        for (int k = 0; k < 12; ++k)
            text += QByteArray::number(-500 - 100 * laser + k) + "\t# laser\n";
    for (int i = 0; i < 14; ++i)
        text += QByteArray::number(i == 1 ? 2.5 : 1.0 + i * 0.001) + "\n";
    writeFile(path("old.txt"), text);
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadTextFile(path("old.txt")));
    EXPECT_EQ(model.stamp(), 2128508u);
    EXPECT_EQ(model.systemSerial(), "");
    EXPECT_EQ(model.timestamp(), 20120101);
    EXPECT_EQ(model.laserCount(), 3);
    ASSERT_EQ(model.lasers().size(), 3u);
    EXPECT_EQ(model.lasers()[2][11], -700 + 11);
    EXPECT_EQ(model.calibrationValue(Lens::LENS_FOV), 3.229f);
    EXPECT_EQ(model.calibrationValue(Lens::RCA), 1.002f);

    ASSERT_TRUE(model.saveTextFile(path("written.txt")));
    CamParamsZTM4 reread;
    ASSERT_TRUE(reread.loadTextFile(path("written.txt")));
    EXPECT_EQ(laserState(reread), laserState(model));
    EXPECT_FALSE(model.saveSystemFile(path("old.cfg")));
    EXPECT_FALSE(QFile::exists(path("old.cfg")));
}

TEST_F(Ztm4Calibration, BrokenTextFilesLeaveTheDefaults)
{
    make("system.cfg", {"--lasers", "1"});
    CamParamsZTM4 good;
    ASSERT_TRUE(good.loadSystemFile(path("system.cfg")));
    ASSERT_TRUE(good.saveTextFile(path("good.txt")));
    const QByteArray text = readFile(path("good.txt"));
    const QList<QByteArray> lines = text.split('\n');
    const auto withLine = [&](int index, const QByteArray& line) {
        QList<QByteArray> changed = lines;
        changed[index] = line;
        return changed.join('\n');
    };
    const QList<std::pair<const char*, QByteArray>> broken = {
        {"a stamp of another model", withLine(0, "2128511")},
        {"a line without a number", withLine(7, "\t# CENT_THRESHOLD")},
        {"an integer beyond 32 bits", withLine(3, "4294967296\t# IMGWIDTH")},
        {"a lens term that is not finite", withLine(14, "nan\t# U0")},
        {"a value no float can hold", withLine(24, "1e39\t# L1: NX")},
        {"a laser count no file line holds", withLine(5, "100000000\t# NUM_LASERS")},
        {"a negative laser count", withLine(5, "-1\t# NUM_LASERS")},
        {"the last line missing", lines.mid(0, lines.size() - 2).join('\n')},
        {"nothing after the stamp", "2128509\n"},
    };
    const QString fresh = laserState(CamParamsZTM4());
    for (const auto& [what, content] : broken) {
        SCOPED_TRACE(what);
        writeFile(path("broken.txt"), content);
        CamParamsZTM4 model;
        ASSERT_TRUE(model.loadTextFile(path("good.txt")));
        EXPECT_FALSE(model.loadTextFile(path("broken.txt")));
        EXPECT_EQ(laserState(model), fresh);
    }
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadTextFile(path("good.txt")));
    EXPECT_FALSE(model.loadTextFile(path("missing.txt")));
    EXPECT_EQ(laserState(model), fresh);
    EXPECT_FALSE(model.saveTextFile(path("no-such-folder/x.txt")));
}
