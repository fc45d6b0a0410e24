#pragma once

#include <QList>
#include <QString>

class Panorama;

namespace testsupport {

// GoogleTest expectations that a floor's plans, written to these files, show exactly these scans
// (in any order) as tools no one here wrote read them: the DXF passes ezdxf's audit, is AutoCAD
// 2000 in millimetres and holds one POINT on "P" per outline point at its rounded scene position
// (y negated) and one 13-vertex marker on "PANOS" per scan; the SVG passes xmllint, has one group
// per scan whose square centres lie within 0.5 mm of that scan's DXF points (widened by what the
// SVG's rounded position and rotation move a point by), and rendered by
// rsvg-convert at one pixel per millimetre shows every outline point black.
void expectPlansShowScans(const QString& dxfPath, const QString& svgPath, const QList<Panorama*>& scans);

} // namespace testsupport
