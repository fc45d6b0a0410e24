#include "base/crc16.h"
#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "camera/system_cfg_backup.h"
#include "support/log_capture.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>

using namespace testsupport;

namespace {
// The two bytes a calibration trailer holds for the CRC of data.
QByteArray trailerOf(const QByteArray& data)
{
    const uint16_t crc = computeCrc16(reinterpret_cast<const uint8_t*>(data.constData()), uint32_t(data.size()));
    return QByteArray(reinterpret_cast<const char*>(&crc), 2);
}

// A model whose write breaks off half way, as a full disk would leave it.
class BrokenWriteModel : public CamParamsZTM6 {
public:
    bool saveSystemFile(const QString& path) override
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(QByteArray(40, 'x'));
        return false;
    }
};

class CalibrationFile : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    void make(const QString& name, const QStringList& options = {}) { makeSystemCfg(path(name), options); }
    QTemporaryDir dir;
};
} // namespace

TEST(Crc16, MatchesTheX25CheckValueAndCrcmodStoredHighByteFirst)
{
    EXPECT_EQ(trailerOf("123456789").toHex(), "906e");
    QList<QByteArray> buffers;
    QByteArray input;
    for (qsizetype length : {1, 2, 31, 298, 65536 + 7}) {
        buffers.append(pseudoRandomBytes(length, quint32(length) * 2654435761u));
        input += buffers.last().toHex() + '\n';
    }
    const char* program = "import sys, crcmod.predefined\n"
                          "crc = crcmod.predefined.mkCrcFun('x-25')\n"
                          "for line in sys.stdin:\n"
                          "    print(crc(bytes.fromhex(line)).to_bytes(2, 'big').hex())\n";
    const ProcessResult result = runProcess(systemPython(), {"-c", program}, input);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QList<QByteArray> expected = result.out.trimmed().split('\n');
    ASSERT_EQ(expected.size(), buffers.size());
    for (qsizetype i = 0; i < buffers.size(); ++i)
        EXPECT_EQ(trailerOf(buffers[i]).toHex(), expected[i]) << "length " << buffers[i].size();
}

TEST_F(CalibrationFile, TwoLensFixtureFileLoadsSavesTheSameBytesAndListsItsValuesAsText)
{
    make("system.cfg", {"--set", "lens2.P4=0.0625", "--set", "YAW=-2.5"});
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    ASSERT_TRUE(model.saveSystemFile(path("copy.cfg")));
    EXPECT_EQ(readFile(path("copy.cfg")), readFile(path("system.cfg")));
    EXPECT_FALSE(model.saveSystemFile("/dev/full"));
    EXPECT_FALSE(model.saveSystemFile(path("no-such-folder/system.cfg")));

    // The text form lists every value under its own name.
    ASSERT_TRUE(model.saveTextFile(path("system.txt")));
    const QByteArray text = readFile(path("system.txt"));
    EXPECT_EQ(text.count('\n'), 55);
    EXPECT_TRUE(text.startsWith("FILE_VERSION: 60002\nTIME_STAMP: 20240315\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nYAW: -2.5\nMIN_RANGE: ") && text.contains("\nP4: 0.0625\nRM: ")) << text.toStdString();
}

TEST_F(CalibrationFile, OlderVersionOneLensAndTrailingBytesLoadAndSaveAsRead)
{
    for (const auto& [options, savedSize] : {std::pair{QStringList{"--version", "60001"}, 298},
                                             {{"--lens-count", "1"}, 226}, {{"--append", "00ff13"}, 298}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        make("file.cfg", options);
        CamParamsZTM6 model;
        ASSERT_TRUE(model.loadSystemFile(path("file.cfg")));
        ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
        EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("file.cfg")).left(savedSize));
        EXPECT_EQ(model.lensRecord(1) != nullptr, savedSize == 298) << "no second record from a one-lens file";
    }
    // The last byte of a text field reads as NUL, whatever the file holds there.
    const QString full = QByteArray("MX0123456789ABCDEFGHIJKL").toHex();
    make("full.cfg", {"--raw-text", "CAMERA_FW=" + full, "--crc-over-terminated"});
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("full.cfg")));
    EXPECT_EQ(model.cameraFirmware(), "MX0123456789ABCDEFGHIJK");
}

TEST_F(CalibrationFile, EachModelRefusesDamagedAndForeignFilesAndKeepsNothingOfAnEarlierOne)
{
    struct Model {
        QString name;
        std::function<std::unique_ptr<CamParams>()> make;
        QList<QStringList> goods, damages; // the last good file is the plain one
    };
    const Model models[] = {
        {"ztm6", [] { return std::make_unique<CamParamsZTM6>(); }, {{"--lens-count", "1"}, {}},
         {{"--flip-bit", "100"}, {"--flip-bit", "2320"}, {"--swap-trailer"}, {"--version", "60003"},
          {"--lens-count", "0"}, {"--lens-count", "3"}, {"--lens-count", "-1", "--records", "2"},
          {"--lens-count", "2", "--records", "1"}, {"--truncate", "1"}, {"--truncate", "146"}, {"--truncate", "200"}}},
        {"ztm5", [] { return std::make_unique<CamParamsZTM5>(); }, {{"--stamp", "2128510"}, {}},
         {{"--truncate", "1"}, {"--append", "00"}, {"--flip-bit", "300"}, {"--swap-trailer"}, {"--stamp", "2128512"}}},
        {"ztm4", [] { return std::make_unique<CamParamsZTM4>(); }, {{"--lasers", "0"}, {}},
         {{"--truncate", "1"}, {"--flip-bit", "900"}, {"--swap-trailer"}, {"--stamp", "2128508"},
          {"--lasers", "0", "--set", "NUM_LASERS=-1"}, {"--lasers", "1", "--set", "NUM_LASERS=2"},
          {"--lasers", "0", "--set", "NUM_LASERS=0x7fffffff"}}},
    };
    // Every file of a model, good or damaged, named after its options. The two-lens files keep
    // reserved bytes of 0 (the others have none), which a reset leaves alone.
    auto fileFor = [&](const QString& model, const QStringList& options) {
        const QStringList all = QStringList{"--model", model, "--reserved", "0000"} + options;
        make(all.join(' '), all);
        return all.join(' ');
    };
    writeFile(path("empty"), {});
    QDir(dir.path()).mkdir("folder");
    for (const Model& m : models) {
        QStringList bad = m.name == "ztm6" ? QStringList{"missing", "empty", "folder"} : QStringList{};
        for (const Model& other : models)
            for (const QStringList& options : other.name == m.name ? m.damages : other.goods)
                bad << fileFor(other.name, options);
        QStringList goods;
        for (const QStringList& options : m.goods)
            goods << fileFor(m.name, options);
        const QString fresh = calibrationState(*m.make());
        for (const QString& name : bad) {
            SCOPED_TRACE((m.name + " reading " + name).toStdString());
            std::unique_ptr<CamParams> model = m.make();
            for (const QString& good : goods)
                ASSERT_TRUE(model->loadSystemFile(path(good)));
            EXPECT_FALSE(model->loadSystemFile(path(name)));
            EXPECT_EQ(calibrationState(*model), fresh);
        }
    }
}

// A whole file whose values no render can use is refused on reading, with the reason in the log,
// so a project never takes it for a camera it could process; values at the edges of what renders
// are taken.
TEST_F(CalibrationFile, ValuesNoRenderCanUseAreRefusedOnReadingWithTheReason)
{
    const std::pair<QStringList, QString> refused[] = {
        {{"--width", "2147483646", "--height", "1073741823"}, "is larger than any lens image this program decodes"},
        {{"--width", "32768", "--height", "16384"}, "is larger than any lens image this program decodes"},
        {{"--width", "7680", "--height", "3841"}, "is not a 2:1 size"},
        {{"--width", "2", "--height", "1"}, "is not a 2:1 size"},
        {{"--set", "lens2.U0=1e30"}, "centre of lens 2 lies far outside its lens image"},
        {{"--set", "lens1.V0=-3841"}, "centre of lens 1 lies far outside its lens image"},
        {{"K2 of lens 1", "inf"}, "a lens term that is not a finite number"},
        {{"RM of lens 2", "nan"}, "a lens term that is not a finite number"},
    };
    for (const auto& [options, reason] : refused) {
        SCOPED_TRACE(options.join(' ').toStdString());
        if (options[0].startsWith("--")) {
            make("file.cfg", options);
        } else {
            // The script writes only finite numbers: the term is put in here, the CRC made anew.
            make("file.cfg");
            QByteArray data = readFile(path("file.cfg")).chopped(2);
            const int at = options[0].startsWith("K2") ? 152 + 5 * 4 : 152 + 72 + 11 * 4;
            const float value = options[1] == "inf" ? std::numeric_limits<float>::infinity()
                                                    : std::numeric_limits<float>::quiet_NaN();
            data.replace(at, 4, reinterpret_cast<const char*>(&value), 4);
            writeFile(path("file.cfg"), data + trailerOf(data));
        }
        CamParamsZTM6 model;
        LogCapture log;
        EXPECT_FALSE(model.loadSystemFile(path("file.cfg")));
        EXPECT_EQ(model.imageWidth(), 0) << "nothing of the file is kept";
        const QStringList warnings = log.texts(QtWarningMsg);
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings[0].startsWith("The calibration file \"" + path("file.cfg") + "\" cannot be used: "));
        EXPECT_TRUE(warnings[0].contains(reason)) << warnings[0].toStdString();
    }
    for (const QStringList& options : {QStringList{"--width", "16384", "--height", "8192"},
                                       {"--set", "lens1.U0=-7680", "--set", "lens2.V0=7680", "--set", "lens2.K3=3e38"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        make("file.cfg", options);
        CamParamsZTM6 model;
        EXPECT_TRUE(model.loadSystemFile(path("file.cfg")));
    }
}

TEST_F(CalibrationFile, BackupKeepsTheOldestFileAndAFailedSaveLeavesTheOldOne)
{
    const QString cfg = path("system.cfg"), orig = path("system.orig");
    auto save = [&](CamParams& model) { return thrownMessage([&] { saveSystemCfgWithBackup(model, cfg); }); };
    CamParamsZTM6 model, reread;
    EXPECT_EQ(save(model), "Failed to rename system.cfg to system.orig") << "no file, nothing saved";
    make("system.cfg", {"--timestamp", "20200101"});
    const QByteArray oldest = readFile(cfg);
    // Neither the temporary file's 0600 nor a new file's usual 0644.
    const QFile::Permissions rights = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(cfg, rights));
    BrokenWriteModel broken;
    ASSERT_TRUE(broken.loadSystemFile(cfg));
    EXPECT_EQ(save(broken), "Failed to save system.cfg");
    EXPECT_EQ(readFile(cfg), oldest);
    ASSERT_TRUE(model.loadSystemFile(cfg));
    for (int timestamp : {20240102, 20240303}) {
        model.setTimestamp(timestamp);
        EXPECT_EQ(save(model), "(nothing thrown)");
        EXPECT_EQ(readFile(orig), oldest);
        ASSERT_TRUE(reread.loadSystemFile(cfg));
        EXPECT_EQ(reread.timestamp(), timestamp);
    }
    EXPECT_EQ(QFile::permissions(cfg) & QFile::Permissions(0xF0FF), rights);
    EXPECT_EQ(listTree(dir.path()), (QStringList{"system.cfg", "system.orig"}));

    // A folder in the file's place is neither copied nor replaced.
    QFile::remove(cfg);
    QFile::remove(orig);
    ASSERT_TRUE(QDir(dir.path()).mkdir("system.cfg"));
    writeFile(path("system.cfg/inside"), "kept");
    EXPECT_EQ(save(model), "Failed to rename system.cfg to system.orig");
    writeFile(orig, "older");
    EXPECT_EQ(save(model), "Failed to save system.cfg");
    EXPECT_EQ(readFile(path("system.cfg/inside")), "kept");
    EXPECT_EQ(readFile(orig), "older");
}
