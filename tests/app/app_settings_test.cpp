#include "app/app_settings.h"

#include "project/constants.h"

#include <QSettings>

#include <gtest/gtest.h>

// Leaves the store empty and the settings at their defaults for other tests.
struct AppSettingsStore : ::testing::Test {
    void SetUp() override { QSettings().clear(); }
    void TearDown() override
    {
        QSettings().clear();
        AppSettings::load();
    }
};

TEST_F(AppSettingsStore, RoundTripUnderTheStoredKeysAndDefaultsForWhatIsUnreadable)
{
    AppSettings::metricSystem = false;
    AppSettings::exportSharpness = 3;
    AppSettings::autoPreset = "Indoor warm";
    AppSettings::initPanoOnExport = false;
    AppSettings::save();
    const QSettings store; // the keys older versions read
    EXPECT_EQ(store.value("metricSystem"), false);
    EXPECT_EQ(store.value("exportSharpness"), 3);
    EXPECT_EQ(store.value("autoPreset"), "Indoor warm");
    EXPECT_EQ(store.value("initPanoOnExport"), false);

    QSettings().setValue("exportSharpness", "sharp");
    QSettings().remove("autoPreset");
    AppSettings::metricSystem = true;
    AppSettings::initPanoOnExport = true;
    AppSettings::load();
    EXPECT_FALSE(AppSettings::metricSystem);
    EXPECT_FALSE(AppSettings::initPanoOnExport);
    EXPECT_EQ(AppSettings::exportSharpness, 0);
    EXPECT_EQ(AppSettings::autoPreset, "None");
}

TEST_F(AppSettingsStore, PlanFontsDerivedFromTheReferenceFont)
{
    planFontHuge = planFontLarge = planFontNormal = planFontSmall = QFont("Courier", 5);
    AppSettings::load();
    const std::pair<const QFont*, double> fonts[] = {
        {&planFontHuge, 118}, {&planFontLarge, 88.5}, {&planFontNormal, 59}, {&planFontSmall, 29.5}};
    for (const auto& [font, points] : fonts) {
        EXPECT_EQ(font->family(), referencePlanFont.family());
        EXPECT_DOUBLE_EQ(font->pointSizeF(), points);
    }
}
