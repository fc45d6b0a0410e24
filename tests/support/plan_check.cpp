#include "support/plan_check.h"

#include "support/test_support.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace testsupport {

namespace {
QPointF pointOf(const QJsonValue& value)
{
    const QJsonArray xy = value.toArray();
    return {xy.at(0).toDouble(), xy.at(1).toDouble()};
}

// Runs a Python script on a file and returns its JSON report, or a failure text.
QJsonObject pythonReport(const char* script, const QString& path, QString& failure)
{
    const ProcessResult r = runProcess(systemPython(), {"-c", QString::fromLatin1(script), path});
    if (!r.started || r.exitCode != 0) {
        failure = QStringLiteral("python failed: ") + QString::fromUtf8(r.err);
        return {};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(r.out, &error);
    if (!document.isObject())
        failure = QStringLiteral("unreadable report: ") + error.errorString();
    return document.object();
}

const char* const kDxfScript = R"(
import json, sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
msp = doc.modelspace()
markers = []
for p in msp.query('LWPOLYLINE[layer=="PANOS"]'):
    xy = [(v[0], v[1]) for v in p.get_points()]
    markers.append([len(xy), sum(v[0] for v in xy) / len(xy), sum(v[1] for v in xy) / len(xy)])
print(json.dumps({
    "errors": [str(e.message) for e in auditor.errors],
    "acadver": doc.header.get("$ACADVER"),
    "insunits": doc.header.get("$INSUNITS"),
    "points": [[p.dxf.location.x, p.dxf.location.y] for p in msp.query('POINT[layer=="P"]')],
    "markers": markers,
}))
)";

// SVG semantics written out independently of Qt: "translate(tx, ty) rotate(a)" maps a point p
// to t + R(a) p, R turning clockwise on the y-down canvas; "M x y v6h6v-6z" is a 6 x 6 square
// whose centre is (x + 3, y + 3).
const char* const kSvgScript = R"(
import json, math, re, sys
import xml.etree.ElementTree as ET
ns = {"s": "http://www.w3.org/2000/svg"}
root = ET.parse(sys.argv[1]).getroot()
box = [float(v) for v in root.get("viewBox").split()]
groups = []
scans = root.find("s:g[@id='scan']", ns)
for g in scans.findall("s:g", ns):
    m = re.fullmatch(r"translate\(([-\d.]+),\s+([-\d.]+)\) rotate\(([-\d.]+)\) ", g.get("transform"))
    tx, ty, a = float(m.group(1)), float(m.group(2)), math.radians(float(m.group(3)))
    d = g.find("s:path", ns).get("d")
    squares = re.findall(r"M(-?\d+) (-?\d+)v6h6v-6z", d)
    assert "".join("M%s %sv6h6v-6z" % s for s in squares) == d, d
    centres = []
    for sx, sy in squares:
        x, y = int(sx) + 3, int(sy) + 3
        centres.append([tx + x * math.cos(a) - y * math.sin(a), ty + x * math.sin(a) + y * math.cos(a)])
    groups.append([g.get("id"), centres])
print(json.dumps({"viewBox": box, "groups": groups}))
)";
}

DxfPlanReport readDxfPlan(const QString& path)
{
    DxfPlanReport report;
    const QJsonObject json = pythonReport(kDxfScript, path, report.failure);
    for (const QJsonValue& error : json["errors"].toArray())
        report.auditErrors << error.toString();
    report.acadVersion = json["acadver"].toString();
    report.insUnits = json["insunits"].toInt(-1);
    for (const QJsonValue& point : json["points"].toArray())
        report.points << pointOf(point);
    for (const QJsonValue& marker : json["markers"].toArray()) {
        const QJsonArray values = marker.toArray();
        report.markerVertices << values.at(0).toInt();
        report.markerCentres << QPointF(values.at(1).toDouble(), values.at(2).toDouble());
    }
    return report;
}

SvgPlanReport readSvgPlan(const QString& path)
{
    SvgPlanReport report;
    const QJsonObject json = pythonReport(kSvgScript, path, report.failure);
    const QJsonArray box = json["viewBox"].toArray();
    report.viewBox = QRectF(box.at(0).toDouble(), box.at(1).toDouble(), box.at(2).toDouble(), box.at(3).toDouble());
    for (const QJsonValue& group : json["groups"].toArray()) {
        const QJsonArray values = group.toArray();
        report.groupIds << values.at(0).toString();
        QList<QPointF> centres;
        for (const QJsonValue& centre : values.at(1).toArray())
            centres << pointOf(centre);
        report.squareCentres << centres;
    }
    return report;
}

QString xmllintComplaint(const QString& path)
{
    const ProcessResult r = runProcess(QStringLiteral("xmllint"), {"--noout", path});
    if (!r.started)
        return QStringLiteral("xmllint did not start");
    if (r.exitCode != 0 || !r.err.isEmpty())
        return QString::fromUtf8(r.err) + QStringLiteral(" (exit code %1)").arg(r.exitCode);
    return {};
}

QImage renderSvg(const QString& path, QString* failure)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QFileInfo(path).completeBaseName() + ".png");
    const ProcessResult r = runProcess(QStringLiteral("rsvg-convert"), {"-f", "png", "-o", png, path});
    QImage image;
    if (r.exitCode == 0)
        image.load(png);
    if (image.isNull() && failure)
        *failure = QStringLiteral("rsvg-convert failed: ") + QString::fromUtf8(r.err);
    return image;
}

} // namespace testsupport
