#include "export/dxf_writer.h"
#include "model/floor.h"
#include "model/panorama.h"

#include <QDomDocument>
#include <QIODevice>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace {
const QList<DxfLayer> kPlanLayers{{QStringLiteral("P"), 64, 9}, {QStringLiteral("PANOS"), 64, 10}};

// The scans the plans show, bottom first. Lidar map scans are a backdrop for placing scans, not
// part of the plan. The floor's scene keeps no item index, and without one Qt lists the items in
// the order they were added whatever order is asked for; so the z values are applied here, ties
// keeping the order of addition, which is Qt's own stacking rule for top-level items.
QList<Panorama*> planScansBottomFirst(const QGraphicsScene& scene)
{
    QList<Panorama*> scans;
    for (QGraphicsItem* item : scene.items(Qt::AscendingOrder)) {
        auto* pano = dynamic_cast<Panorama*>(item);
        if (pano && !pano->parentItem() && pano->panoType() != PanoType::Map)
            scans << pano;
    }
    std::stable_sort(scans.begin(), scans.end(),
                     [](const Panorama* a, const Panorama* b) { return a->zValue() < b->zValue(); });
    return scans;
}

QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1);
}
}

QByteArray Floor::exportDxf()
{
    const QRectF plan = drawingRect() | scanPositionsRect();

    QByteArray body;
    QTextStream bodyStream(&body, QIODevice::WriteOnly);
    DxfWriter writer(&bodyStream);
    writer.setExtents(plan);
    writer.beginSection(QStringLiteral("TABLES"));
    writer.writeTables(kPlanLayers);
    writer.endSection();
    writer.beginSection(QStringLiteral("BLOCKS"));
    writer.writeBlocks();
    writer.endSection();
    writer.beginSection(QStringLiteral("ENTITIES"));
    const QList<Panorama*> scans = planScansBottomFirst(*this);
    for (auto it = scans.crbegin(); it != scans.crend(); ++it) {
        const Panorama* pano = *it;
        const QTransform toScene = pano->sceneTransform();
        for (const QPoint& point : pano->outline()) {
            const QPointF scene = toScene.map(QPointF(point));
            writer.writePoint(QStringLiteral("P"), QPointF(std::round(scene.x()), std::round(scene.y())));
        }
        writer.writePolyline(QStringLiteral("PANOS"), toScene.map(pano->markerShape()), 0);
    }
    writer.endSection();
    writer.writeString(0, QStringLiteral("SECTION"));
    writer.writeString(2, QStringLiteral("OBJECTS"));
    writer.writeObjects();
    writer.writeString(0, QStringLiteral("ENDSEC"));
    writer.writeEof();
    bodyStream.flush();

    QByteArray header;
    QTextStream headerStream(&header, QIODevice::WriteOnly);
    DxfWriter headerWriter(&headerStream);
    headerWriter.beginHeader();
    const auto variable = [&](const QString& name, int code, const QString& value) {
        headerWriter.writeString(9, name);
        headerWriter.writeString(code, value);
    };
    variable(QStringLiteral("$ACADVER"), 1, QStringLiteral("AC1015"));
    variable(QStringLiteral("$MEASUREMENT"), 70, QStringLiteral("1"));
    variable(QStringLiteral("$INSUNITS"), 70, QStringLiteral("4"));
    headerWriter.writeExtents(plan);
    // Decimal digits, unlike the handles themselves: readers take it as a lower bound only.
    variable(QStringLiteral("$HANDSEED"), 5, QString::number(writer.lastHandle() + 4));
    headerWriter.endSection();
    headerStream.flush();

    return header + body;
}

QDomDocument Floor::exportSvg()
{
    const QRectF plan = drawingRect() | scanPositionsRect();

    QDomDocument document;
    QDomElement root = document.createElement(QStringLiteral("svg"));
    root.setAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    root.setAttribute(QStringLiteral("xmlns"), QStringLiteral("http://www.w3.org/2000/svg"));
    root.setAttribute(QStringLiteral("xmlns:xlink"), QStringLiteral("http://www.w3.org/1999/xlink"));
    root.setAttribute(QStringLiteral("viewBox"), oneDecimal(plan.x()) + " " + oneDecimal(plan.y()) + " "
                                                     + oneDecimal(plan.width()) + " " + oneDecimal(plan.height()));
    root.setAttribute(QStringLiteral("class"), QStringLiteral("floor"));
    root.setAttribute(QStringLiteral("id"), "floor" + QString::number(uniqueId()));
    document.appendChild(root);

    QDomElement style = document.createElement(QStringLiteral("style"));
    style.setAttribute(QStringLiteral("type"), QStringLiteral("text/css"));
    style.appendChild(document.createTextNode(
        QStringLiteral(".point{stroke:none; fill:black; shape-rendering:geometricPrecision}")));
    root.appendChild(style);

    QDomElement scans = document.createElement(QStringLiteral("g"));
    scans.setAttribute(QStringLiteral("id"), QStringLiteral("scan"));
    root.appendChild(scans);
    for (Panorama* pano : planScansBottomFirst(*this))
        scans.appendChild(pano->svgElement(document));
    return document;
}
