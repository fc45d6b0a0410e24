#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

// Floor plans as tools no one here wrote see them: the DXF through python3-ezdxf, the SVG through
// Python's XML parser, xmllint and rsvg-convert. Each reader reports a failure text (empty on
// success) instead of asserting, so that callers decide how a missing tool counts.
namespace testsupport {

struct DxfPlanReport {
    QString failure;
    QStringList auditErrors;
    QString acadVersion;
    int insUnits = -1;
    QList<QPointF> points;      // POINT entities on layer "P", in file order, as written (y up)
    QList<int> markerVertices;  // vertex count of each LWPOLYLINE on layer "PANOS", in file order
    QList<QPointF> markerCentres; // centre of each such polyline's vertices, same order
};
DxfPlanReport readDxfPlan(const QString& path);

struct SvgPlanReport {
    QString failure;
    QRectF viewBox;
    // Per scan group ("scan" + id) in document order: the centres of its squares in plan
    // coordinates, the group's transform applied (y down, as in the document).
    QStringList groupIds;
    QList<QList<QPointF>> squareCentres;
};
SvgPlanReport readSvgPlan(const QString& path);

// xmllint --noout; the tool's complaint, or empty when the document is well-formed.
QString xmllintComplaint(const QString& path);

// rsvg-convert at the document's own size (one pixel per user unit); a null image on failure,
// with the reason in `failure`.
QImage renderSvg(const QString& path, QString* failure);

} // namespace testsupport
