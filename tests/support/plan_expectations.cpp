#include "support/plan_expectations.h"

#include "model/panorama.h"
#include "support/plan_check.h"

#include <QImageReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace testsupport {

namespace {

// Where the DXF puts an outline point: its scene position rounded, y up.
QPointF dxfPoint(const Panorama* pano, const QPoint& point)
{
    const QPointF scene = pano->mapToScene(QPointF(point));
    return {std::round(scene.x()), -std::round(scene.y())};
}

bool lessXY(const QPointF& a, const QPointF& b)
{
    return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
}

} // namespace

void expectPlansShowScans(const QString& dxfPath, const QString& svgPath, const QList<Panorama*>& scans)
{
    QList<QPointF> expected;
    for (const Panorama* pano : scans)
        for (const QPoint& point : pano->outline())
            expected << dxfPoint(pano, point);

    const DxfPlanReport dxf = readDxfPlan(dxfPath);
    ASSERT_TRUE(dxf.failure.isEmpty()) << dxf.failure.toStdString();
    EXPECT_TRUE(dxf.auditErrors.isEmpty()) << dxf.auditErrors.join("; ").toStdString();
    EXPECT_EQ(dxf.acadVersion, "AC1015");
    EXPECT_EQ(dxf.insUnits, 4);
    QList<QPointF> written = dxf.points;
    std::sort(written.begin(), written.end(), lessXY);
    std::sort(expected.begin(), expected.end(), lessXY);
    EXPECT_EQ(written, expected);
    EXPECT_EQ(dxf.markerVertices, QList<int>(scans.size(), 13));

    EXPECT_EQ(xmllintComplaint(svgPath), QString());
    const SvgPlanReport svg = readSvgPlan(svgPath);
    ASSERT_TRUE(svg.failure.isEmpty()) << svg.failure.toStdString();
    ASSERT_EQ(svg.groupIds.size(), scans.size());
    QString failure;
    // A floor's plan at one pixel per millimetre is larger than Qt reads by default; the program
    // raises the limit the same way at start-up.
    const int allocationLimit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1024);
    const QImage image = renderSvg(svgPath, &failure);
    QImageReader::setAllocationLimit(allocationLimit);
    ASSERT_FALSE(image.isNull()) << failure.toStdString();
    EXPECT_LT(std::abs(image.width() - svg.viewBox.width()), 1.0) << "one pixel per millimetre";
    EXPECT_LT(std::abs(image.height() - svg.viewBox.height()), 1.0);
    // The view box keeps one decimal, which may put an extreme point a hair outside the image;
    // the edge pixel is still covered by its square.
    const auto pixelAt = [&](const QPointF& scene) {
        return QPoint(std::clamp(int(std::floor(scene.x() - svg.viewBox.x())), 0, image.width() - 1),
                      std::clamp(int(std::floor(scene.y() - svg.viewBox.y())), 0, image.height() - 1));
    };

    for (Panorama* pano : scans) {
        const qsizetype group = svg.groupIds.indexOf("scan" + QString::number(pano->uniqueId()));
        ASSERT_GE(group, 0) << "no group for scan " << pano->uniqueId();
        const QList<QPointF>& centres = svg.squareCentres[group];
        ASSERT_EQ(centres.size(), pano->outline().size());
        int far = 0;
        int notBlack = 0;
        for (qsizetype i = 0; i < centres.size(); ++i) {
            const QPoint own = pano->outline()[i];
            const QPointF point = dxfPoint(pano, own);
            // The DXF rounds to whole millimetres; the SVG's transform keeps one decimal of the
            // position and two of the rotation in degrees, which moves a point by up to this much.
            const double slack = 0.05 + std::hypot(own.x(), own.y()) * (0.005 * M_PI / 180) + 1e-6;
            far += std::abs(centres[i].x() - point.x()) > 0.5 + slack || std::abs(centres[i].y() + point.y()) > 0.5 + slack;
            const QRgb rgba = image.pixel(pixelAt(pano->mapToScene(QPointF(pano->outline()[i]))));
            notBlack += qAlpha(rgba) != 255 || qRed(rgba) != 0 || qGreen(rgba) != 0 || qBlue(rgba) != 0;
        }
        EXPECT_EQ(far, 0) << "squares off their DXF point, scan " << pano->uniqueId() << " of " << centres.size();
        EXPECT_EQ(notBlack, 0) << "points not black, scan " << pano->uniqueId() << " of " << centres.size();
    }
}

} // namespace testsupport
