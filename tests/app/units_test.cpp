#include "app/units.h"

#include "app/app_settings.h"

#include <gtest/gtest.h>

namespace {

class UnitSystem : public ::testing::Test {
protected:
    void TearDown() override { AppSettings::metricSystem = saved_; }
    bool saved_ = AppSettings::metricSystem;
};

} // namespace

TEST(AngleConversion, RadiansWithTheSignFlipped)
{
    EXPECT_DOUBLE_EQ(degreesToJsonAngle(90), -M_PI / 2);
    EXPECT_DOUBLE_EQ(jsonAngleToDegrees(degreesToJsonAngle(-33.5)), -33.5);
}

TEST_F(UnitSystem, FormattersFollowTheMetricSetting)
{
    AppSettings::metricSystem = true;
    EXPECT_EQ(formatMetersOrFeet(2540, true), QString("2.54 m"));
    EXPECT_EQ(formatMetersOrFeet(999, false), QString("100cm"));
    EXPECT_EQ(formatCentimetersOrInches(125, true), QString("12.5 cm"));
    AppSettings::metricSystem = false;
    EXPECT_EQ(formatMetersOrFeet(2540, true), QString("8'4\""));
    EXPECT_EQ(formatCentimetersOrInches(254, true), QString("10\""));
}

TEST_F(UnitSystem, ParseRoundsHalfAwayFromZero)
{
    AppSettings::metricSystem = true;
    const struct {
        const char* text;
        qint32 mm;
    } metric[] = {
        {"150", 1500}, {"0.25", 3}, {"-2.5mm", -3}, {"2.5mm", 3}, {"2,5 m", 2500}, {"5ft 3in", 1600},
        {"abc", 0},    {"", 0},
    };
    for (const auto& c : metric)
        EXPECT_EQ(parseLengthInUnits(QString::fromUtf8(c.text)), c.mm) << c.text;
    AppSettings::metricSystem = false;
    EXPECT_EQ(parseLengthInUnits("150"), 3810);
    EXPECT_EQ(parseLengthInUnits("0.5in"), 13);
}

TEST_F(UnitSystem, ValuesBeyondThirtyTwoBitsAreUnreadable)
{
    AppSettings::metricSystem = true;
    const struct {
        const char* text;
        qint32 mm;
    } cases[] = {
        {"2147483647 mm", 2147483647}, {"-2147483648 mm", -2147483647 - 1}, {"2147483648 mm", 0},
        {"-2147483649 mm", 0},          {"3000000 m", 0},                     {"1e300", 0},
        {"99999999999999999999999'", 0}, {"nan", 0},                           {"inf", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseLengthInUnits(QString::fromUtf8(c.text)), c.mm) << c.text;
}
