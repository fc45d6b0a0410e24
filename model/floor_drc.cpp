#include "model/floor.h"

#include "model/building.h"
#include "model/length_units.h"
#include "model/panorama.h"

#include <QLineF>

namespace {
// Below this a ceiling height is probably a typing mistake.
constexpr int kLowestUsualCeilingMm = 1000;
// The portal cannot tell apart shown scans that stand this close (or closer).
constexpr double kMinScanSpacingMm = 500;
constexpr double kCloseScanMarkRadiusMm = 250;
// A short video on spacing the scans of a tour.
const QLatin1String kScanSpacingHelpUrl("https://portal.example.invalid/help/videos/scan-spacing");
}

bool Floor::isPicturesFloor() const
{
    return m_name.startsWith(QLatin1String("Pictures"));
}

void Floor::checkDrcErrors()
{
    m_drcFindings.clear();
    if (isPicturesFloor())
        return;
    const QString subjectName = name();
    auto add = [&](const QString& message, const QPainterPath& highlight, int code) {
        m_drcFindings.append({this, subjectName, message, highlight, code});
    };

    if (m_name.toLower() == QLatin1String("garage") && m_building && m_building->isMainBuilding())
        add(tr("Garage floor is in the main building. Do you want to move it to a standalone building?"), {}, 1);
    if (m_gradeHint == 0)
        add(tr("Grade level not set. Set above/below grade level by clicking on the floor name."), {}, 0);
    if (m_ceilingHeight != 0 && m_ceilingHeight < kLowestUsualCeilingMm)
        add(tr("Ceiling Height is unusually small: ") + formatMetersOrFeet(m_ceilingHeight, true), {}, 1);

    QPainterPath tooClose;
    tooClose.setFillRule(Qt::WindingFill);
    bool anyValid = false;
    for (qsizetype i = 0; i < m_panos.size(); ++i) {
        const Panorama* first = m_panos[i];
        anyValid = anyValid || isBuildablePanoType(first->panoType());
        if (!first->isShown(true))
            continue;
        for (qsizetype j = i + 1; j < m_panos.size(); ++j) {
            const Panorama* second = m_panos[j];
            if (!second->isShown(true))
                continue;
            if (QLineF(first->scenePos(), second->scenePos()).length() <= kMinScanSpacingMm) {
                tooClose.addEllipse(first->scenePos(), kCloseScanMarkRadiusMm, kCloseScanMarkRadiusMm);
                tooClose.addEllipse(second->scenePos(), kCloseScanMarkRadiusMm, kCloseScanMarkRadiusMm);
            }
        }
    }
    if (!anyValid)
        add(tr("Floor has no valid scan. Remove it or fix it before exporting."), {}, 0);
    if (!tooClose.isEmpty())
        add(tr("Highlighted scans are closer than ") + formatCentimetersOrInches(kMinScanSpacingMm, true) + ". "
                + "<a href=\"" + kScanSpacingHelpUrl + "\">" + tr("Adjust position or disable all but one.") + "</a>",
            tooClose, 0);
}
