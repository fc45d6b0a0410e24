#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"

#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace testsupport;

namespace {
const char* const kLensKeys[] = {"F", "U0", "V0", "RY", "K1", "K2", "K3", "P1", "P2", "P3"};
const char* const kCalibrationKeys[] = {"COMPASS_OFFSET", "LENS_FOV", "RCA", "BCA", "VC0", "VC1", "VC2",
                                        "VC3", "VC4", "VC5", "VC6", "VC7", "VC8", "VC9"};
const char* const kLaserKeys[] = {"PN", "NX", "NY", "NZ", "A0", "A1", "A2", "A3", "A4", "A5", "UMIN", "UMAX"};

// Every field a one-lens block holds: both precisions agree, and the loaded values are the file's.
void expectOneLensValues(const CamParamsOneLens& model, const QJsonObject& description, int firstCalibration,
                         int endCalibration = CamParamsOneLens::CalibrationValueCount)
{
    EXPECT_EQ(model.systemSerial(), description["serial"].toString().toStdString());
    const QJsonObject values = description["values"].toObject();
    for (int i = 0; i < CamParamsOneLens::LensTermCount; ++i) {
        const auto term = CamParamsOneLens::LensTerm(i);
        EXPECT_EQ(model.lensTerm(term), float(values[kLensKeys[i]].toDouble())) << kLensKeys[i];
        EXPECT_EQ(model.lensTermDouble(term), double(model.lensTerm(term))) << kLensKeys[i];
    }
    for (int i = firstCalibration; i < endCalibration; ++i) {
        const auto value = CamParamsOneLens::CalibrationValue(i);
        EXPECT_EQ(model.calibrationValue(value), float(values[kCalibrationKeys[i]].toDouble())) << kCalibrationKeys[i];
        EXPECT_EQ(model.calibrationValueDouble(value), double(model.calibrationValue(value))) << kCalibrationKeys[i];
    }
}

// What a refused load must leave: the state of a model that never read anything.
template <typename Model>
void expectDefaults(const Model& model)
{
    const Model fresh;
    EXPECT_EQ(model.stamp(), fresh.stamp());
    EXPECT_EQ(model.systemSerial(), "");
    EXPECT_EQ(model.timestamp(), fresh.timestamp());
    EXPECT_EQ(model.imageWidth(), fresh.imageWidth());
    EXPECT_EQ(model.imageHeight(), fresh.imageHeight());
    EXPECT_EQ(model.laserCount(), 0);
    for (int i = 0; i < CamParamsOneLens::LensTermCount; ++i) {
        EXPECT_EQ(model.lensTerm(CamParamsOneLens::LensTerm(i)), fresh.lensTerm(CamParamsOneLens::LensTerm(i)));
        EXPECT_EQ(model.lensTermDouble(CamParamsOneLens::LensTerm(i)),
                  fresh.lensTermDouble(CamParamsOneLens::LensTerm(i)));
    }
    for (int i = 0; i < CamParamsOneLens::CalibrationValueCount; ++i)
        EXPECT_EQ(model.calibrationValue(CamParamsOneLens::CalibrationValue(i)),
                  fresh.calibrationValue(CamParamsOneLens::CalibrationValue(i)));
}

class CalibrationLoaders : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QJsonObject make(const QString& name, const QStringList& options) { return makeSystemCfg(path(name), options); }
    QTemporaryDir dir;
};
} // namespace

TEST_F(CalibrationLoaders, EachModelTakesOnlyItsOwnFile)
{
    make("ztm6.cfg", {"--model", "ztm6"});
    make("ztm6-one-lens.cfg", {"--model", "ztm6", "--lens-count", "1"});
    make("ztm5.cfg", {"--model", "ztm5"});
    make("ztm5-older.cfg", {"--model", "ztm5", "--stamp", "2128510"});
    make("ztm4.cfg", {"--model", "ztm4"});
    make("ztm4-no-lasers.cfg", {"--model", "ztm4", "--lasers", "0"});
    const QStringList files = {"ztm6.cfg", "ztm6-one-lens.cfg", "ztm5.cfg", "ztm5-older.cfg", "ztm4.cfg",
                               "ztm4-no-lasers.cfg"};
    const std::function<std::unique_ptr<CamParams>()> models[] = {
        [] { return std::make_unique<CamParamsZTM6>(); },
        [] { return std::make_unique<CamParamsZTM5>(); },
        [] { return std::make_unique<CamParamsZTM4>(); },
    };
    const char* const owners[] = {"ztm6", "ztm5", "ztm4"};
    for (int m = 0; m < 3; ++m) {
        for (const QString& file : files) {
            SCOPED_TRACE((owners[m] + (" reading " + file)).toStdString());
            std::unique_ptr<CamParams> model = models[m]();
            EXPECT_EQ(model->loadSystemFile(path(file)), file.startsWith(owners[m]));
        }
    }
}

TEST_F(CalibrationLoaders, RefusedFilesLeaveTheOneLensModelsAtTheirDefaults)
{
    make("ztm6.cfg", {"--model", "ztm6"});
    make("ztm5.cfg", {"--model", "ztm5"});
    make("ztm4.cfg", {"--model", "ztm4"});
    CamParamsZTM5 ztm5;
    ASSERT_TRUE(ztm5.loadSystemFile(path("ztm5.cfg")));
    EXPECT_FALSE(ztm5.loadSystemFile(path("ztm4.cfg")));
    expectDefaults(ztm5);
    CamParamsZTM4 ztm4;
    ASSERT_TRUE(ztm4.loadSystemFile(path("ztm4.cfg")));
    EXPECT_FALSE(ztm4.loadSystemFile(path("ztm6.cfg")));
    expectDefaults(ztm4);
}

TEST_F(CalibrationLoaders, Ztm5BlockValues)
{
    const QJsonObject description = make("system.cfg", {"--model", "ztm5", "--set", "VC1=-0.03125", "--timestamp",
                                                        "20221231", "--width", "3400", "--height", "3300"});
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    expectOneLensValues(model, description, CamParamsOneLens::LENS_FOV);
    EXPECT_EQ(model.calibrationValue(CamParamsOneLens::COMPASS_OFFSET), 0.0f);
    EXPECT_EQ(model.timestamp(), 20221231);
    EXPECT_EQ(model.imageWidth(), 3400);
    EXPECT_EQ(model.imageHeight(), 3300);
    EXPECT_EQ(model.stamp(), CamParamsZTM5::kStamp);
    EXPECT_EQ(model.modelName(), "ZTM5");
    float vc0, vc1, vc2;
    model.calibRotation(vc0, vc1, vc2);
    EXPECT_EQ(vc1, -0.03125f);
}

TEST_F(CalibrationLoaders, Ztm5OlderBlockHasNoCalibrationRotation)
{
    const QJsonObject description = make("system.cfg", {"--model", "ztm5", "--stamp", "2128510"});
    CamParamsZTM5 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    EXPECT_EQ(model.stamp(), CamParamsZTM5::kStamp);
    expectOneLensValues(model, description, CamParamsOneLens::LENS_FOV, CamParamsOneLens::VC0);
    ASSERT_NE(description["values"].toObject()["VC0"].toDouble(), 0.0);
    for (int i = CamParamsOneLens::VC0; i <= CamParamsOneLens::VC9; ++i) {
        EXPECT_EQ(model.calibrationValue(CamParamsOneLens::CalibrationValue(i)), 0.0f);
        EXPECT_EQ(model.calibrationValueDouble(CamParamsOneLens::CalibrationValue(i)), 0.0);
    }
}

TEST_F(CalibrationLoaders, Ztm5RefusesDamagedBlocks)
{
    const QStringList damages[] = {
        {"--truncate", "1"}, {"--append", "00"}, {"--flip-bit", "300"}, {"--swap-trailer"}, {"--stamp", "2128512"},
        {"--stamp", "2128509"}, {"--truncate", "100"},
    };
    for (const QStringList& damage : damages) {
        SCOPED_TRACE(damage.join(' ').toStdString());
        make("good.cfg", {"--model", "ztm5"});
        make("bad.cfg", QStringList{"--model", "ztm5"} + damage);
        CamParamsZTM5 model;
        ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
        EXPECT_FALSE(model.loadSystemFile(path("bad.cfg")));
        expectDefaults(model);
    }
}

TEST_F(CalibrationLoaders, Ztm4BlockValuesAndLaserTable)
{
    const QJsonObject description = make("system.cfg", {"--model", "ztm4", "--lasers", "2", "--set",
                                                        "laser2.UMAX=3999.5", "--set", "CENT_MAXSIDEPIX=11"});
    CamParamsZTM4 model;
    ASSERT_TRUE(model.loadSystemFile(path("system.cfg")));
    expectOneLensValues(model, description, CamParamsOneLens::COMPASS_OFFSET);
    const QJsonObject integers = description["integers"].toObject();
    EXPECT_EQ(model.timestamp(), integers["TIMESTAMP"].toInt());
    EXPECT_EQ(model.imageWidth(), integers["IMGWIDTH"].toInt());
    EXPECT_EQ(model.imageHeight(), integers["IMGHEIGHT"].toInt());
    const char* const settings[] = {"CENT_COLOR", "CENT_THRESHOLD", "CENT_MINPEAK", "CENT_MAXPEAK",
                                    "CENT_MINSIDEPIX", "CENT_MAXSIDEPIX", "COMPASS_FACTOR"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(model.centroidSetting(i), integers[settings[i]].toInt()) << settings[i];
    const QJsonArray lasers = description["lasers"].toArray();
    ASSERT_EQ(model.laserCount(), 2);
    ASSERT_EQ(model.lasers().size(), 2u);
    for (int laser = 0; laser < 2; ++laser) {
        for (int k = 0; k < CamParamsZTM4::kLaserValueCount; ++k) {
            const float expected = float(lasers[laser].toObject()[kLaserKeys[k]].toDouble());
            EXPECT_EQ(model.lasers()[size_t(laser)][size_t(k)], expected) << laser << kLaserKeys[k];
            EXPECT_EQ(model.lasersDouble()[size_t(laser)][size_t(k)], double(expected));
        }
    }
    EXPECT_EQ(model.lasers()[1][11], 3999.5f);
    EXPECT_EQ(model.modelName(), "ZTM4");
}

TEST_F(CalibrationLoaders, Ztm4RefusesDamagedBlocksAndImpossibleLaserCounts)
{
    const QStringList damages[] = {
        {"--truncate", "1"}, {"--flip-bit", "900"}, {"--swap-trailer"}, {"--stamp", "2128508"},
        {"--lasers", "0", "--set", "NUM_LASERS=-1"}, {"--lasers", "1", "--set", "NUM_LASERS=2"},
        {"--lasers", "0", "--set", "NUM_LASERS=0x7fffffff"}, {"--truncate", "250"},
    };
    for (const QStringList& damage : damages) {
        SCOPED_TRACE(damage.join(' ').toStdString());
        make("good.cfg", {"--model", "ztm4"});
        make("bad.cfg", QStringList{"--model", "ztm4"} + damage);
        CamParamsZTM4 model;
        ASSERT_TRUE(model.loadSystemFile(path("good.cfg")));
        EXPECT_FALSE(model.loadSystemFile(path("bad.cfg")));
        expectDefaults(model);
        EXPECT_TRUE(model.lasers().empty());
    }
}
