#pragma once

#include <QColor>
#include <QFont>
#include <QLatin1StringView>
#include <QPen>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// Process-wide objects built before main (ahead of every other static object of the program, in
// the order they are declared here) and destroyed after it returns.

// Names inside a project folder.
extern const QString projectFileName;        // "~" + it is the autosave copy, "~~" + it the temporary
extern const QString exportProjectFileName;  // the project file inside an export archive
extern const QString draftProjectFileName;   // read only
extern const QString logFileName;
extern const QString snapshotsFolderName;
extern const QString exportFolderName;
extern const QString uploadFolderName;
extern const QString assetsFolderName;

// Sub-folders never taken for floor folders (compared with case).
extern const QStringList reservedFolderNames;

// Floors sort by the first row whose prefix begins their lower-cased name.
struct FloorNameOrder {
    QLatin1StringView prefix;
    int order;
};
inline constexpr std::array<FloorNameOrder, 27> floorNameOrderTable{{
    {QLatin1StringView("entry"), 0},
    {QLatin1StringView("ground"), 1},
    {QLatin1StringView("main"), 2},
    {QLatin1StringView("1st"), 3},
    {QLatin1StringView("2nd"), 4},
    {QLatin1StringView("3rd"), 5},
    {QLatin1StringView("4th"), 6},
    {QLatin1StringView("5th"), 7},
    {QLatin1StringView("6th"), 8},
    {QLatin1StringView("7th"), 9},
    {QLatin1StringView("8th"), 10},
    {QLatin1StringView("9th"), 11},
    {QLatin1StringView("10th"), 12},
    {QLatin1StringView("11th"), 13},
    {QLatin1StringView("12th"), 14},
    {QLatin1StringView("13th"), 15},
    {QLatin1StringView("loft"), 50},
    {QLatin1StringView("attic"), 100},
    {QLatin1StringView("rooftop"), 500},
    {QLatin1StringView("terrace"), 501},
    {QLatin1StringView("lower f"), 2000},
    {QLatin1StringView("lower l"), 2000},
    {QLatin1StringView("basement"), 2001},
    {QLatin1StringView("lower b"), 2002},
    {QLatin1StringView("garage"), 2050},
    {QLatin1StringView("outside"), 2100},
    {QLatin1StringView("common areas"), 3000},
}};

// The order of the first table row matching floorName, or nothing when no row matches.
std::optional<int> floorNameOrderFromTable(const QString& floorName);

// Plan and editor drawing. The application settings size the plan fonts from the reference font.
extern const QFont referencePlanFont;
extern const QColor editorBackgroundColor;
extern const QPen guideLinePen;
extern const QPen referenceLinePen;
extern const QPen selectedReferenceLinePen;
// Search window, centred on the cursor, for the scan under it.
extern const QRectF sceneBounds;

extern const QString defaultAutoPreset;
