#include "export/export_summary.h"

#include "model/length_units.h"

#include <QCoreApplication>

namespace {

// Names come from the user and from project files: shown as text, never as markup.
QString shownName(const QString& name)
{
    return name.toUpper().toHtmlEscaped();
}

QString sectionStart(const QString& buildingName)
{
    return "<p>" + shownName(buildingName) + "</p><table>";
}

QString row(const QString& floorName, const QString& value)
{
    return "<tr><th> <th><th align=\"left\">" + shownName(floorName) + "</th><th>:<th><th align=\"left\">" + value
        + "</th></tr> ";
}

} // namespace

void ExportSummary::beginBuilding(const QString& buildingName)
{
    m_wallSections += sectionStart(buildingName);
    m_tagSections += sectionStart(buildingName);
}

void ExportSummary::addFloor(const QString& floorName, int wallThicknessMm, int tagCount)
{
    const QString thickness = wallThicknessMm == 0
        ? QCoreApplication::translate("Property", "not provided")
        : formatCentimetersOrInches(wallThicknessMm, true);
    m_wallSections += row(floorName, thickness);
    m_tagSections += row(floorName, QString::number(tagCount));
}

void ExportSummary::endBuilding()
{
    m_wallSections += "</table>";
    m_tagSections += "</table>";
}

QString ExportSummary::html() const
{
    return "<h3>EXTERIOR WALL THICKNESS SUMMARY</h3>" + m_wallSections + "<h3>TAGS SUMMARY</h3>" + m_tagSections;
}
