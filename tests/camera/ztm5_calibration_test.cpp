#include "camera/cam_params_ztm5.h"
#include "camera/system_cfg_backup.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>

using namespace testsupport;
using Lens = CamParamsOneLens;

namespace {

class Ztm5Calibration : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QJsonObject make(const QString& name, const QStringList& options = {})
    {
        return makeSystemCfg(path(name), QStringList{"--model", "ztm5"} + options);
    }
    // The model's values against what the fixture script wrote, in both precisions.
    static void expectValues(const CamParamsZTM5& model, const QJsonObject& written)
    {
        EXPECT_EQ(model.systemSerial(), written["serial"].toString().toStdString());
        EXPECT_EQ(model.timestamp(), written["TIMESTAMP"].toInt());
        EXPECT_EQ(model.imageWidth(), written["IMGWIDTH"].toInt());
        EXPECT_EQ(model.imageHeight(), written["IMGHEIGHT"].toInt());
        const QJsonObject values = written["values"].toObject();
        for (int i = 0; i < Lens::LensTermCount; ++i) {
            EXPECT_EQ(model.lensTerm(Lens::LensTerm(i)), float(values[kLensKeys[i]].toDouble())) << kLensKeys[i];
            EXPECT_EQ(model.lensTermDouble(Lens::LensTerm(i)), values[kLensKeys[i]].toDouble()) << kLensKeys[i];
        }
        for (int i = Lens::LENS_FOV; i < Lens::CalibrationValueCount; ++i) {
            const double value = values[kCalibrationKeys[i]].toDouble();
            EXPECT_EQ(model.calibrationValue(Lens::CalibrationValue(i)), float(value)) << kCalibrationKeys[i];
            EXPECT_EQ(model.calibrationValueDouble(Lens::CalibrationValue(i)), value) << kCalibrationKeys[i];
        }
    }
    QTemporaryDir dir;
};
} // namespace

TEST_F(Ztm5Calibration, DefaultsAreTheCamerasOwnInBothPrecisions)
{
    const CamParamsZTM5 model;
    EXPECT_EQ(model.stamp(), 2128511u);
    EXPECT_EQ(model.imageWidth(), 3456);
    EXPECT_EQ(model.imageHeight(), 3456);
    EXPECT_EQ(model.systemSerial(), "");
    const double lens[] = {1300.0, 1728.0, 1728.0, 1.0, 4e-8, 0, 0, 0, 0, 0};
    for (int i = 0; i < Lens::LensTermCount; ++i) {
        EXPECT_EQ(model.lensTermDouble(Lens::LensTerm(i)), lens[i]) << kLensKeys[i];
        EXPECT_EQ(model.lensTerm(Lens::LensTerm(i)), float(lens[i])) << kLensKeys[i];
    }
    const double calibration[] = {0, 3.229, 1.00106, 1.000033, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < Lens::CalibrationValueCount; ++i) {
        EXPECT_EQ(model.calibrationValueDouble(Lens::CalibrationValue(i)), calibration[i]) << kCalibrationKeys[i];
        EXPECT_EQ(model.calibrationValue(Lens::CalibrationValue(i)), float(calibration[i])) << kCalibrationKeys[i];
    }
    EXPECT_EQ(model.modelName(), "ZTM5");
    EXPECT_EQ(model.laserOffset(), 101);
}

TEST_F(Ztm5Calibration, FixtureBlockLoadsEveryValueAndSavesTheSameBytes)
{
    const QJsonObject written = make("system.cfg", {"--set", "K3=-7.5e-22", "--set", "VC2=0.0125"});
    ASSERT_EQ(readFile(path("system.cfg")).size(), 134);
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    expectValues(model, written);
    EXPECT_EQ(model.calibrationValueDouble(Lens::COMPASS_OFFSET), 0.0) << "not stored: keeps its value";
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("system.cfg")));

    // Writes that cannot complete are failures, not a short file reported as saved.
    EXPECT_FALSE(model.saveSystemFile("/dev/full"));
    EXPECT_FALSE(model.saveSystemFile(path("no-such-folder/system.cfg")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.cfg"));
    EXPECT_FALSE(model.saveSystemFile(path("folder.cfg")));
}

TEST_F(Ztm5Calibration, SerialBytesAfterItsEndAreDroppedOnSaveAndAFullSerialIsKept)
{
    const QString junk = (QByteArray("MS77", 4) + QByteArray(1, '\0') + QByteArray("leftover-bytes-here"))
                             .leftJustified(24, 'z').toHex();
    make("junk.cfg", {"--raw-text", "serial=" + junk});
    make("clean.cfg", {"--serial", "MS77"});
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path("junk.cfg")));
    EXPECT_EQ(model.systemSerial(), "MS77");
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("clean.cfg")));

    make("full.cfg", {"--serial", "MS0123456789ABCDEFGHIJKL"});
    ASSERT_TRUE(model.loadSystemFile(path("full.cfg")));
    EXPECT_EQ(model.systemSerial(), "MS0123456789ABCDEFGHIJKL");
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("full.cfg")));
}

TEST_F(Ztm5Calibration, OlderStampLoadsWithoutCalibrationRotationAndSavesAsTheCurrentForm)
{
    // The fixture's spare values are all non-zero.
    const QJsonObject older = make("older.cfg", {"--stamp", "2128510", "--timestamp", "20190101"});
    QStringList zeroed{"--timestamp", "20190101"};
    for (int i = 0; i < 10; ++i)
        zeroed << "--set" << QString("VC%1=0").arg(i);
    make("current.cfg", zeroed);
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path("older.cfg")));
    EXPECT_EQ(model.stamp(), 2128511u);
    EXPECT_EQ(model.timestamp(), 20190101);
    EXPECT_EQ(model.lensTerm(Lens::F), float(older["values"].toObject()["F"].toDouble()));
    for (int i = Lens::VC0; i <= Lens::VC9; ++i) {
        EXPECT_EQ(model.calibrationValue(Lens::CalibrationValue(i)), 0.0f) << kCalibrationKeys[i];
        EXPECT_EQ(model.calibrationValueDouble(Lens::CalibrationValue(i)), 0.0) << kCalibrationKeys[i];
    }
    ASSERT_TRUE(model.saveSystemFile(path("saved.cfg")));
    EXPECT_EQ(readFile(path("saved.cfg")), readFile(path("current.cfg")));
    EXPECT_EQ(readFile(path("older.cfg")).left(4), QByteArray::fromHex("7e7a2000")) << "the file itself is not rewritten";
}

TEST_F(Ztm5Calibration, CalibrationRotationIsSavedWithABackupOfTheOldestFile)
{
    make("system.cfg");
    const QByteArray original = readFile(path("system.cfg"));
    make("expected.cfg", {"--set", "VC0=0.03125", "--set", "VC1=-0.0078125", "--set", "VC2=0.5"});
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    const double oldDouble = model.calibrationValueDouble(Lens::VC2);
    model.setCalibRotation(0.03125f, -0.0078125f, 0.5f);
    float vc0 = 0, vc1 = 0, vc2 = 0;
    model.calibRotation(vc0, vc1, vc2);
    EXPECT_EQ(vc0, 0.03125f);
    EXPECT_EQ(vc1, -0.0078125f);
    EXPECT_EQ(vc2, 0.5f);
    EXPECT_EQ(model.calibrationValueDouble(Lens::VC2), oldDouble) << "only the single-precision form changes";

    EXPECT_EQ(thrownMessage([&] { saveSystemCfgWithBackup(model, path("system.cfg")); }), "(nothing thrown)");
    EXPECT_EQ(readFile(path("system.orig")), original);
    EXPECT_EQ(readFile(path("system.cfg")), readFile(path("expected.cfg")));
    CamParamsZTM5 reread;
    ASSERT_TRUE(reread.loadSystemFile(path("system.cfg")));
    reread.calibRotation(vc0, vc1, vc2);
    EXPECT_EQ(vc2, 0.5f);
    // Nothing but the two files: the temporary was renamed into place.
    QDir listing(dir.path());
    EXPECT_EQ(listing.entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"expected.cfg", "system.cfg", "system.orig"}));
}

TEST_F(Ztm5Calibration, TextFormListsEveryStoredValueAndReadsBackTheSameCalibration)
{
    make("system.cfg", {"--set", "VC2=0.0125"});
    CamParamsZTM5 model, reread;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    ASSERT_TRUE(model.saveTextFile(path("system.txt")));
    const QList<QByteArray> lines = readFile(path("system.txt")).split('\n');
    ASSERT_EQ(lines.size(), 29) << "28 lines, each ended";
    EXPECT_EQ(lines[0], "2128511");
    EXPECT_EQ(lines[1], "MS2200417");
    EXPECT_EQ(lines[2], "20230611\t# TIMESTAMP");
    EXPECT_EQ(lines[4], "3456\t# IMGHEIGHT");
    EXPECT_EQ(lines[5], "1287.625\t# F");
    EXPECT_EQ(lines[9], "3.75e-08\t# K1");
    EXPECT_EQ(lines[15], "3.229\t# LENS_FOV");
    EXPECT_EQ(lines[20], "0.0125\t# VC2");
    EXPECT_EQ(lines[27], "0.01\t# VC9");

    ASSERT_TRUE(reread.loadTextFile(path("system.txt")));
    // Each float is written with the digits that read back as that very float (the block's
    // values are floats; their doubles are read from the shorter text).
    EXPECT_EQ(reread.systemSerial(), model.systemSerial());
    EXPECT_EQ(reread.timestamp(), model.timestamp());
    EXPECT_EQ(reread.imageWidth(), model.imageWidth());
    for (int i = 0; i < Lens::LensTermCount; ++i) {
        const auto term = Lens::LensTerm(i);
        EXPECT_NEAR(reread.lensTermDouble(term), model.lensTermDouble(term), 5e-7 * std::fabs(model.lensTermDouble(term)));
        EXPECT_EQ(reread.lensTerm(term), float(reread.lensTermDouble(term)));
        EXPECT_EQ(reread.lensTerm(term), model.lensTerm(term));
    }
    for (int i = Lens::LENS_FOV; i < Lens::CalibrationValueCount; ++i) {
        const auto value = Lens::CalibrationValue(i);
        EXPECT_EQ(reread.calibrationValue(value), model.calibrationValue(value));
    }
    // And once more through the text gives the very same text.
    ASSERT_TRUE(reread.saveTextFile(path("again.txt")));
    EXPECT_EQ(readFile(path("again.txt")), readFile(path("system.txt")));
    EXPECT_FALSE(model.saveTextFile("/dev/full")) << "a write that fails is no saved file";
}

TEST_F(Ztm5Calibration, TextReaderTakesLeadingNumbersAndTheOlderStampAndRefusesWhatIsBroken)
{
    make("system.cfg");
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    ASSERT_TRUE(model.saveTextFile(path("good.txt")));
    const QList<QByteArray> good = readFile(path("good.txt")).split('\n');
    auto variant = [&](const std::function<void(QList<QByteArray>&)>& change) {
        QList<QByteArray> lines = good;
        change(lines);
        writeFile(path("variant.txt"), lines.join('\n'));
        return path("variant.txt");
    };

    // Comments and blanks around the numbers do not matter; a serial line longer than the
    // field keeps its first 23 characters and does not shift the lines after it.
    CamParamsZTM5 reread;
    ASSERT_TRUE(reread.loadTextFile(variant([](QList<QByteArray>& l) {
        l[1] = "MS2200417-and-a-much-longer-tail";
        l[2] = "  +20240229 anything here";
        l[3] = "3456.0";
    })));
    EXPECT_EQ(reread.systemSerial(), "MS2200417-and-a-much-lo");
    EXPECT_EQ(reread.timestamp(), 20240229);
    EXPECT_EQ(reread.imageWidth(), 3456);

    ASSERT_TRUE(reread.loadTextFile(variant([](QList<QByteArray>& l) { l[0] = "2128510"; })));
    EXPECT_EQ(reread.stamp(), 2128511u);
    for (int i = Lens::VC0; i <= Lens::VC9; ++i)
        EXPECT_EQ(reread.calibrationValueDouble(Lens::CalibrationValue(i)), 0.0) << kCalibrationKeys[i];

    const QString fresh = calibrationState(CamParamsZTM5());
    const std::pair<const char*, std::function<void(QList<QByteArray>&)>> broken[] = {
        {"wrong stamp", [](QList<QByteArray>& l) { l[0] = "2128509"; }},
        {"last line missing", [](QList<QByteArray>& l) { l.resize(27); }},
        {"a value that is no number", [](QList<QByteArray>& l) { l[7] = "\t# V0"; }},
        {"a value that is not finite", [](QList<QByteArray>& l) { l[12] = "nan\t# P1"; }},
        {"a value beyond single precision", [](QList<QByteArray>& l) { l[13] = "1e40\t# P2"; }},
        {"an integer beyond 32 bits", [](QList<QByteArray>& l) { l[3] = "4294967296\t# IMGWIDTH"; }},
        {"empty", [](QList<QByteArray>& l) { l = {}; }},
    };
    for (const auto& [what, change] : broken) {
        SCOPED_TRACE(what);
        CamParamsZTM5 loaded;
        ASSERT_TRUE(loaded.loadSystemFile(path("system.cfg")));
        EXPECT_FALSE(loaded.loadTextFile(variant(change)));
        EXPECT_EQ(calibrationState(loaded), fresh);
    }
    // A file that cannot be opened changes nothing.
    EXPECT_FALSE(model.loadTextFile(path("missing.txt")));
    EXPECT_EQ(model.systemSerial(), "MS2200417");
}
