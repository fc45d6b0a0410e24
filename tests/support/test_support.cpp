#include "support/test_support.h"

#include "base/main_thread.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <random>
#include <stdexcept>

#include <atomic>
#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUORIL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORIL_TEST_ASAN 1
#endif
#endif

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

namespace {

// What the process maps now: the first field of /proc/self/statm, in pages.
qint64 mappedBytes()
{
    const QList<QByteArray> fields = readFile(QStringLiteral("/proc/self/statm")).split(' ');
    return fields.isEmpty() ? -1 : fields.front().toLongLong() * ::sysconf(_SC_PAGESIZE);
}

} // namespace

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    // LLVM's OpenMP runtime registers itself in a shared-memory file when it starts; under a limit
    // of a few bytes that fails and ends the process. Started before the limit, it is left alone.
    std::atomic<int> started{0};
#pragma omp parallel
    ++started;
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    m_savedSoft = saved.rlim_cur;
    m_savedHard = saved.rlim_max;
    m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(bytes);
    if (::setrlimit(RLIMIT_FSIZE, &limited) != 0)
        throw std::runtime_error("could not limit the file size");
}

FileSizeLimit::~FileSizeLimit()
{
    const rlimit saved{rlim_t(m_savedSoft), rlim_t(m_savedHard)};
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, m_savedHandler);
}

AddressSpaceHeadroom::AddressSpaceHeadroom(qint64 headroomBytes)
{
#ifndef QUORIL_TEST_ASAN
    rlimit saved{};
    const qint64 mapped = mappedBytes();
    if (mapped <= 0 || ::getrlimit(RLIMIT_AS, &saved) != 0)
        return;
    m_savedSoft = saved.rlim_cur;
    m_savedHard = saved.rlim_max;
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(mapped + headroomBytes);
    m_active = limited.rlim_cur < saved.rlim_max && ::setrlimit(RLIMIT_AS, &limited) == 0;
#else
    Q_UNUSED(headroomBytes);
#endif
}

AddressSpaceHeadroom::~AddressSpaceHeadroom()
{
    if (!m_active)
        return;
    const rlimit saved{rlim_t(m_savedSoft), rlim_t(m_savedHard)};
    ::setrlimit(RLIMIT_AS, &saved);
}

} // namespace testsupport
