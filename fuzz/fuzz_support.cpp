#include "fuzz_support.h"

#include "imaging/image_io.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

namespace {

QTemporaryDir& scratchRoot()
{
    static QTemporaryDir root(QDir::tempPath() + "/quoril-fuzz-XXXXXX");
    return root;
}

void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

} // namespace

void start(int*, char*** argv, App kind)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // One thread per parallel loop: runs repeat exactly, and no thread spins waiting for others.
    // A loop that asks for its threads by number gets them; they wait without spinning.
    qputenv("OMP_NUM_THREADS", "1");
    qputenv("OMP_WAIT_POLICY", "passive");
    qInstallMessageHandler(quiet);
    // Never destroyed: the fuzzer ends the process with exit(), when Qt's own globals may already
    // be gone. Its arguments are the program name alone; the fuzzer's options are not Qt's.
    static int appArgc = 1;
    static char* appArgv[] = {(*argv)[0], nullptr};
    if (kind == App::Widgets)
        new QApplication(appArgc, appArgv);
    else
        new QCoreApplication(appArgc, appArgv);
    QImageReader::setAllocationLimit(kImageReaderLimitMb);
    if (!scratchRoot().isValid())
        std::abort();
}

QString freshScratch()
{
    // The scratch folder is "s" inside a root of its own: anything else in the root was written by
    // a reader through a name that left the folder it was given ("../x").
    const QStringList escaped = QDir(scratchRoot().path())
                                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                                    .filter(QRegularExpression("^(?!s$)"));
    if (!escaped.isEmpty()) {
        fprintf(stderr, "written outside the scratch folder: %s\n", qPrintable(escaped.join(", ")));
        std::abort();
    }
    const QString path = scratchRoot().path() + "/s";
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

QString put(const QString& relativePath, const QByteArray& bytes)
{
    const QString path = scratchRoot().path() + "/s/" + relativePath;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return path;
}

QString folder(const QString& relativePath)
{
    const QString path = scratchRoot().path() + "/s/" + relativePath;
    QDir().mkpath(path);
    return path;
}

} // namespace fuzzsupport
