#include "model/constants.h"

// Other files' static objects copy these (the settings' preset name starts as defaultAutoPreset),
// so they are built in an earlier initialisation round than the default one.
#if defined(__GNUC__)
#define BUILT_FIRST __attribute__((init_priority(1000)))
#else
#define BUILT_FIRST
#endif

namespace {

QPen cosmeticPen(const QColor& color)
{
    return QPen(QBrush(color), 0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

} // namespace

const QString projectFileName BUILT_FIRST = QStringLiteral("quoril.qjs");
const QString exportProjectFileName BUILT_FIRST = QStringLiteral("quoril_exp.qjs");
const QString draftProjectFileName BUILT_FIRST = QStringLiteral("draft.djs");
const QString logFileName BUILT_FIRST = QStringLiteral("quorillog.txt");
const QString snapshotsFolderName BUILT_FIRST = QStringLiteral("_Snapshots");
const QString exportFolderName BUILT_FIRST = QStringLiteral("_Export");
const QString uploadFolderName BUILT_FIRST = QStringLiteral("_Upload");
const QString assetsFolderName BUILT_FIRST = QStringLiteral("_Assets");

const QStringList reservedFolderNames BUILT_FIRST = {snapshotsFolderName, exportFolderName, uploadFolderName,
                                                     assetsFolderName};

std::optional<int> floorNameOrderFromTable(const QString& floorName)
{
    const QString lowered = floorName.toLower();
    for (const FloorNameOrder& row : floorNameOrderTable) {
        if (lowered.startsWith(row.prefix))
            return row.order;
    }
    return std::nullopt;
}

const QFont referencePlanFont BUILT_FIRST = QFont(QStringLiteral("Arial"), 118);
const QColor editorBackgroundColor BUILT_FIRST = QColor(Qt::black);
const QPen guideLinePen BUILT_FIRST = cosmeticPen(QColor(200, 200, 100, 255));
const QPen referenceLinePen BUILT_FIRST = cosmeticPen(QColor(255, 0, 0, 255));
const QPen selectedReferenceLinePen BUILT_FIRST = cosmeticPen(QColor(250, 214, 36, 150));
const QRectF sceneBounds BUILT_FIRST = QRectF(QPointF(-10000, -10000), QPointF(10000, 10000));

const QString defaultAutoPreset BUILT_FIRST = QStringLiteral("None");
