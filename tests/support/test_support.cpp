#include "support/test_support.h"

#include "app/gui_helpers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <random>
#include <stdexcept>

namespace testsupport {

ProcessResult runProcess(const QString& program, const QStringList& args, const QByteArray& stdinData,
                         int timeoutMs, const QString& workingDir)
{
    ProcessResult result;
    QProcess process;
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, args);
    if (!process.waitForStarted(30000))
        return result;
    result.started = true;
    if (!stdinData.isEmpty())
        process.write(stdinData);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString systemPython()
{
    return QStringLiteral("/usr/bin/python3");
}

bool haveTool(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("test fixture: cannot read " + path.toStdString());
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        throw std::runtime_error("test fixture: cannot write " + path.toStdString());
}

QString sha1sumOf(const QString& path)
{
    ProcessResult r = runProcess("sha1sum", {path});
    if (r.exitCode != 0)
        return {};
    return QString::fromLatin1(r.out.left(40));
}

QStringList listTree(const QString& root)
{
    QStringList entries;
    QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        QString rel = base.relativeFilePath(it.filePath());
        if (it.fileInfo().isDir() && !it.fileInfo().isSymLink())
            rel += '/';
        entries << rel;
    }
    entries.sort();
    return entries;
}

bool runPostedJobs(int timeoutMs)
{
    bool done = false;
    runOnMainThread([&done] { done = true; });
    return processEventsUntil([&done] { return done; }, timeoutMs);
}

QByteArray pseudoRandomBytes(qsizetype n, quint32 seed)
{
    std::mt19937 gen(seed);
    QByteArray data(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        data[i] = char(gen() & 0xff);
    return data;
}

QStringList outputLines(const ProcessResult& result)
{
    return QString::fromUtf8(result.out).split('\n', Qt::SkipEmptyParts);
}

} // namespace testsupport
