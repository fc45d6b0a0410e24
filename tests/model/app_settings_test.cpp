#include "model/app_settings.h"
#include "model/constants.h"

#include <QSettings>
#include <gtest/gtest.h>

TEST(AppSettings, RoundTripUnderTheStoredKeysDefaultsForWhatIsUnreadableAndPlanFontsFromTheReference)
{
    QSettings().clear();
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
    AppSettings::metricSystem = AppSettings::initPanoOnExport = true;
    AppSettings::planFontHuge = AppSettings::planFontLarge = AppSettings::planFontNormal = AppSettings::planFontSmall = QFont("Courier", 5);
    AppSettings::load();
    EXPECT_FALSE(AppSettings::metricSystem || AppSettings::initPanoOnExport);
    EXPECT_EQ(AppSettings::exportSharpness, 0);
    EXPECT_EQ(AppSettings::autoPreset, "None");
    for (const auto& [font, points] : {std::pair{&AppSettings::planFontHuge, 118.0}, {&AppSettings::planFontLarge, 88.5}, {&AppSettings::planFontNormal, 59.0},
                                       {&AppSettings::planFontSmall, 29.5}}) {
        EXPECT_EQ(font->family(), referencePlanFont.family());
        EXPECT_EQ(font->pointSizeF(), points);
    }
    QSettings().clear();
    AppSettings::load(); // the defaults again for other tests
}
