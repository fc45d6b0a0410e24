#include "model/app_settings.h"
#include "model/length_units.h"
#include <gtest/gtest.h>
#include <cmath>

namespace {

class UnitSystem : public ::testing::Test {
protected:
    void TearDown() override { AppSettings::metricSystem = saved; }
    bool saved = AppSettings::metricSystem;
};

} // namespace

TEST_F(UnitSystem, AnglesFormattersAndParserFollowTheSetting)
{
    EXPECT_DOUBLE_EQ(degreesToJsonAngle(90), -M_PI / 2);
    AppSettings::metricSystem = true;
    EXPECT_EQ(formatMetersOrFeet(2540, true), QString("2.54 m"));
    AppSettings::metricSystem = false;
    EXPECT_EQ(formatMetersOrFeet(2540, true), QString("8'4\""));
    EXPECT_EQ(formatCentimetersOrInches(254, true), QString("10\""));
    // Parsing rounds half away from zero and refuses what 32 bits cannot hold.
    const std::tuple<const char*, bool, qint32> cases[] = {
        {"150", true, 1500}, {"150", false, 3810}, {"0.25", true, 3}, {"-2.5mm", true, -3}, {"2.5mm", true, 3},
        {"0.5in", false, 13}, {"abc", true, 0}, {"2147483647 mm", true, 2147483647},
        {"-2147483648 mm", true, -2147483647 - 1}, {"2147483648 mm", true, 0}, {"-2147483649 mm", true, 0},
        {"3000000 m", true, 0}, {"1e300", true, 0}, {"99999999999999999999999'", true, 0}, {"nan", true, 0},
    };
    for (const auto& [text, metric, mm] : cases) {
        AppSettings::metricSystem = metric;
        EXPECT_EQ(parseLengthInUnits(text), mm) << text;
    }
}
