#include "export/dxf_writer.h"
#include "model/panorama.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/test_support.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {
QList<QByteArray> reals(const QList<double>& values)
{
    QByteArray out;
    QTextStream stream(&out, QIODevice::WriteOnly);
    DxfWriter writer(&stream);
    for (double value : values)
        writer.writeReal(10, value);
    stream.flush();
    return out.replace("10\n", "").split('\n').mid(0, values.size());
}

// "x y" of each POINT, as written.
QStringList pointTexts(const QByteArray& dxf)
{
    QStringList points;
    const QString text = QString::fromLatin1(dxf);
    for (auto it = QRegularExpression("\nAcDbPoint\n10\n(.*)\n20\n(.*)\n").globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        points << match.captured(1) + " " + match.captured(2);
    }
    return points;
}

} // namespace

TEST(DxfWriter, RealsHaveOneDecimalTiesAwayFromZeroAndNeverNegativeZeroNanOrInf)
{
    EXPECT_EQ(reals({-1250.46, -999.95001, 0.25, -0.25, -4096.25, 0.35, 9.95, 4503599627370495.5, 1e20, -0.0, -0.04,
                     -0.05, -4.9e-324, std::nan(""), INFINITY, -INFINITY}),
              (QList<QByteArray>{"-1250.5", "-1000.0", "0.3", "-0.3", "-4096.3", "0.3", "9.9", "4503599627370495.5",
                                 "100000000000000000000.0", "0.0", "0.0", "-0.1", "0.0", "0.0", "0.0", "0.0"}));
}

TEST(FloorPlans, EmptyFloorGivesTheSkeletonAndScansAreDrawnTopmostFirstInTheDxf)
{
    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    QByteArray dxf = floor->exportDxf();
    EXPECT_TRUE(dxf.contains("9\n$EXTMIN\n10\n0.0\n20\n0.0\n9\n$EXTMAX\n10\n0.0\n20\n0.0\n"));
    EXPECT_TRUE(dxf.endsWith("0\nEOF\n") && dxf.contains("2\nENTITIES\n0\nENDSEC\n"));
    EXPECT_EQ(floor->exportSvg().documentElement().attribute("viewBox"), "0.0 0.0 0.0 0.0");

    // Entity handles follow the tables' in hex; scene points (980, 2010) and (993, 1995) are written y up.
    Panorama* pano = placeScan(floor, "a", PanoType::Full, {1000, 2000}, 90, {{10, 20}, {-5, 7}});
    placeScan(floor, "map", PanoType::Map, {-3000, 0}, 0, {{100, 100}}); // in the extents only
    dxf = floor->exportDxf();
    EXPECT_TRUE(dxf.contains("0\nPOINT\n5\n35\n100\nAcDbEntity\n8\nP\n100\nAcDbPoint\n10\n980.0\n20\n-2010.0\n"
                             "0\nPOINT\n5\n36\n100\nAcDbEntity\n8\nP\n100\nAcDbPoint\n10\n993.0\n20\n-1995.0\n"
                             "0\nLWPOLYLINE\n5\n37\n"));
    EXPECT_EQ(dxf.count("0\nLWPOLYLINE\n"), 1);
    EXPECT_TRUE(dxf.contains("\n90\n13\n") && dxf.contains("10\n1000.0\n20\n-2150.0\n")) << "the marker, turned";
    EXPECT_TRUE(dxf.contains("9\n$EXTMIN\n10\n-2900.0\n20\n-2011.0\n9\n$EXTMAX\n10\n1001.0\n20\n-100.0\n"));
    const QString svg = floor->exportSvg().toString(0);
    EXPECT_TRUE(svg.contains("viewBox=\"-2900.0 100.0 3901.0 1911.0\"") && svg.count("<g ") == 2) << svg.toStdString();
    EXPECT_TRUE(svg.contains("id=\"scan" + QString::number(pano->uniqueId()) + "\""));
    EXPECT_TRUE(svg.contains("transform=\"translate(1000.0,  2000.0) rotate(90.00) \""));

    placeScan(floor, "top", PanoType::User, {100, 0}, 0, {{2, 2}})->setZValue(2);
    EXPECT_EQ(pointTexts(floor->exportDxf()), (QStringList{"102.0 -2.0", "980.0 -2010.0", "993.0 -1995.0"}));
    const QString stacked = floor->exportSvg().toString(0);
    EXPECT_GT(stacked.indexOf("translate(100.0,"), stacked.indexOf("translate(1000.0,")) << "the bottom scan first";
}

TEST(FloorPlans, DxfRoundsHalvesAwayFromZeroAndNeverWritesNegativeZero)
{
    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    Panorama* pano = placeScan(floor, "a", PanoType::Partial, {0.5, 12.5}, 0, {{0, 0}, {-1, -25}, {0, -13}, {-1, -12}});
    EXPECT_EQ(pointTexts(floor->exportDxf()), (QStringList{"1.0 -13.0", "-1.0 13.0", "1.0 1.0", "-1.0 -1.0"}));
    pano->setPos(0.5, 12.6); // the third point's y is now -0.4, which rounds to a negative zero
    const QByteArray dxf = floor->exportDxf();
    EXPECT_EQ(pointTexts(dxf), (QStringList{"1.0 -13.0", "-1.0 12.0", "1.0 0.0", "-1.0 -1.0"}));
    EXPECT_FALSE(dxf.contains("-0.0") || dxf.toLower().contains("nan") || dxf.toLower().contains("inf"));
}
