#pragma once

#include <QString>

// The short HTML report shown after an export: per building a table of its floors' exterior wall
// thickness, then per building a table of its floors' tag counts. Names are shown in upper case.
class ExportSummary {
public:
    void beginBuilding(const QString& buildingName);
    // wallThicknessMm 0 stands for none given.
    void addFloor(const QString& floorName, int wallThicknessMm, int tagCount);
    void endBuilding();
    QString html() const;

private:
    QString m_wallSections;
    QString m_tagSections;
};
