#include "model/app_settings.h"

#include "model/constants.h"

#include <QSettings>

namespace {

const QString metricSystemKey = QStringLiteral("metricSystem");
const QString exportSharpnessKey = QStringLiteral("exportSharpness");
const QString autoPresetKey = QStringLiteral("autoPreset");
const QString initPanoOnExportKey = QStringLiteral("initPanoOnExport");

constexpr bool defaultMetricSystem = true;
constexpr int defaultExportSharpness = 0;
constexpr bool defaultInitPanoOnExport = true;

int intOrDefault(const QVariant& value, int fallback)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : fallback;
}

QFont planFontScaled(double factor)
{
    QFont font = referencePlanFont;
    font.setPointSizeF(referencePlanFont.pointSizeF() * factor);
    return font;
}

} // namespace

bool AppSettings::metricSystem = defaultMetricSystem;
int AppSettings::exportSharpness = defaultExportSharpness;
QString AppSettings::autoPreset = defaultAutoPreset;
bool AppSettings::initPanoOnExport = defaultInitPanoOnExport;
// After the reference font, which is built in an earlier round.
QFont AppSettings::planFontHuge = referencePlanFont;
QFont AppSettings::planFontLarge = referencePlanFont;
QFont AppSettings::planFontNormal = referencePlanFont;
QFont AppSettings::planFontSmall = referencePlanFont;

void AppSettings::load()
{
    derivePlanFonts();
    const QSettings settings;
    metricSystem = settings.value(metricSystemKey, defaultMetricSystem).toBool();
    exportSharpness = intOrDefault(settings.value(exportSharpnessKey, defaultExportSharpness),
                                   defaultExportSharpness);
    autoPreset = settings.value(autoPresetKey, defaultAutoPreset).toString();
    initPanoOnExport = settings.value(initPanoOnExportKey, defaultInitPanoOnExport).toBool();
}

void AppSettings::save()
{
    QSettings settings;
    settings.setValue(metricSystemKey, metricSystem);
    settings.setValue(exportSharpnessKey, exportSharpness);
    settings.setValue(autoPresetKey, autoPreset);
    settings.setValue(initPanoOnExportKey, initPanoOnExport);
}

void AppSettings::derivePlanFonts()
{
    planFontHuge = planFontScaled(1.0);
    planFontLarge = planFontScaled(0.75);
    planFontNormal = planFontScaled(0.5);
    planFontSmall = planFontScaled(0.25);
}
