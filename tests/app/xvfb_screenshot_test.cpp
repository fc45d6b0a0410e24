#include "support/project_generator.h"
#include "support/test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Pixels of the scan markers' colour (0, 170, 255) with the floor view's black background close
// by: scans drawn in the floor view, not some other blue of the window.
int markerPixelsInFloorView(const QImage& shot)
{
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    auto black = [&](int x, int y) { return (image.pixel(x, y) & 0xf0f0f0) == 0; };
    int count = 0;
    for (int y = 6; y < image.height() - 6; ++y)
        for (int x = 6; x < image.width() - 6; ++x) {
            const QRgb p = image.pixel(x, y);
            count += qRed(p) < 60 && std::abs(qGreen(p) - 170) < 40 && qBlue(p) > 215
                     && (black(x - 6, y) || black(x + 6, y) || black(x, y - 6) || black(x, y + 6));
        }
    return count;
}

} // namespace

TEST(XvfbScreenshot, ProgramOpensAProjectAndShowsItsScansOnTheFloor)
{
    if (!haveTool("xvfb-run") || !haveTool("xauth") || !haveTool("import")) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << "xvfb-run, xauth and ImageMagick's import are needed (scripts/deps --test)";
        GTEST_SKIP() << "xvfb-run, xauth or ImageMagick's import is not installed";
    }
    QTemporaryDir home;
    const QString project = home.filePath("Maple Street");
    makeProject(project, {"--scans-per-floor", "0", "--user-scans", "3", "--lens-height", "64"});
    // Kept beside the test run for a look when it fails.
    const QString shot = QDir::current().filePath("xvfb-screenshot.png");
    QFile::remove(shot);
    const QString stop = home.filePath("stop");

    // Inside the X session the program runs (on the real X server, with settings of its own, boxes
    // that wait for no click, and the project chooser answering with the project, which it opens at
    // start) while screenshots are taken until the test has seen enough; status 3: it ended by itself.
    const QString script = R"(QT_QPA_PLATFORM=xcb HOME="$4" XDG_CONFIG_HOME="$4/.config" QUORIL_NONBLOCKING_MESSAGES=1 \
        QUORIL_PROJECT_FOLDER="$5" "$1" & pid=$!
        while [ ! -e "$3" ] && kill -0 $pid 2>/dev/null; do
            import -window root "$2.part.png" && mv "$2.part.png" "$2"; sleep 0.5
        done
        kill -0 $pid 2>/dev/null || exit 3
        kill $pid; wait $pid; exit 0)";
    QProcess session;
    session.setProcessChannelMode(QProcess::MergedChannels);
    session.start("xvfb-run", {"-a", "-s", "-screen 0 1280x900x24", "sh", "-c", script, "sh", QUORIL_BINARY, shot, stop,
                                 home.path(), project});
    ASSERT_TRUE(session.waitForStarted());

    int markers = 0;
    const QDeadlineTimer deadline(180000);
    while (markers < 50 && !deadline.hasExpired() && session.state() == QProcess::Running) {
        session.waitForFinished(500);
        const QImage image(shot);
        markers = image.isNull() ? 0 : markerPixelsInFloorView(image);
    }
    writeFile(stop, {});
    if (!session.waitForFinished(30000))
        session.kill();
    EXPECT_EQ(session.exitCode(), 0) << session.readAll().toStdString();
    EXPECT_GE(markers, 50) << "screenshot: " << shot.toStdString();
}
