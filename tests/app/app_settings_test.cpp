#include "app/app_settings.h"

#include "project/constants.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace {

class AppSettingsStore : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
    void TearDown() override
    {
        QSettings().clear();
        AppSettings::load(); // back to the defaults for other tests
    }
};

} // namespace

TEST_F(AppSettingsStore, DefaultsWhenNothingOrNothingReadableIsStored)
{
    QSettings().setValue("exportSharpness", "sharp");
    AppSettings::metricSystem = false;
    AppSettings::exportSharpness = 7;
    AppSettings::autoPreset = "Warm";
    AppSettings::initPanoOnExport = false;
    AppSettings::load();
    EXPECT_TRUE(AppSettings::metricSystem);
    EXPECT_EQ(AppSettings::exportSharpness, 0);
    EXPECT_EQ(AppSettings::autoPreset, defaultAutoPreset);
    EXPECT_EQ(AppSettings::autoPreset, QString("None"));
    EXPECT_TRUE(AppSettings::initPanoOnExport);
}

TEST_F(AppSettingsStore, RoundTripThroughTheStore)
{
    AppSettings::metricSystem = false;
    AppSettings::exportSharpness = 3;
    AppSettings::autoPreset = "Indoor warm";
    AppSettings::initPanoOnExport = false;
    AppSettings::save();

    AppSettings::metricSystem = true;
    AppSettings::exportSharpness = 0;
    AppSettings::autoPreset.clear();
    AppSettings::initPanoOnExport = true;
    AppSettings::load();
    EXPECT_FALSE(AppSettings::metricSystem);
    EXPECT_EQ(AppSettings::exportSharpness, 3);
    EXPECT_EQ(AppSettings::autoPreset, QString("Indoor warm"));
    EXPECT_FALSE(AppSettings::initPanoOnExport);

    const QSettings store; // the keys other tools and older versions read
    EXPECT_EQ(store.value("metricSystem").toBool(), false);
    EXPECT_EQ(store.value("exportSharpness").toInt(), 3);
    EXPECT_EQ(store.value("autoPreset").toString(), QString("Indoor warm"));
    EXPECT_EQ(store.value("initPanoOnExport").toBool(), false);
}

TEST_F(AppSettingsStore, PlanFontsDerivedFromTheReferenceFont)
{
    planFontHuge = planFontLarge = planFontNormal = planFontSmall = QFont("Courier", 5);
    AppSettings::load();
    const QFont* fonts[] = {&planFontHuge, &planFontLarge, &planFontNormal, &planFontSmall};
    const double expected[] = {118, 88.5, 59, 29.5};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(fonts[i]->family(), referencePlanFont.family());
        EXPECT_DOUBLE_EQ(fonts[i]->pointSizeF(), expected[i]);
    }
}
