// Projects of every camera, their shots written as the camera writes them (the sky in each file's
// first rows), load, build and export panos that show the sky at the top, and their full panos put
// a planted marker where the camera's quick render puts it.
#include "base/cipher.h"
#include "camera/cam_params.h"
#include "imaging/scan_pictures.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/log_capture.h"
#include "support/openssl_envelope.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QImage>
#include <QPointF>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

using namespace testsupport;

namespace {
const QString kProjectName = "Sky Side";
constexpr int kQuickWidth = 1800;

QList<Panorama*> scansOf(Property& property)
{
    QList<Panorama*> scans;
    for (Building* building : property.buildings())
        for (Floor* floor : building->floors())
            scans += floor->panos();
    return scans;
}

double luma(QRgb c)
{
    return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

// Mean brightness of the picture's top and bottom fifths.
std::pair<double, double> topAndBottom(const QImage& image)
{
    double sums[2] = {0, 0};
    long counts[2] = {0, 0};
    const int band = image.height() / 5;
    for (int y = 0; y < image.height(); ++y) {
        const int part = y < band ? 0 : y >= image.height() - band ? 1 : -1;
        if (part < 0)
            continue;
        for (int x = 0; x < image.width(); ++x) {
            sums[part] += luma(image.pixel(x, y));
            ++counts[part];
        }
    }
    return {sums[0] / counts[0], sums[1] / counts[1]};
}

bool isRed(QRgb c)
{
    return qRed(c) > 170 && qGreen(c) < 95 && qBlue(c) < 95;
}

// The pixel centroids of the picture's red blobs (4-connected), largest first.
std::vector<std::pair<int, QPointF>> redBlobs(const QImage& image)
{
    const int w = image.width(), h = image.height();
    std::vector<char> seen(size_t(w) * h, 0);
    std::vector<std::pair<int, QPointF>> blobs;
    for (int y0 = 0; y0 < h; ++y0)
        for (int x0 = 0; x0 < w; ++x0) {
            if (seen[size_t(y0) * w + x0] || !isRed(image.pixel(x0, y0)))
                continue;
            std::vector<QPoint> stack{{x0, y0}};
            seen[size_t(y0) * w + x0] = 1;
            double sx = 0, sy = 0;
            int n = 0;
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                sx += p.x(), sy += p.y(), ++n;
                for (const QPoint& q : {QPoint(p.x() + 1, p.y()), QPoint(p.x() - 1, p.y()), QPoint(p.x(), p.y() + 1),
                                        QPoint(p.x(), p.y() - 1)}) {
                    if (q.x() < 0 || q.y() < 0 || q.x() >= w || q.y() >= h || seen[size_t(q.y()) * w + q.x()]
                        || !isRed(image.pixel(q)))
                        continue;
                    seen[size_t(q.y()) * w + q.x()] = 1;
                    stack.push_back(q);
                }
            }
            blobs.push_back({n, QPointF(sx / n, sy / n)});
        }
    std::sort(blobs.begin(), blobs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    return blobs;
}

// A point of a camera pano file of width W as a pixel position at the quick render's width: its
// column looks at 360 - 360 x / W degrees, its row at (W / 4 - 1 - y) 360 / W degrees up.
QPointF atQuickWidth(const QPointF& p, int width)
{
    const double scale = double(kQuickWidth) / width;
    const double elevationSteps = (width / 4.0 - 1.0 - p.y()) * scale; // in quick-render steps
    return {p.x() * scale, kQuickWidth / 4.0 - 1.0 - elevationSteps};
}

// What the scan's camera shows of its shots in its quick render, as a file would hold it.
QImage quickRender(Panorama& scan, const CamParams& camera)
{
    const SourceImages sources = scan.loadSourceImages();
    const auto image = [&](int k) {
        return sources.images[k].isEmpty() ? nullptr : reinterpret_cast<const uint8_t*>(sources.images[k].constData());
    };
    const int height = kQuickWidth / 2;
    QImage out(kQuickWidth, height, QImage::Format_RGB888);
    std::vector<uint8_t> rgb(size_t(kQuickWidth) * height * 3);
    camera.renderPano(image(0), image(1), image(2), kQuickWidth, height, scan.imageParams(), rgb.data());
    flipRows(rgb.data(), kQuickWidth, height);
    for (int y = 0; y < height; ++y)
        std::copy_n(rgb.data() + size_t(y) * kQuickWidth * 3, kQuickWidth * 3, out.scanLine(y));
    return out;
}

QImage picFromArchive(const QString& inside, Panorama& scan, const char* name)
{
    return QImage::fromData(opensslDecipher(readFile(inside + scan.exportLabel() + "/" + name), CipherKind::Data));
}

// Loads the project folder, exports it and checks every built scan's pictures in the archive.
void expectPanosRightSideUp(const QString& folder, int expectedScans)
{
    ScriptedPrompt prompt;
    LogCapture log;
    Property property;
    ASSERT_TRUE(property.load(folder)) << log.texts(QtWarningMsg).join("\n").toStdString();
    ASSERT_TRUE(runPostedJobs());
    for (Building* building : property.buildings())
        for (Floor* floor : building->floors())
            if (floor->gradeHint() == 0)
                floor->setGradeHint(2);
    QString html;
    ASSERT_TRUE(property.exportTar(html)) << log.texts(QtCriticalMsg).join("\n").toStdString();
    QTemporaryDir unpacked;
    const QString archive = folder + "/_Export/" + QDir(folder).dirName() + ".quoril.tar";
    ASSERT_EQ(runProcess("tar", {"-xf", archive, "-C", unpacked.path()}).exitCode, 0);
    const QString inside = unpacked.filePath(QDir(folder).dirName()) + "/";

    int scans = 0;
    for (Panorama* scan : scansOf(property)) {
        if (scan->panoType() != PanoType::Full)
            continue;
        ++scans;
        SCOPED_TRACE(scan->dir().toStdString());
        const QImage full = picFromArchive(inside, *scan, "s.pic");
        const QImage preview = picFromArchive(inside, *scan, "t.pic");
        ASSERT_EQ(full.size(), QSize(7200, 3600));
        ASSERT_EQ(preview.size(), QSize(1800, 900));
        for (const QImage* picture : {&full, &preview}) {
            const auto [top, bottom] = topAndBottom(*picture);
            EXPECT_GT(top, bottom + 30.0) << "the sky at the top, the floor at the bottom (width "
                                          << picture->width() << ")";
        }
        const auto quick = redBlobs(quickRender(*scan, *property.camParams()));
        ASSERT_FALSE(quick.empty()) << "the quick render shows the marker";
        const QPointF expected = quick.front().second;
        for (const QImage* picture : {&full, &preview}) {
            std::optional<QPointF> nearest;
            for (const auto& [size, centre] : redBlobs(*picture)) {
                const QPointF p = atQuickWidth(centre, picture->width());
                if (size >= 8 && (!nearest || QLineF(p, expected).length() < QLineF(*nearest, expected).length()))
                    nearest = p;
            }
            ASSERT_TRUE(nearest) << "no marker in the picture of width " << picture->width();
            EXPECT_LE(std::fabs(nearest->x() - expected.x()), 1.0) << "width " << picture->width();
            EXPECT_LE(std::fabs(nearest->y() - expected.y()), 1.0) << "width " << picture->width();
        }
    }
    EXPECT_EQ(scans, expectedScans);
}
} // namespace

TEST(PanoOrientation, LidarCameraScansShowTheSkyAtTheTopAndTheMarkerWhereTheQuickRenderHasIt)
{
    QTemporaryDir root;
    const QString folder = root.filePath(kProjectName);
    makeZtm5Project(folder, {"--scans", "2", "--side", "256", "--sky-scene"});
    expectPanosRightSideUp(folder, 2);
}

TEST(PanoOrientation, LaserLineCameraScansShowTheSkyAtTheTopAndTheMarkerWhereTheQuickRenderHasIt)
{
    QTemporaryDir root;
    const QString folder = root.filePath(kProjectName);
    makeProject(folder, {"--camera", "laser-line", "--floors", "1", "--scans-per-floor", "2", "--user-scans", "0",
                         "--lens-height", "256"});
    expectPanosRightSideUp(folder, 2);
}

TEST(PanoOrientation, TwoLensCameraScansShowTheSkyAtTheTopAndTheMarkerWhereTheQuickRenderHasIt)
{
    QTemporaryDir root;
    const QString folder = root.filePath(kProjectName);
    makeProject(folder, {"--floors", "1", "--scans-per-floor", "2", "--user-scans", "0", "--no-pictures",
                         "--no-missing-main-image", "--exportable", "--lens-height", "200"});
    expectPanosRightSideUp(folder, 2);
}
