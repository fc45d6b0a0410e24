#pragma once

#include <QFont>
#include <QString>

// The application's own settings, process-wide, kept in QSettings under the organisation and
// application names. Loaded when the main window is built, written back when it is destroyed.
class AppSettings {
public:
    // Lengths shown and typed in metres/centimetres (else feet/inches). Default: on.
    static bool metricSystem;
    // Sharpening applied to the panos of an export. Default: 0.
    static int exportSharpness;
    // Colour preset applied when a scan is reloaded; "None" (defaultAutoPreset) by default.
    static QString autoPreset;
    // Ask for the initial scan before an export when the project has none. Default: on.
    static bool initPanoOnExport;
    // The fonts of the floor plans and their notes, from the largest to the smallest; copies of
    // the reference plan font until the settings load.
    static QFont planFontHuge;
    static QFont planFontLarge;
    static QFont planFontNormal;
    static QFont planFontSmall;

    // Reads the four values (a missing or unreadable value takes its default) and sizes the
    // plan fonts (planFontHuge ... planFontSmall) from the reference plan font.
    static void load();
    static void save();

    // Point sizes of the plan fonts relative to the reference font: 1, 3/4, 1/2 and 1/4, that is
    // 118, 88.5, 59 and 29.5 points for the reference size 118.
    static void derivePlanFonts();
};
