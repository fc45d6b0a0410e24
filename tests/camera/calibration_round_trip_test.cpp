// The one-lens calibration files and their text forms read back as what the program wrote: a
// block written as text and read again is the same calibration, to the last bit of every float,
// and a text read, written and read again holds the same values in both precisions.
#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace testsupport;
using Lens = CamParamsOneLens;

namespace {


// Floats that need all nine digits, the largest and smallest (also subnormal), negative zero.
const char* const kFullFloats[] = {"1424.37170",     "1.00000012",     "-2.71828175e-14", "3.40282347e+38",
                                   "-3.40282347e+38", "1.17549435e-38", "1.40129846e-45",  "-0",
                                   "16777215",       "0.100000001",    "7.00649232e-45",  "123456792",
                                   "-0.000123456791"};
constexpr int kFlavours = int(std::size(kFullFloats));

QString bits(float value)
{
    uint32_t word = 0;
    std::memcpy(&word, &value, sizeof word);
    return QString::number(word, 16);
}

// The values the lens model computes with: the integers, the serial and every float form, bit
// for bit (negative zero is not zero).
QString singleForms(const Lens& model)
{
    QString text = QString::fromStdString(model.systemSerial()) + QStringLiteral(" %1 %2 %3 %4 %5")
                                                                       .arg(model.stamp())
                                                                       .arg(model.timestamp())
                                                                       .arg(model.imageWidth())
                                                                       .arg(model.imageHeight())
                                                                       .arg(model.laserCount());
    for (int i = 0; i < Lens::LensTermCount; ++i)
        text += " " + bits(model.lensTerm(Lens::LensTerm(i)));
    for (int i = 0; i < Lens::CalibrationValueCount; ++i)
        text += " " + bits(model.calibrationValue(Lens::CalibrationValue(i)));
    if (const auto* ztm4 = dynamic_cast<const CamParamsZTM4*>(&model)) {
        for (int i = 0; i < 7; ++i)
            text += " " + QString::number(ztm4->centroidSetting(i));
        for (const auto& laser : ztm4->lasers())
            for (float value : laser)
                text += " " + bits(value);
    }
    return text;
}

// Both precisions of everything.
QString everything(const Lens& model)
{
    QString text = singleForms(model) + " " + calibrationState(model);
    if (const auto* ztm4 = dynamic_cast<const CamParamsZTM4*>(&model))
        for (const auto& laser : ztm4->lasersDouble())
            for (double value : laser)
                text += " " + QString::number(value, 'g', 17);
    return text;
}

struct Form {
    const char* model;
    std::function<std::unique_ptr<Lens>()> make;
    int firstValueLine; // the text form's first line after the stamp, serial and integers
};

const Form kForms[] = {
    {"ztm4", [] { return std::unique_ptr<Lens>(new CamParamsZTM4); }, 13},
    {"ztm5", [] { return std::unique_ptr<Lens>(new CamParamsZTM5); }, 5},
};

} // namespace

// 1.00000012 was written as "1" and read back as 1.0: the calibration written as text was another.
TEST(CalibrationRoundTrip, BlocksWrittenAsTextReadBackAsTheSameBlockToTheLastBit)
{
    QTemporaryDir dir;
    for (const Form& form : kForms) {
        for (int shift = 0; shift < kFlavours; ++shift) {
            SCOPED_TRACE(QStringLiteral("%1, shift %2").arg(form.model).arg(shift).toStdString());
            // Every stored float gets a flavour of its own; across the shifts every one gets each.
            QStringList options{"--model", form.model};
            int key = shift;
            const auto set = [&](const QString& name) { options << "--set" << name + "=" + kFullFloats[key++ % kFlavours]; };
            for (const char* name : kLensKeys)
                set(name);
            const bool ztm4 = QLatin1String(form.model) == QLatin1String("ztm4");
            for (const char* name : kCalibrationKeys)
                if (ztm4 || QLatin1String(name) != QLatin1String("COMPASS_OFFSET")) // not in the block
                    set(name);
            if (ztm4) {
                options << "--lasers" << "2";
                for (int laser = 1; laser <= 2; ++laser)
                    for (const char* name : kLaserKeys)
                        set(QStringLiteral("laser%1.%2").arg(laser).arg(name));
            }
            const QString block = dir.filePath("system.cfg");
            makeSystemCfg(block, options);
            const std::unique_ptr<Lens> read = form.make();
            ASSERT_TRUE(read->loadSystemFile(block));
            ASSERT_TRUE(read->saveTextFile(dir.filePath("system.txt")));
            const std::unique_ptr<Lens> fromText = form.make();
            ASSERT_TRUE(fromText->loadTextFile(dir.filePath("system.txt")));
            EXPECT_EQ(singleForms(*fromText), singleForms(*read));
            ASSERT_TRUE(fromText->saveSystemFile(dir.filePath("again.cfg")));
            EXPECT_EQ(readFile(dir.filePath("again.cfg")), readFile(block)) << "byte for byte";
        }
    }
}

// Any value a text reader takes, in any value line: written and read again, the same calibration.
TEST(CalibrationRoundTrip, TextsReadAndWrittenReadBackTheSameCalibration)
{
    const char* const hostile[] = {"1.0000000001", "3.40282356e38", "-3.4028234e38", "1e-45", "-0", "1e-320",
                                   "123456789",    "0.1",           "  +2.5e-3",     "16777217", "1.00000006"};
    QTemporaryDir dir;
    for (const Form& form : kForms) {
        makeSystemCfg(dir.filePath("system.cfg"), {"--model", form.model, "--lasers", "2"});
        const std::unique_ptr<Lens> original = form.make();
        ASSERT_TRUE(original->loadSystemFile(dir.filePath("system.cfg")));
        ASSERT_TRUE(original->saveTextFile(dir.filePath("original.txt")));
        const QList<QByteArray> lines = readFile(dir.filePath("original.txt")).split('\n');
        for (qsizetype line = form.firstValueLine; line + 1 < lines.size(); ++line) {
            for (const char* number : hostile) {
                SCOPED_TRACE(QStringLiteral("%1, line %2: %3").arg(form.model).arg(line).arg(number).toStdString());
                QList<QByteArray> changed = lines;
                changed[line] = number + lines[line].mid(lines[line].indexOf('\t'));
                writeFile(dir.filePath("hostile.txt"), changed.join('\n'));
                const std::unique_ptr<Lens> first = form.make(), second = form.make(), third = form.make();
                ASSERT_TRUE(first->loadTextFile(dir.filePath("hostile.txt")));
                ASSERT_TRUE(first->saveTextFile(dir.filePath("first.txt")));
                ASSERT_TRUE(second->loadTextFile(dir.filePath("first.txt")));
                ASSERT_EQ(singleForms(*second), singleForms(*first)) << "what the lens model computes with";
                ASSERT_TRUE(second->saveTextFile(dir.filePath("second.txt")));
                ASSERT_TRUE(third->loadTextFile(dir.filePath("second.txt")));
                ASSERT_EQ(everything(*third), everything(*second));
                ASSERT_EQ(readFile(dir.filePath("second.txt")), readFile(dir.filePath("first.txt")));
            }
        }
    }
}
