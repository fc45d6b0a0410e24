#include "camera/cam_params_ztm6.h"

#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace testsupport;

namespace {
struct FloatKey {
    const char* key;
    float Ztm6LensRecord::*field;
};
const FloatKey kLensKeys[] = {
    {"RCA", &Ztm6LensRecord::RCA}, {"BCA", &Ztm6LensRecord::BCA}, {"U0", &Ztm6LensRecord::U0},
    {"V0", &Ztm6LensRecord::V0}, {"K1", &Ztm6LensRecord::K1}, {"K2", &Ztm6LensRecord::K2},
    {"K3", &Ztm6LensRecord::K3}, {"P1", &Ztm6LensRecord::P1}, {"P2", &Ztm6LensRecord::P2},
    {"P3", &Ztm6LensRecord::P3}, {"P4", &Ztm6LensRecord::P4}, {"RM", &Ztm6LensRecord::RM},
    {"POSX", &Ztm6LensRecord::POSX}, {"POSY", &Ztm6LensRecord::POSY}, {"POSZ", &Ztm6LensRecord::POSZ},
    {"ROLL", &Ztm6LensRecord::ROLL}, {"PITCH", &Ztm6LensRecord::PITCH}, {"YAW", &Ztm6LensRecord::YAW},
};

struct HeaderFloat {
    const char* key;
    float Ztm6Header::*field;
};
const HeaderFloat kHeaderFloats[] = {
    {"POSX", &Ztm6Header::POSX}, {"POSY", &Ztm6Header::POSY}, {"POSZ", &Ztm6Header::POSZ},
    {"ROLL", &Ztm6Header::ROLL}, {"PITCH", &Ztm6Header::PITCH}, {"YAW", &Ztm6Header::YAW},
};

class Ztm6Calibration : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    QJsonObject make(const QString& name, const QStringList& options = {})
    {
        return makeSystemCfg(path(name), options);
    }

    static void expectValues(const CamParamsZTM6& model, const QJsonObject& description)
    {
        const QJsonObject head = description["header"].toObject();
        const Ztm6Header& h = model.header();
        EXPECT_EQ(h.FILE_VERSION, head["FILE_VERSION"].toInt());
        EXPECT_EQ(h.TIME_STAMP, head["TIME_STAMP"].toInt());
        EXPECT_EQ(model.timestamp(), head["TIME_STAMP"].toInt());
        EXPECT_EQ(model.imageWidth(), head["IMG_WIDTH"].toInt());
        EXPECT_EQ(model.imageHeight(), head["IMG_HEIGHT"].toInt());
        EXPECT_EQ(h.NUM_LENS, head["NUM_LENS"].toInt());
        EXPECT_EQ(model.systemSerial(), head["SYSTEM_SERIAL"].toString().toStdString());
        EXPECT_EQ(model.cameraModel(), head["CAMERA_MODEL"].toString().toStdString());
        EXPECT_EQ(model.cameraSerial(), head["CAMERA_SERIAL"].toString().toStdString());
        EXPECT_EQ(model.cameraFirmware(), head["CAMERA_FW"].toString().toStdString());
        EXPECT_EQ(h.LENS_CALIBRATED, head["LENS_CALIBRATED"].toInt());
        EXPECT_EQ(h.LENS_ALIGNED, head["LENS_ALIGNED"].toInt());
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(h.reserved), 2).toHex(), head["reserved"].toString().toLatin1());
        for (const HeaderFloat& f : kHeaderFloats)
            EXPECT_EQ(h.*f.field, float(head[f.key].toDouble())) << f.key;
        EXPECT_EQ(h.MIN_RANGE, uint32_t(head["MIN_RANGE"].toInteger()));
        EXPECT_EQ(h.MAX_RANGE, uint32_t(head["MAX_RANGE"].toInteger()));

        const QJsonArray lenses = description["lenses"].toArray();
        ASSERT_EQ(model.lenses().size(), size_t(lenses.size()));
        for (qsizetype i = 0; i < lenses.size(); ++i) {
            const QJsonObject lens = lenses[i].toObject();
            for (const FloatKey& k : kLensKeys)
                EXPECT_EQ(model.lenses()[size_t(i)].*k.field, float(lens[k.key].toDouble())) << "lens " << i << " " << k.key;
        }
    }

    // A refused file leaves what a new model holds, but for the reserved bytes a reset never touches.
    static void expectDefaults(const CamParamsZTM6& model, const uint8_t (&reserved)[2])
    {
        CamParamsZTM6 fresh;
        std::memcpy(fresh.header().reserved, reserved, 2);
        EXPECT_EQ(std::memcmp(&model.header(), &fresh.header(), sizeof(Ztm6Header)), 0);
        EXPECT_TRUE(model.lenses().empty());
        EXPECT_EQ(model.header().FILE_VERSION, 60002);
        EXPECT_EQ(model.serializeParameterBlock(), fresh.serializeParameterBlock());
    }
    static constexpr uint8_t kFixtureReserved[2] = {0xa5, 0x5a};
    static constexpr uint8_t kNoReserved[2] = {0, 0};

    // Python's crcmod check of a written file's trailer.
    static bool trailerVerifiedByCrcmod(const QString& file)
    {
        const char* program = "import sys, crcmod.predefined\n"
                              "data = open(sys.argv[1], 'rb').read()\n"
                              "crc = crcmod.predefined.mkCrcFun('x-25')(data[:-2])\n"
                              "sys.exit(0 if data[-2:] == crc.to_bytes(2, 'big') else 1)\n";
        return runProcess(systemPython(), {"-c", program, file}).exitCode == 0;
    }

    QTemporaryDir dir;
};
} // namespace

TEST_F(Ztm6Calibration, LoadsEveryValueAndSavesTheSameBytes)
{
    const QJsonObject description = make("system.cfg", {"--set", "lens2.P4=0.0625", "--set", "YAW=-2.5"});
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    expectValues(model, description);
    EXPECT_EQ(model.modelName(), "ZTM6");
    EXPECT_TRUE(model.isLensCalibrated());

    const QByteArray original = readFile(path("system.cfg"));
    EXPECT_EQ(QByteArray::fromStdString(model.serializeParameterBlock()), original.left(296));
    ASSERT_TRUE(model.saveSystemFile(path("copy.cfg")));
    EXPECT_EQ(readFile(path("copy.cfg")), original);
}

TEST_F(Ztm6Calibration, ChangedModelRoundTripsWithAValidTrailer)
{
    make("system.cfg");
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    model.setTimestamp(20250704);
    model.lenses()[1].U0 = 2001.5f;
    ASSERT_TRUE(model.saveSystemFile(path("changed.cfg")));
    EXPECT_TRUE(trailerVerifiedByCrcmod(path("changed.cfg")));

    CamParamsZTM6 reread;
    ASSERT_TRUE(reread.loadSystemFile(path("changed.cfg")));
    EXPECT_EQ(reread.timestamp(), 20250704);
    EXPECT_EQ(reread.serializeParameterBlock(), model.serializeParameterBlock());
}

TEST_F(Ztm6Calibration, RefusesDamagedOrForeignFilesAndResets)
{
    struct Case {
        const char* what;
        QStringList options;
    };
    const Case cases[] = {
        {"bit flipped in the header", {"--flip-bit", "100"}},
        {"bit flipped in the serial", {"--flip-bit", QString::number(20 * 8 + 1)}},
        {"bit flipped in lens 2", {"--flip-bit", QString::number(8 * 290)}},
        {"bit flipped in the trailer", {"--flip-bit", QString::number(297 * 8)}},
        {"trailer stored low byte first", {"--swap-trailer"}},
        {"version 60003", {"--version", "60003"}},
        {"version 6000", {"--version", "6000"}},
        {"lens count 0", {"--lens-count", "0"}},
        {"lens count 3", {"--lens-count", "3"}},
        {"lens count -1", {"--lens-count", "-1", "--records", "2"}},
        {"lens count 2 with one record", {"--lens-count", "2", "--records", "1"}},
        {"one byte short", {"--truncate", "1"}},
        {"trailer missing", {"--truncate", "2"}},
        {"header only", {"--truncate", "146"}},
        {"shorter than a header", {"--truncate", "200"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        make("good.cfg");
        make("bad.cfg", c.options);
        CamParamsZTM6 model;
        ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
        EXPECT_FALSE(model.loadSystemFile(path("bad.cfg")));
        expectDefaults(model, kFixtureReserved);
    }
}

TEST_F(Ztm6Calibration, RefusesWhatIsNoFile)
{
    make("good.cfg");
    writeFile(path("empty.cfg"), {});
    QDir(dir.path()).mkdir("folder.cfg");
    for (const QString name : {"missing.cfg", "empty.cfg", "folder.cfg"}) {
        SCOPED_TRACE(name.toStdString());
        CamParamsZTM6 model;
        ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
        EXPECT_FALSE(model.loadSystemFile(path(name)));
        expectDefaults(model, kFixtureReserved);
    }
}

TEST_F(Ztm6Calibration, AcceptsOlderVersionAndIgnoresBytesAfterTheTrailer)
{
    const QJsonObject older = make("older.cfg", {"--version", "60001"});
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("older.cfg")));
    expectValues(model, older);

    const QJsonObject longer = make("longer.cfg", {"--append", "00ff13"});
    ASSERT_TRUE(model.loadSystemFile(path("longer.cfg")));
    expectValues(model, longer);
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("longer.cfg")).left(298));
}

TEST_F(Ztm6Calibration, OneLensFileHasNoSecondRecord)
{
    const QJsonObject description = make("one.cfg", {"--lens-count", "1", "--set", "lens1.K2=0.25"});
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("one.cfg")));
    expectValues(model, description);
    ASSERT_NE(model.lensRecord(0), nullptr);
    EXPECT_EQ(model.lensRecord(0)->K2, 0.25f);
    EXPECT_EQ(model.lensRecord(1), nullptr);
    EXPECT_EQ(model.lensRecord(-1), nullptr);
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("one.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")).size(), 226);
}

TEST_F(Ztm6Calibration, LastByteOfATextFieldIsReadAsNul)
{
    const QString full24 = QByteArray("MX0123456789ABCDEFGHIJKL").toHex();
    // The camera's CRC covered the byte as it stands: the forced NUL makes it a mismatch.
    make("raw.cfg", {"--raw-text", "SYSTEM_SERIAL=" + full24});
    CamParamsZTM6 model;
    EXPECT_FALSE(model.loadSystemFile(path("raw.cfg")));
    expectDefaults(model, kNoReserved);

    // A CRC computed with the NUL in place is accepted; the text stops at 23 characters.
    make("terminated.cfg", {"--raw-text", "CAMERA_FW=" + full24, "--crc-over-terminated"});
    ASSERT_TRUE(model.loadSystemFile(path("terminated.cfg")));
    EXPECT_EQ(model.cameraFirmware(), "MX0123456789ABCDEFGHIJK");
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    QByteArray expected = readFile(path("terminated.cfg"));
    expected[92 + 23] = '\0';
    EXPECT_EQ(readFile(path("saved.cfg")), expected);
}

TEST_F(Ztm6Calibration, WriteFailuresAreReported)
{
    make("system.cfg");
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    EXPECT_FALSE(model.saveSystemFile("/dev/full"));
    EXPECT_FALSE(model.saveSystemFile(path("no-such-folder/system.cfg")));
    QDir(dir.path()).mkdir("taken.cfg");
    EXPECT_FALSE(model.saveSystemFile(path("taken.cfg")));
}

TEST_F(Ztm6Calibration, TextFormListsEveryValue)
{
    const QJsonObject description = make("system.cfg");
    CamParamsZTM6 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    EXPECT_FALSE(model.loadTextFile(path("system.cfg")));
    ASSERT_TRUE(model.saveTextFile(path("system.txt")));

    // The expected text is formatted by Python's own "%g", which is the stream's default notation.
    const char* program =
        "import json, sys\n"
        "d = json.load(sys.stdin)\n"
        "h = d['header']\n"
        "out = []\n"
        "for k in ['FILE_VERSION', 'TIME_STAMP', 'IMG_WIDTH', 'IMG_HEIGHT', 'NUM_LENS',\n"
        "          'SYSTEM_SERIAL', 'CAMERA_MODEL', 'CAMERA_SERIAL', 'CAMERA_FW']:\n"
        "    out.append('%s: %s' % (k, h[k]))\n"
        "out.append('LENS_CALIBRATED: %d' % (h['LENS_CALIBRATED'] != 0))\n"
        "out.append('LENS_ALIGNED: %d' % (h['LENS_ALIGNED'] != 0))\n"
        "pose = ['POSX', 'POSY', 'POSZ', 'ROLL', 'PITCH', 'YAW']\n"
        "out += ['%s: %g' % (k, h[k]) for k in pose]\n"
        "out += ['MIN_RANGE: %d' % h['MIN_RANGE'], 'MAX_RANGE: %d' % h['MAX_RANGE']]\n"
        "keys = ['RCA', 'BCA', 'U0', 'V0', 'K1', 'K2', 'K3', 'P1', 'P2', 'P3', 'P4', 'RM'] + pose\n"
        "for lens in d['lenses']:\n"
        "    out += ['%s: %g' % (k, lens[k]) for k in keys]\n"
        "sys.stdout.write(''.join(line + '\\n' for line in out))\n";
    const ProcessResult expected = runProcess(systemPython(), {"-c", program},
                                              QJsonDocument(description).toJson());
    ASSERT_EQ(expected.exitCode, 0) << expected.err.toStdString();
    EXPECT_EQ(readFile(path("system.txt")), expected.out);
    EXPECT_EQ(readFile(path("system.txt")).count('\n'), 55);
    EXPECT_FALSE(model.saveTextFile(path("no-such-folder/system.txt")));
}
