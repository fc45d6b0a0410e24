#include "project/dxf_writer.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>
#include <tuple>

namespace {

// The text a fresh writer produces; `lastHandle` receives the writer's last handle.
QByteArray written(const std::function<void(DxfWriter&)>& write, quint32* lastHandle = nullptr)
{
    QByteArray out;
    QTextStream stream(&out, QIODevice::WriteOnly);
    DxfWriter writer(&stream);
    write(writer);
    stream.flush();
    if (lastHandle)
        *lastHandle = writer.lastHandle();
    return out;
}

// (code, value) pairs, checking that the text is whole two-line groups ending in line feeds.
QList<QPair<int, QString>> groupsOf(const QByteArray& text)
{
    EXPECT_FALSE(text.contains('\r'));
    QList<QByteArray> lines = text.split('\n');
    EXPECT_TRUE(lines.takeLast().isEmpty()) << "last line without a line feed";
    EXPECT_EQ(lines.size() % 2, 0) << "a group code without its value";
    QList<QPair<int, QString>> groups;
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
        bool ok = false;
        groups.append({lines[i].toInt(&ok), QString::fromUtf8(lines[i + 1])});
        EXPECT_TRUE(ok && QByteArray::number(groups.last().first) == lines[i]) << lines[i].constData();
    }
    return groups;
}

// Values of `code` inside the records of type `type`, in file order.
QStringList valuesIn(const QByteArray& text, const QString& type, int code)
{
    QStringList values;
    bool inside = false;
    for (const auto& [c, value] : groupsOf(text)) {
        if (c == 0)
            inside = value == type;
        else if (inside && c == code)
            values.append(value);
    }
    return values;
}

QString realText(double value)
{
    return QString::fromLatin1(written([value](DxfWriter& w) { w.writeReal(10, value); })).section('\n', 1, 1);
}

QPainterPath square(double x, double y, double side)
{
    QPainterPath path;
    path.moveTo(x, y);
    path.lineTo(x + side, y);
    path.lineTo(x + side, y + side);
    path.lineTo(x, y + side);
    path.lineTo(x, y);
    return path;
}

} // namespace

TEST(DxfWriter, GroupsAndRealFormatting)
{
    EXPECT_EQ(written([](DxfWriter& w) { w.writeReal(40, 0); }), "40\n0.0\n");
    EXPECT_EQ(written([](DxfWriter& w) { w.beginHeader(); w.endSection(); w.writeEof(); }),
              "0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n");
    EXPECT_EQ(written([](DxfWriter& w) { w.writeString(8, QString::fromUtf8("Küche")); }),
              QByteArray("8\nK\xc3\xbc" "che\n"));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QList<QPair<double, QString>> cases{
        {-1250.46, "-1250.5"}, {9.96, "10.0"}, {-999.95001, "-1000.0"},
        {0.25, "0.3"}, {-0.25, "-0.3"}, {-4096.25, "-4096.3"},  // exact ties: away from zero
        {0.35, "0.3"}, {0.45, "0.5"}, {9.95, "9.9"},             // not ties in binary
        {4503599627370495.5, "4503599627370495.5"}, {1e20, "100000000000000000000.0"},
        {-0.0, "0.0"}, {-0.04, "0.0"}, {-0.05, "-0.1"}, {-1e-300, "0.0"},
        {-std::numeric_limits<double>::denorm_min(), "0.0"}, {nan, "0.0"}, {inf, "0.0"}, {-inf, "0.0"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(realText(value), text) << "for " << value;
}

TEST(DxfWriter, RealsAgreeWithQtNumberFormattingAcrossMagnitudes)
{
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-20, 60);
    QStringList expected;
    const QByteArray text = written([&](DxfWriter& w) {
        for (int i = 0; i < 50000; ++i) {
            double value = std::ldexp(unit(random), exponent(random));
            if (i % 5 == 0) // many exact ties and near-ties on the tenths
                value = std::round(value * 4.0) / 4.0 + (i % 3 - 1) * 1e-9;
            w.writeReal(10, value);
            const QString reference = QString::number(value, 'f', 1);
            expected.append(reference == "-0.0" ? "0.0" : reference);
        }
    });
    const auto groups = groupsOf(text);
    ASSERT_EQ(groups.size(), expected.size());
    for (qsizetype i = 0; i < groups.size(); ++i)
        ASSERT_EQ(groups[i].second, expected[i]) << "value #" << i;
}

TEST(DxfWriter, PointsTakeHandlesFrom31AndNegateY)
{
    EXPECT_EQ(written([](DxfWriter& w) { w.writePoint("P", {100, 200}); }),
              "0\nPOINT\n5\n31\n100\nAcDbEntity\n8\nP\n100\nAcDbPoint\n10\n100.0\n20\n-200.0\n");
    quint32 last = 0;
    const QStringList handles = valuesIn(written([](DxfWriter& w) {
        for (int i = 0; i < 200; ++i)
            w.writePoint("P", {double(i), 0.0});
    }, &last), "POINT", 5);
    ASSERT_EQ(handles.size(), 200);
    EXPECT_EQ(handles[9], "3A");
    EXPECT_EQ(handles.last(), "F8");
    EXPECT_EQ(last, 248u);
}

TEST(DxfWriter, PolylineWritesOneEntityPerRunOfThePath)
{
    QPainterPath twoSquares = square(0, 0, 10);
    twoSquares.addPath(square(100, -50, 20));
    const QByteArray text = written([&](DxfWriter& w) { w.writePolyline("PANOS", twoSquares, 1); });
    EXPECT_EQ(valuesIn(text, "LWPOLYLINE", 90), (QStringList{"5", "5"}));
    EXPECT_EQ(valuesIn(text, "LWPOLYLINE", 5), (QStringList{"31", "32"}));
    EXPECT_EQ(valuesIn(text, "LWPOLYLINE", 70), (QStringList{"1", "1"}));
    EXPECT_EQ(valuesIn(text, "LWPOLYLINE", 20).mid(4, 3), (QStringList{"0.0", "50.0", "50.0"}));

    // Curves are not flattened: a circle is a move-to and four cubic curves of three points each.
    QPainterPath circle;
    circle.addEllipse(QPointF(1000, -2000), 150, 150);
    const QByteArray circleText = written([&](DxfWriter& w) { w.writePolyline("PANOS", circle, 0); });
    EXPECT_EQ(valuesIn(circleText, "LWPOLYLINE", 90), QStringList{"13"});
    EXPECT_EQ(valuesIn(circleText, "LWPOLYLINE", 10).size(), 13);

    EXPECT_EQ(written([](DxfWriter& w) { w.writePolyline("PANOS", QPainterPath(), 0); }), "");
}

TEST(DxfWriter, TablesIssueHandlesAndFixedCounts)
{
    quint32 last = 0;
    const QByteArray text = written([](DxfWriter& w) { w.writeTables({{"P", 64, 9}, {"PANOS", 64, 10}}); }, &last);
    EXPECT_EQ(last, 52u);
    EXPECT_EQ(valuesIn(text, "VPORT", 5), QStringList{"31"});
    EXPECT_EQ(valuesIn(text, "LAYER", 5), (QStringList{"10", "32", "33"}));
    EXPECT_EQ(valuesIn(text, "LAYER", 2), (QStringList{"0", "P", "PANOS"}));
    EXPECT_EQ(valuesIn(text, "STYLE", 5), QStringList{"34"});
    // Table name, handle and count, as fixed, whatever number of records follows.
    QStringList heads;
    const auto groups = groupsOf(text);
    for (qsizetype i = 0; i < groups.size(); ++i)
        if (groups[i].first == 0 && groups[i].second == "TABLE")
            heads.append(groups[i + 1].second + ":" + groups[i + 2].second + ":" + groups[i + 5].second);
    EXPECT_EQ(heads, (QStringList{"VPORT:8:1", "LTYPE:5:4", "LAYER:2:1", "STYLE:3:2", "VIEW:6:0",
                                  "UCS:7:0", "APPID:9:1", "DIMSTYLE:A:2", "BLOCK_RECORD:1:2"}));

    const QByteArray empty = written([](DxfWriter& w) { w.writeTables({}); }, &last);
    EXPECT_EQ(valuesIn(empty, "LAYER", 2), QStringList{"0"});
    EXPECT_EQ(valuesIn(empty, "STYLE", 5), QStringList{"32"});
}

TEST(DxfWriter, ExtentsAndViewportFollowTheDrawingWithYUp)
{
    const QRectF rect(-100, -50, 300, 200); // scene y from -50 (top) to 150 (bottom)
    EXPECT_EQ(written([&](DxfWriter& w) { w.writeExtents(rect); }),
              "9\n$EXTMIN\n10\n-100.0\n20\n-150.0\n9\n$EXTMAX\n10\n200.0\n20\n50.0\n");
    const QByteArray tables = written([&](DxfWriter& w) { w.setExtents(rect); w.writeTables({}); });
    EXPECT_EQ(valuesIn(tables, "VPORT", 12) + valuesIn(tables, "VPORT", 22) + valuesIn(tables, "VPORT", 40),
              (QStringList{"50.0", "-50.0", "200.0"}));
    // writeExtents stores what the viewport reads, too.
    const QByteArray both = written([&](DxfWriter& w) { w.writeExtents(QRectF(0, 0, 10, 40)); w.writeTables({}); });
    EXPECT_EQ(valuesIn(both, "VPORT", 40), QStringList{"40.0"});
}

// A whole plan put together the way a floor exports it, read back by a DXF library no one here wrote.
TEST(DxfWriter, WholeDrawingIsReadByEzdxfWithoutAuditErrors)
{
    const QList<QPointF> points{{-1250.46, 300.0}, {0.0, -0.02}, {4000.0, 2500.25}, {15.5, 12.5}};
    QPainterPath marker;
    marker.addEllipse(QPointF(1000.0, 2000.0), 150, 150);
    QRectF plan = marker.boundingRect();
    for (const QPointF& p : points)
        plan = plan.united(QRectF(p, QSizeF(0.001, 0.001)));

    quint32 last = 0;
    const QByteArray body = written([&](DxfWriter& w) {
        w.setExtents(plan);
        w.beginSection("TABLES");
        w.writeTables({{"P", 64, 9}, {"PANOS", 64, 10}});
        w.endSection();
        w.beginSection("BLOCKS");
        w.writeBlocks();
        w.endSection();
        w.beginSection("ENTITIES");
        for (const QPointF& p : points)
            w.writePoint("P", p);
        w.writePolyline("PANOS", marker, 0);
        w.endSection();
        w.writeString(0, "SECTION");
        w.writeString(2, "OBJECTS");
        w.writeObjects();
        w.writeString(0, "ENDSEC");
        w.writeEof();
    }, &last);
    const QByteArray header = written([&](DxfWriter& w) {
        w.beginHeader();
        for (const auto& [code, name, value] : {std::tuple{1, "$ACADVER", "AC1015"},
                                                std::tuple{70, "$MEASUREMENT", "1"}, std::tuple{70, "$INSUNITS", "4"}}) {
            w.writeString(9, name);
            w.writeString(code, value);
        }
        w.writeExtents(plan);
        w.writeString(9, "$HANDSEED");
        w.writeString(5, QString::number(last + 4));
        w.endSection();
    });
    EXPECT_EQ(last, 52u + 5u);
    EXPECT_FALSE((header + body).contains("-0.0\n"));

    QTemporaryDir dir;
    const QString path = dir.filePath("plan.dxf");
    testsupport::writeFile(path, header + body);
    const QString script = R"(
import json, sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
msp = doc.modelspace()
print(json.dumps({
    "errors": [str(e.message) for e in auditor.errors],
    "acadver": doc.header.get("$ACADVER"),
    "insunits": doc.header.get("$INSUNITS"),
    "extents": list(doc.header.get("$EXTMIN"))[:2] + list(doc.header.get("$EXTMAX"))[:2],
    "layers": {layer.dxf.name: [layer.dxf.color, layer.dxf.flags] for layer in doc.layers},
    "points": [[p.dxf.location.x, p.dxf.location.y] for p in msp.query('POINT[layer=="P"]')],
    "polylines": [len(p) for p in msp.query('LWPOLYLINE[layer=="PANOS"]')],
}))
)";
    const testsupport::ProcessResult r = testsupport::runProcess(testsupport::systemPython(), {"-c", script, path});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject report = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(report["errors"].toArray().size(), 0) << r.out.toStdString();
    EXPECT_EQ(report["acadver"].toString(), "AC1015");
    EXPECT_EQ(report["insunits"].toInt(), 4);
    EXPECT_EQ(report["extents"].toArray(), (QJsonArray{-1250.5, -2500.3, 4000.0, 0.0}));
    // The library adds a "Defpoints" layer of its own; ours must be there as written.
    const QJsonObject layers = report["layers"].toObject();
    EXPECT_EQ(layers["P"].toArray(), (QJsonArray{9, 64}));
    EXPECT_EQ(layers["PANOS"].toArray(), (QJsonArray{10, 64}));
    EXPECT_EQ(report["points"].toArray(), (QJsonArray{QJsonArray{-1250.5, -300.0}, QJsonArray{0.0, 0.0},
                                                      QJsonArray{4000.0, -2500.3}, QJsonArray{15.5, -12.5}}));
    EXPECT_EQ(report["polylines"].toArray(), QJsonArray{13});
}
