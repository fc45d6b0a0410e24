#include "pano/panorama.h"
#include "support/model_fixture.h"
#include "support/plan_check.h"
#include "support/scan_placement.h"
#include "support/test_support.h"

#include <QDomDocument>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace testsupport;

namespace {

struct PlanFixture : ProjectFixture {
    Floor* floor = addFloor(addBuilding("House"), "Ground");
};

// The values of one header variable's group, or empty when the variable is missing.
QStringList headerVariable(const QByteArray& dxf, const QString& name)
{
    const QStringList lines = QString::fromLatin1(dxf).split('\n');
    const qsizetype at = lines.indexOf(name);
    if (at < 1 || lines[at - 1] != "9" || at + 2 >= lines.size())
        return {};
    return {lines[at + 1], lines[at + 2]};
}

// (code, value) pairs of the ENTITIES section.
QList<QPair<QString, QString>> entityGroups(const QByteArray& dxf)
{
    const QStringList lines = QString::fromLatin1(dxf).split('\n');
    QList<QPair<QString, QString>> groups;
    bool inside = false;
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
        if (lines[i] == "2" && lines[i + 1] == "ENTITIES")
            inside = true;
        else if (inside && lines[i] == "0" && lines[i + 1] == "ENDSEC")
            break;
        else if (inside)
            groups.append({lines[i], lines[i + 1]});
    }
    return groups;
}

// x and y of each POINT of the ENTITIES section, as written.
QStringList pointTexts(const QByteArray& dxf)
{
    QStringList points;
    QString x;
    bool inPoint = false;
    for (const auto& [code, value] : entityGroups(dxf)) {
        if (code == "0")
            inPoint = value == "POINT";
        else if (inPoint && code == "10")
            x = value;
        else if (inPoint && code == "20")
            points << x + " " + value;
    }
    return points;
}

QString svgText(Floor* floor)
{
    return floor->exportSvg().toString(0);
}

} // namespace

TEST(FloorPlans, EmptyFloorGivesTheSkeletonOnly)
{
    PlanFixture f;
    const QByteArray dxf = f.floor->exportDxf();
    EXPECT_TRUE(dxf.startsWith("0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$MEASUREMENT\n70\n1\n"
                               "9\n$INSUNITS\n70\n4\n9\n$EXTMIN\n10\n0.0\n20\n0.0\n9\n$EXTMAX\n10\n0.0\n20\n0.0\n"
                               "9\n$HANDSEED\n5\n56\n0\nENDSEC\n0\nSECTION\n2\nTABLES\n"));
    EXPECT_TRUE(dxf.endsWith("0\nEOF\n"));
    EXPECT_TRUE(entityGroups(dxf).isEmpty());
    EXPECT_TRUE(dxf.contains("2\nBLOCKS\n") && dxf.contains("2\nOBJECTS\n"));

    // The namespaces and the style are checked by the outside tools below.
    const QDomElement root = f.floor->exportSvg().documentElement();
    EXPECT_EQ(root.attribute("viewBox"), "0.0 0.0 0.0 0.0");
    EXPECT_EQ(root.attribute("id"), "floor" + QString::number(f.floor->uniqueId()));
    const QDomElement scans = root.lastChildElement();
    EXPECT_EQ(scans.attribute("id"), "scan");
    EXPECT_FALSE(scans.hasChildNodes());
}

TEST(FloorPlans, OneScanInBothPlans)
{
    PlanFixture f;
    Panorama* pano = placeScan(f.floor, "a", PanoType::Full, {1000, 2000}, 90, {{10, 20}, {-5, 7}});
    placeScan(f.floor, "map", PanoType::Map, {-3000, 0}, 0, {{100, 100}});

    const QByteArray dxf = f.floor->exportDxf();
    // Scene points (980, 2010) and (993, 1995), then the marker: one open 13-vertex polyline.
    EXPECT_EQ(pointTexts(dxf), (QStringList{"980.0 -2010.0", "993.0 -1995.0"}));
    const QList<QPair<QString, QString>> entities = entityGroups(dxf);
    EXPECT_EQ(entities.count({"0", "POINT"}), 2);
    EXPECT_EQ(entities.count({"0", "LWPOLYLINE"}), 1);
    EXPECT_TRUE(entities.contains({"90", "13"}));
    EXPECT_TRUE(entities.contains({"8", "PANOS"}));
    EXPECT_EQ(headerVariable(dxf, "$HANDSEED"), (QStringList{"5", "59"})); // three entities
    // Extents: every scan's outline points (the map scan's too) and the shown scan's position.
    EXPECT_TRUE(dxf.contains("9\n$EXTMIN\n10\n-2900.0\n20\n-2011.0\n9\n$EXTMAX\n10\n1001.0\n20\n-100.0\n"))
        << dxf.left(400).constData();

    const QString svg = svgText(f.floor);
    EXPECT_TRUE(svg.contains("viewBox=\"-2900.0 100.0 3901.0 1911.0\"")) << svg.toStdString();
    EXPECT_EQ(svg.count("<g "), 2) << "the outer group and one scan group";
    EXPECT_TRUE(svg.contains("id=\"scan" + QString::number(pano->uniqueId()) + "\""));
    EXPECT_TRUE(svg.contains("transform=\"translate(1000.0,  2000.0) rotate(90.00) \""));
    EXPECT_TRUE(svg.contains("d=\"M7 17v6h6v-6zM-8 4v6h6v-6z\""));
}

TEST(FloorPlans, ScanOrderIsTopmostFirstInTheDxfAndBottomFirstInTheSvg)
{
    PlanFixture f;
    // Added first but raised to the top; two scans of equal z stack in the order they came.
    Panorama* top = placeScan(f.floor, "top", PanoType::User, {100, 0}, 0, {{2, 2}});
    Panorama* bottom = placeScan(f.floor, "bottom", PanoType::Full, {0, 0}, 0, {{1, 1}});
    Panorama* middle = placeScan(f.floor, "middle", PanoType::Full, {0, 0}, 0, {{3, 3}});
    top->setZValue(2);
    EXPECT_EQ(pointTexts(f.floor->exportDxf()), (QStringList{"102.0 -2.0", "3.0 -3.0", "1.0 -1.0"}));
    const QString svg = svgText(f.floor);
    const qsizetype bottomAt = svg.indexOf("id=\"scan" + QString::number(bottom->uniqueId()) + "\"");
    const qsizetype topAt = svg.indexOf("id=\"scan" + QString::number(top->uniqueId()) + "\"");
    const qsizetype middleAt = svg.indexOf("id=\"scan" + QString::number(middle->uniqueId()) + "\"");
    EXPECT_GE(bottomAt, 0);
    EXPECT_LT(bottomAt, middleAt);
    EXPECT_LT(middleAt, topAt);
}

TEST(FloorPlans, DxfRoundsHalvesAwayFromZeroAndNeverWritesNegativeZero)
{
    PlanFixture f;
    placeScan(f.floor, "a", PanoType::Partial, {0.5, 12.5}, 0, {{0, 0}, {-1, -25}, {0, -13}, {-1, -12}});
    // Scene points (0.5, 12.5), (-0.5, -12.5), (0.5, -0.5) and (-0.5, 0.5).
    EXPECT_EQ(pointTexts(f.floor->exportDxf()),
              (QStringList{"1.0 -13.0", "-1.0 13.0", "1.0 1.0", "-1.0 -1.0"}));
    // Moved down by 0.1, the third point sits at y = -0.4, which rounds to a negative zero.
    f.floor->panos().first()->setPos(0.5, 12.6);
    const QByteArray dxf = f.floor->exportDxf();
    EXPECT_EQ(pointTexts(dxf), (QStringList{"1.0 -13.0", "-1.0 12.0", "1.0 0.0", "-1.0 -1.0"}));
    EXPECT_FALSE(dxf.contains("-0.0"));
    EXPECT_FALSE(dxf.toLower().contains("nan"));
    EXPECT_FALSE(dxf.toLower().contains("inf"));
}

// A floor of scattered scans read back by tools no one here wrote: ezdxf, Python's XML parser,
// xmllint and rsvg-convert.
TEST(FloorPlans, OutsideToolsReadBothPlansAndTheyAgree)
{
    PlanFixture f;
    QRandomGenerator random(8);
    QList<Panorama*> scans;
    for (int s = 0; s < 4; ++s) {
        QList<QPoint> outline;
        for (int i = 0; i < 40 + 10 * s; ++i)
            outline << QPoint(random.bounded(-1200, 1200), random.bounded(-900, 900));
        // One decimal of position and two of rotation: what the SVG transform keeps.
        const QPointF pos(random.bounded(-8000, 8000) / 10.0, random.bounded(-8000, 8000) / 10.0);
        const double rotation = random.bounded(-18000, 18000) / 100.0;
        scans << placeScan(f.floor, QString("scan %1").arg(s), s == 3 ? PanoType::Map : PanoType::Full, pos, rotation,
                           outline);
    }
    scans[1]->setShown(false); // hidden scans are drawn all the same
    scans[0]->setZValue(1);    // the DXF lists it first, the SVG last
    QTemporaryDir dir;
    const QString dxfPath = dir.filePath("floor.dxf");
    const QString svgPath = dir.filePath("floor.svg");
    writeFile(dxfPath, f.floor->exportDxf());
    writeFile(svgPath, svgText(f.floor).toUtf8());

    // The scene positions of the non-map scans' outline points, topmost scan first as in the DXF.
    QList<QPointF> expected;
    QList<QPointF> expectedMarkers;
    for (Panorama* pano : {scans[0], scans[2], scans[1]}) {
        for (const QPoint& point : pano->outline())
            expected << pano->mapToScene(QPointF(point));
        expectedMarkers << pano->scenePos();
    }
    ASSERT_EQ(expectedMarkers.size(), 3);

    const DxfPlanReport dxf = readDxfPlan(dxfPath);
    ASSERT_TRUE(dxf.failure.isEmpty()) << dxf.failure.toStdString();
    EXPECT_TRUE(dxf.auditErrors.isEmpty()) << dxf.auditErrors.join("; ").toStdString();
    EXPECT_EQ(dxf.acadVersion, "AC1015");
    EXPECT_EQ(dxf.insUnits, 4);
    ASSERT_EQ(dxf.points.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(dxf.points[i], QPointF(std::round(expected[i].x()), -std::round(expected[i].y()))) << i;
    }
    EXPECT_EQ(dxf.markerVertices, (QList<int>{13, 13, 13}));
    ASSERT_EQ(dxf.markerCentres.size(), 3);
    for (int s = 0; s < 3; ++s) {
        // The circle's 13 vertices (start repeated at the end) average to near its centre.
        EXPECT_NEAR(dxf.markerCentres[s].x(), expectedMarkers[s].x(), 30) << s;
        EXPECT_NEAR(dxf.markerCentres[s].y(), -expectedMarkers[s].y(), 30) << s;
    }

    EXPECT_EQ(xmllintComplaint(svgPath), QString());
    const SvgPlanReport svg = readSvgPlan(svgPath);
    ASSERT_TRUE(svg.failure.isEmpty()) << svg.failure.toStdString();
    ASSERT_EQ(svg.squareCentres.size(), 3);
    // The SVG lists the scans bottom first: reversed, the squares are the DXF's points.
    QList<QPointF> svgCentres;
    for (qsizetype s = svg.squareCentres.size() - 1; s >= 0; --s)
        svgCentres += svg.squareCentres[s];
    ASSERT_EQ(svgCentres.size(), dxf.points.size());
    for (qsizetype i = 0; i < svgCentres.size(); ++i) {
        EXPECT_LE(std::abs(svgCentres[i].x() - dxf.points[i].x()), 0.5 + 1e-6) << i;
        EXPECT_LE(std::abs(svgCentres[i].y() + dxf.points[i].y()), 0.5 + 1e-6) << i;
    }

    QString failure;
    const QImage image = renderSvg(svgPath, &failure);
    ASSERT_FALSE(image.isNull()) << failure.toStdString();
    EXPECT_LT(std::abs(image.width() - svg.viewBox.width()), 1.0) << "one pixel per millimetre";
    EXPECT_LT(std::abs(image.height() - svg.viewBox.height()), 1.0);
    // The pixel under each outline point; the view box's one decimal may put an extreme point a
    // hair outside the image, whose edge pixel its square still covers.
    auto pixelAt = [&](const QPointF& scene) {
        return QPoint(std::clamp(int(std::floor(scene.x() - svg.viewBox.x())), 0, image.width() - 1),
                      std::clamp(int(std::floor(scene.y() - svg.viewBox.y())), 0, image.height() - 1));
    };
    int notBlack = 0;
    for (const QPointF& point : expected) {
        const QRgb rgba = image.pixel(pixelAt(point));
        notBlack += qAlpha(rgba) != 255 || qRed(rgba) != 0 || qGreen(rgba) != 0 || qBlue(rgba) != 0;
    }
    EXPECT_EQ(notBlack, 0) << "of " << expected.size();
    // Beside a point, off its square, the plan is empty; the map scan is not drawn at all.
    EXPECT_EQ(qAlpha(image.pixel(pixelAt(scans[0]->mapToScene(QPointF(scans[0]->outline()[0])) + QPointF(60, 60)))),
              0);
    EXPECT_EQ(qAlpha(image.pixel(pixelAt(scans[3]->mapToScene(QPointF(scans[3]->outline()[0]))))), 0);
}
