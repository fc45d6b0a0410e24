#include "support/project_generator.h"
#include "support/test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace testsupport;

namespace {

// The real program on a real X server: xvfb-run starts Xvfb and the program; the session's
// display, its authority file and the program's process id are written to a file, so that
// screenshots can be taken from outside while it runs.
class XvfbSession {
public:
    explicit XvfbSession(const QProcessEnvironment& programEnvironment)
    {
        const QString script = QStringLiteral(
            "printf '%s\\n%s\\n%s\\n' \"$DISPLAY\" \"$XAUTHORITY\" \"$$\" > \"$1.part\" && mv \"$1.part\" \"$1\"; "
            "exec \"$2\"");
        m_process.setProcessEnvironment(programEnvironment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("xvfb-run"),
                        {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x900x24"),
                         QStringLiteral("sh"), QStringLiteral("-c"), script, QStringLiteral("sh"), infoPath(),
                         QStringLiteral(QUORIL_BINARY)});
    }

    ~XvfbSession()
    {
        if (m_programPid > 0)
            ::kill(m_programPid, SIGTERM);
        if (!m_process.waitForFinished(20000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Waits for the session to come up; false when it does not within the time.
    bool waitForProgram(int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            QFile info(infoPath());
            if (info.open(QIODevice::ReadOnly)) {
                const QStringList lines = QString::fromLocal8Bit(info.readAll()).split('\n');
                if (lines.size() >= 3) {
                    m_display = lines[0];
                    m_authority = lines[1];
                    m_programPid = lines[2].toInt();
                    return !m_display.isEmpty() && m_programPid > 0;
                }
            }
            QThread::msleep(100);
        }
        return false;
    }

    bool programRunning() const { return m_programPid > 0 && ::kill(m_programPid, 0) == 0; }
    QByteArray output() { return m_process.readAll(); }

    // The whole screen, written to `path` and read back.
    QImage screenshot(const QString& path)
    {
        QProcess import;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XAUTHORITY"), m_authority);
        import.setProcessEnvironment(environment);
        import.start(QStringLiteral("import"),
                     {QStringLiteral("-display"), m_display, QStringLiteral("-window"), QStringLiteral("root"), path});
        if (!import.waitForFinished(30000) || import.exitCode() != 0)
            return {};
        return QImage(path);
    }

private:
    QString infoPath() const { return m_dir.filePath(QStringLiteral("session.txt")); }

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_display;
    QString m_authority;
    qint64 m_programPid = 0;
};

QProcessEnvironment programEnvironment(const QString& home, const QString& project)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A real X server, not the tests' offscreen one; settings of its own; no box waits for a click.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("QUORIL_NONBLOCKING_MESSAGES"), QStringLiteral("1"));
    // The project chooser answers with this folder, and the program opens it at start.
    environment.insert(QStringLiteral("QUORIL_PROJECT_FOLDER"), project);
    return environment;
}

bool haveXvfbTools()
{
    return haveTool(QStringLiteral("xvfb-run")) && haveTool(QStringLiteral("xauth"))
           && haveTool(QStringLiteral("import"));
}

// Pixels of the scan markers' colour (0, 170, 255) with the floor view's black background close
// by: scans drawn in the floor view, not some other blue of the window.
int markerPixelsInFloorView(const QImage& shot)
{
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    auto isMarker = [](QRgb p) { return qRed(p) < 60 && std::abs(qGreen(p) - 170) < 40 && qBlue(p) > 215; };
    auto isBackground = [](QRgb p) { return qRed(p) < 16 && qGreen(p) < 16 && qBlue(p) < 16; };
    int count = 0;
    for (int y = 6; y < image.height() - 6; ++y)
        for (int x = 6; x < image.width() - 6; ++x) {
            if (!isMarker(image.pixel(x, y)))
                continue;
            const bool onFloor = isBackground(image.pixel(x - 6, y)) || isBackground(image.pixel(x + 6, y))
                                 || isBackground(image.pixel(x, y - 6)) || isBackground(image.pixel(x, y + 6));
            count += onFloor;
        }
    return count;
}

} // namespace

TEST(XvfbScreenshot, ProgramOpensAProjectAndShowsItsScansOnTheFloor)
{
    if (!haveXvfbTools()) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << "xvfb-run, xauth and ImageMagick's import are needed (scripts/deps --test)";
        GTEST_SKIP() << "xvfb-run, xauth or ImageMagick's import is not installed";
    }
    QTemporaryDir home;
    const QString project = home.filePath("Maple Street");
    makeProject(project, {"--scans-per-floor", "0", "--user-scans", "3", "--lens-height", "64"});
    XvfbSession session(programEnvironment(home.path(), project));
    ASSERT_TRUE(session.waitForProgram(60000)) << session.output().toStdString();

    // The screenshot is kept beside the test run for a look when it fails.
    const QString shotPath = QDir::current().filePath(QStringLiteral("xvfb-screenshot.png"));
    QImage shot;
    int markers = 0;
    const QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired() && session.programRunning()) {
        shot = session.screenshot(shotPath);
        markers = shot.isNull() ? 0 : markerPixelsInFloorView(shot);
        if (markers >= 50)
            break;
        QThread::msleep(500);
    }
    ASSERT_TRUE(session.programRunning()) << session.output().toStdString();
    ASSERT_FALSE(shot.isNull());
    EXPECT_GE(markers, 50) << "screenshot: " << shotPath.toStdString();
}
