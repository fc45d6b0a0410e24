#include "project/dxf_writer.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

namespace {

struct Group {
    int code;
    QString value;
    bool operator==(const Group&) const = default;
};

void PrintTo(const Group& g, std::ostream* os)
{
    *os << g.code << " \"" << g.value.toStdString() << '"';
}

// Runs `write` against a writer on a fresh stream and returns the text it produced.
QByteArray written(const std::function<void(DxfWriter&)>& write, DxfWriter* keep = nullptr)
{
    QByteArray out;
    {
        QTextStream stream(&out, QIODevice::WriteOnly);
        DxfWriter writer(&stream);
        write(writer);
        stream.flush();
        if (keep)
            *keep = writer;
    }
    return out;
}

// Splits DXF text into groups, checking the two-line group structure on the way.
QList<Group> groupsOf(const QByteArray& text)
{
    QList<Group> groups;
    EXPECT_FALSE(text.contains('\r'));
    if (text.isEmpty())
        return groups;
    EXPECT_TRUE(text.endsWith('\n'));
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();
    EXPECT_EQ(lines.size() % 2, 0) << "a group code without its value";
    static const QRegularExpression codeForm("^(0|-?[1-9][0-9]*)$");
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
        const QString code = QString::fromLatin1(lines[i]);
        EXPECT_TRUE(codeForm.match(code).hasMatch()) << "bad group code line: " << code.toStdString();
        groups.append({code.toInt(), QString::fromUtf8(lines[i + 1])});
    }
    return groups;
}

QString realText(double value)
{
    return QString::fromLatin1(written([value](DxfWriter& w) { w.writeReal(10, value); })).section('\n', 1, 1);
}

// Values of `code` inside the entities of type `type`, in file order.
QStringList valuesInEntities(const QList<Group>& groups, const QString& type, int code)
{
    QStringList values;
    bool inside = false;
    for (const Group& g : groups) {
        if (g.code == 0)
            inside = g.value == type;
        else if (inside && g.code == code)
            values.append(g.value);
    }
    return values;
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

TEST(DxfWriter, GroupsAreCodeAndValueLinesEndingInLineFeeds)
{
    EXPECT_EQ(written([](DxfWriter& w) { w.writeReal(40, 0); }), "40\n0.0\n");
    EXPECT_EQ(written([](DxfWriter& w) { w.writeReal(10, -1250.46); }), "10\n-1250.5\n");
    EXPECT_EQ(written([](DxfWriter& w) { w.writeString(9, "$ACADVER"); }), "9\n$ACADVER\n");
    EXPECT_EQ(written([](DxfWriter& w) {
                  w.beginHeader();
                  w.endSection();
                  w.writeEof();
              }),
              "0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n");
    // A layer name outside ASCII comes out as UTF-8, not as '?'.
    EXPECT_EQ(written([](DxfWriter& w) { w.writeString(8, QString::fromUtf8("Küche")); }),
              QByteArray("8\nK\xc3\xbc" "che\n"));
}

TEST(DxfWriter, RealsHaveOneDecimalRoundedHalfAwayFromZero)
{
    EXPECT_EQ(realText(0.0), "0.0");
    EXPECT_EQ(realText(1.0), "1.0");
    EXPECT_EQ(realText(-3.0), "-3.0");
    EXPECT_EQ(realText(2.5), "2.5");
    EXPECT_EQ(realText(9.96), "10.0");
    EXPECT_EQ(realText(-999.95001), "-1000.0");
    // Exact binary ties round away from zero.
    EXPECT_EQ(realText(0.25), "0.3");
    EXPECT_EQ(realText(-0.25), "-0.3");
    EXPECT_EQ(realText(1.75), "1.8");
    EXPECT_EQ(realText(-4096.25), "-4096.3");
    // Decimal "halves" that are not exact in binary follow their true value.
    EXPECT_EQ(realText(0.35), "0.3");  // 0.34999999999999997...
    EXPECT_EQ(realText(0.45), "0.5");  // 0.45000000000000001...
    EXPECT_EQ(realText(9.95), "9.9");  // 9.9499999999999993...
    EXPECT_EQ(realText(123456789.96), "123456790.0");
    EXPECT_EQ(realText(4503599627370495.5), "4503599627370495.5");
    EXPECT_EQ(realText(1e20), "100000000000000000000.0");
    EXPECT_EQ(realText(-std::ldexp(1.0, 62)), "-4611686018427387904.0");
}

TEST(DxfWriter, RealsNeverPrintNegativeZeroOrNonFiniteValues)
{
    EXPECT_EQ(realText(-0.0), "0.0");
    EXPECT_EQ(realText(-0.04), "0.0");
    EXPECT_EQ(realText(-0.0499999), "0.0");
    EXPECT_EQ(realText(-0.05), "-0.1"); // -0.05000000000000000277
    EXPECT_EQ(realText(-1e-300), "0.0");
    EXPECT_EQ(realText(-std::numeric_limits<double>::denorm_min()), "0.0");
    EXPECT_EQ(realText(std::numeric_limits<double>::quiet_NaN()), "0.0");
    EXPECT_EQ(realText(std::numeric_limits<double>::infinity()), "0.0");
    EXPECT_EQ(realText(-std::numeric_limits<double>::infinity()), "0.0");
    // A point on the origin's negative side writes y negated without a signed zero.
    const QList<Group> groups = groupsOf(written([](DxfWriter& w) { w.writePoint("P", {-0.01, 0.0}); }));
    EXPECT_EQ(valuesInEntities(groups, "POINT", 10), QStringList{"0.0"});
    EXPECT_EQ(valuesInEntities(groups, "POINT", 20), QStringList{"0.0"});
}

TEST(DxfWriter, RealsAgreeWithQtNumberFormattingAcrossMagnitudes)
{
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-20, 60);
    QByteArray text;
    QStringList expected;
    {
        QTextStream stream(&text, QIODevice::WriteOnly);
        DxfWriter writer(&stream);
        for (int i = 0; i < 50000; ++i) {
            double value = std::ldexp(unit(random), exponent(random));
            if (i % 5 == 0) // many exact ties and near-ties on the tenths
                value = std::round(value * 4.0) / 4.0 + (i % 3 - 1) * 1e-9;
            writer.writeReal(10, value);
            QString reference = QString::number(value, 'f', 1);
            if (reference == "-0.0")
                reference = "0.0";
            expected.append(reference);
        }
    }
    const QList<Group> groups = groupsOf(text);
    ASSERT_EQ(groups.size(), expected.size());
    for (qsizetype i = 0; i < groups.size(); ++i)
        ASSERT_EQ(groups[i].value, expected[i]) << "value #" << i;
}

TEST(DxfWriter, HandlesStartAt31AndAreUpperCaseHex)
{
    DxfWriter kept(nullptr);
    const QByteArray text = written(
        [](DxfWriter& w) {
            for (int i = 0; i < 200; ++i)
                w.writePoint("P", {double(i), 0.0});
        },
        &kept);
    const QStringList handles = valuesInEntities(groupsOf(text), "POINT", 5);
    ASSERT_EQ(handles.size(), 200);
    EXPECT_EQ(handles.first(), "31");
    EXPECT_EQ(handles[9], "3A");
    EXPECT_EQ(handles.last(), "F8");
    EXPECT_EQ(kept.lastHandle(), 248u);
}

TEST(DxfWriter, PointIsOneEntityWithYNegated)
{
    const QList<Group> groups = groupsOf(written([](DxfWriter& w) { w.writePoint("P", {100, 200}); }));
    const QList<Group> expected{{0, "POINT"}, {5, "31"},         {100, "AcDbEntity"}, {8, "P"},
                                {100, "AcDbPoint"}, {10, "100.0"}, {20, "-200.0"}};
    EXPECT_EQ(groups, expected);
}

TEST(DxfWriter, PolylineWritesOneEntityPerRunOfThePath)
{
    QPainterPath twoSquares = square(0, 0, 10);
    twoSquares.addPath(square(100, -50, 20));
    const QList<Group> groups =
        groupsOf(written([&](DxfWriter& w) { w.writePolyline("PANOS", twoSquares, 1); }));
    EXPECT_EQ(valuesInEntities(groups, "LWPOLYLINE", 90), (QStringList{"5", "5"}));
    EXPECT_EQ(valuesInEntities(groups, "LWPOLYLINE", 70), (QStringList{"1", "1"}));
    EXPECT_EQ(valuesInEntities(groups, "LWPOLYLINE", 5), (QStringList{"31", "32"}));
    EXPECT_EQ(valuesInEntities(groups, "LWPOLYLINE", 10),
              (QStringList{"0.0", "10.0", "10.0", "0.0", "0.0", "100.0", "120.0", "120.0", "100.0", "100.0"}));
    EXPECT_EQ(valuesInEntities(groups, "LWPOLYLINE", 20),
              (QStringList{"0.0", "0.0", "-10.0", "-10.0", "0.0", "50.0", "50.0", "30.0", "30.0", "50.0"}));

    // Curves are not flattened: a circle is a move-to and four cubic curves of three points each.
    QPainterPath circle;
    circle.addEllipse(QPointF(1000, -2000), 150, 150);
    const QList<Group> circleGroups =
        groupsOf(written([&](DxfWriter& w) { w.writePolyline("PANOS", circle, 0); }));
    EXPECT_EQ(valuesInEntities(circleGroups, "LWPOLYLINE", 90), QStringList{"13"});
    const QStringList xs = valuesInEntities(circleGroups, "LWPOLYLINE", 10);
    const QStringList ys = valuesInEntities(circleGroups, "LWPOLYLINE", 20);
    ASSERT_EQ(xs.size(), 13);
    ASSERT_EQ(ys.size(), 13);
    EXPECT_EQ(xs.first(), "1150.0");
    EXPECT_EQ(ys.first(), "2000.0");

    EXPECT_EQ(written([](DxfWriter& w) { w.writePolyline("PANOS", QPainterPath(), 0); }), "");
}

TEST(DxfWriter, TablesIssueHandlesForViewportLayersAndStyle)
{
    DxfWriter kept(nullptr);
    const QList<Group> groups = groupsOf(written(
        [](DxfWriter& w) { w.writeTables({{"P", 64, 9}, {"PANOS", 64, 10}}); }, &kept));
    EXPECT_EQ(kept.lastHandle(), 52u);
    EXPECT_EQ(valuesInEntities(groups, "VPORT", 5), QStringList{"31"});
    EXPECT_EQ(valuesInEntities(groups, "LAYER", 5), (QStringList{"10", "32", "33"}));
    EXPECT_EQ(valuesInEntities(groups, "LAYER", 2), (QStringList{"0", "P", "PANOS"}));
    EXPECT_EQ(valuesInEntities(groups, "LAYER", 62), (QStringList{"0", "9", "10"}));
    EXPECT_EQ(valuesInEntities(groups, "LAYER", 70), (QStringList{"0", "64", "64"}));
    EXPECT_EQ(valuesInEntities(groups, "STYLE", 5), QStringList{"34"});

    // Table heads in order with the counts as fixed, whatever follows them.
    QStringList heads;
    for (qsizetype i = 0; i < groups.size(); ++i)
        if (groups[i] == Group{0, "TABLE"})
            heads.append(groups[i + 1].value + ":" + groups[i + 2].value + ":" + groups[i + 5].value);
    EXPECT_EQ(heads, (QStringList{"VPORT:8:1", "LTYPE:5:4", "LAYER:2:1", "STYLE:3:2", "VIEW:6:0",
                                  "UCS:7:0", "APPID:9:1", "DIMSTYLE:A:2", "BLOCK_RECORD:1:2"}));
    EXPECT_EQ(groups.count(Group{0, "ENDTAB"}), 9);
    EXPECT_EQ(groups.last(), (Group{0, "ENDTAB"}));
}

TEST(DxfWriter, TablesWithoutLayersStillHoldLayerZero)
{
    DxfWriter kept(nullptr);
    const QList<Group> groups = groupsOf(written([](DxfWriter& w) { w.writeTables({}); }, &kept));
    EXPECT_EQ(valuesInEntities(groups, "LAYER", 2), QStringList{"0"});
    EXPECT_EQ(valuesInEntities(groups, "STYLE", 5), QStringList{"32"});
    EXPECT_EQ(kept.lastHandle(), 50u);
    const qsizetype layerTable = groups.indexOf(Group{2, "LAYER"});
    ASSERT_GT(layerTable, 0);
    EXPECT_EQ(groups[layerTable + 4], (Group{70, "1"}));
}

TEST(DxfWriter, ViewportAndExtentsFollowTheDrawingWithYUp)
{
    const QRectF rect(-100, -50, 300, 200); // scene y from -50 (top) to 150 (bottom)
    const QList<Group> header = groupsOf(written([&](DxfWriter& w) { w.writeExtents(rect); }));
    const QList<Group> expected{{9, "$EXTMIN"}, {10, "-100.0"}, {20, "-150.0"},
                                {9, "$EXTMAX"}, {10, "200.0"},  {20, "50.0"}};
    EXPECT_EQ(header, expected);

    const QList<Group> tables = groupsOf(written([&](DxfWriter& w) {
        w.setExtents(rect);
        w.writeTables({});
    }));
    EXPECT_EQ(valuesInEntities(tables, "VPORT", 12), QStringList{"50.0"});
    EXPECT_EQ(valuesInEntities(tables, "VPORT", 22), QStringList{"-50.0"});
    EXPECT_EQ(valuesInEntities(tables, "VPORT", 40), QStringList{"200.0"});

    // writeExtents also stores the extents the viewport reads.
    const QList<Group> both = groupsOf(written([&](DxfWriter& w) {
        w.writeExtents(QRectF(0, 0, 10, 40));
        w.writeTables({});
    }));
    EXPECT_EQ(valuesInEntities(both, "VPORT", 40), QStringList{"40.0"});
}

// A whole plan put together the way a floor exports it, read back by a DXF library no one here wrote.
TEST(DxfWriter, WholeDrawingIsReadByEzdxfWithoutAuditErrors)
{
    const QList<QPointF> points{{-1250.46, 300.0}, {0.0, -0.02}, {4000.0, 2500.25}, {15.5, 12.5}};
    const QPointF scanAt(1000.0, 2000.0);
    QPainterPath marker;
    marker.addEllipse(scanAt, 150, 150);
    QRectF plan;
    for (const QPointF& p : points)
        plan = plan.united(QRectF(p, QSizeF(0.001, 0.001)));
    plan = plan.united(marker.boundingRect());

    QByteArray body;
    quint32 lastHandle = 0;
    {
        QTextStream stream(&body, QIODevice::WriteOnly);
        DxfWriter writer(&stream);
        writer.setExtents(plan);
        writer.beginSection("TABLES");
        writer.writeTables({{"P", 64, 9}, {"PANOS", 64, 10}});
        writer.endSection();
        writer.beginSection("BLOCKS");
        writer.writeBlocks();
        writer.endSection();
        writer.beginSection("ENTITIES");
        for (const QPointF& p : points)
            writer.writePoint("P", p);
        writer.writePolyline("PANOS", marker, 0);
        writer.endSection();
        writer.writeString(0, "SECTION");
        writer.writeString(2, "OBJECTS");
        writer.writeObjects();
        writer.writeString(0, "ENDSEC");
        writer.writeEof();
        stream.flush();
        lastHandle = writer.lastHandle();
    }
    EXPECT_EQ(lastHandle, 52u + 5u);
    QByteArray header;
    {
        QTextStream stream(&header, QIODevice::WriteOnly);
        DxfWriter writer(&stream);
        writer.beginHeader();
        writer.writeString(9, "$ACADVER");
        writer.writeString(1, "AC1015");
        writer.writeString(9, "$MEASUREMENT");
        writer.writeString(70, "1");
        writer.writeString(9, "$INSUNITS");
        writer.writeString(70, "4");
        writer.writeExtents(plan);
        writer.writeString(9, "$HANDSEED");
        writer.writeString(5, QString::number(lastHandle + 4));
        writer.endSection();
        stream.flush();
        EXPECT_EQ(writer.lastHandle(), 48u);
    }
    const QByteArray file = header + body;
    EXPECT_FALSE(file.contains("-0.0\n"));
    EXPECT_TRUE(file.endsWith("0\nEOF\n"));
    const QList<Group> groups = groupsOf(file);
    QStringList sections;
    for (qsizetype i = 0; i + 1 < groups.size(); ++i)
        if (groups[i] == Group{0, "SECTION"})
            sections.append(groups[i + 1].value);
    EXPECT_EQ(sections, (QStringList{"HEADER", "TABLES", "BLOCKS", "ENTITIES", "OBJECTS"}));

    QTemporaryDir dir;
    const QString path = dir.filePath("plan.dxf");
    testsupport::writeFile(path, file);
    const QString script = R"(
import json, sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
msp = doc.modelspace()
print(json.dumps({
    "errors": [str(e.message) for e in auditor.errors],
    "acadver": doc.header.get("$ACADVER"),
    "insunits": doc.header.get("$INSUNITS"),
    "extmin": list(doc.header.get("$EXTMIN"))[:2],
    "extmax": list(doc.header.get("$EXTMAX"))[:2],
    "layers": {layer.dxf.name: [layer.dxf.color, layer.dxf.flags] for layer in doc.layers},
    "points": [[p.dxf.location.x, p.dxf.location.y] for p in msp.query('POINT[layer=="P"]')],
    "polylines": [len(p) for p in msp.query('LWPOLYLINE[layer=="PANOS"]')],
    "first_vertex": [list(p.get_points("xy")[0]) for p in msp.query('LWPOLYLINE[layer=="PANOS"]')],
}))
)";
    const testsupport::ProcessResult r = testsupport::runProcess(testsupport::systemPython(), {"-c", script, path});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject report = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(report["errors"].toArray().size(), 0) << r.out.toStdString();
    EXPECT_EQ(report["acadver"].toString(), "AC1015");
    EXPECT_EQ(report["insunits"].toInt(), 4);
    EXPECT_EQ(report["extmin"].toArray(), (QJsonArray{-1250.5, -2500.3}));
    EXPECT_EQ(report["extmax"].toArray(), (QJsonArray{4000.0, 0.0}));
    // The library adds its own "Defpoints" layer on reading; ours must be there as written.
    const QJsonObject layers = report["layers"].toObject();
    EXPECT_EQ(layers["0"].toArray(), (QJsonArray{0, 0}));
    EXPECT_EQ(layers["P"].toArray(), (QJsonArray{9, 64}));
    EXPECT_EQ(layers["PANOS"].toArray(), (QJsonArray{10, 64}));
    EXPECT_EQ(report["points"].toArray(),
              (QJsonArray{QJsonArray{-1250.5, -300.0}, QJsonArray{0.0, 0.0}, QJsonArray{4000.0, -2500.3},
                          QJsonArray{15.5, -12.5}}));
    EXPECT_EQ(report["polylines"].toArray(), QJsonArray{13});
    EXPECT_EQ(report["first_vertex"].toArray(), (QJsonArray{QJsonArray{1150.0, -2000.0}}));
}
