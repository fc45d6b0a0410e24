#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>
#include <stdexcept>

// GoogleTest shows Qt strings as text in failure messages. It must be seen by every test file
// that compares them, or the programs would hold differing copies of the same printer.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace testsupport {

// Result of running an outside tool (an oracle the product never links).
struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool started = false;
};

// Runs a program with arguments, optionally feeding stdin; waits up to timeoutMs.
ProcessResult runProcess(const QString& program, const QStringList& args,
                         const QByteArray& stdinData = {}, int timeoutMs = 120000,
                         const QString& workingDir = {});

// Debian's python3 (with python3-ezdxf, numpy, crcmod); the first python3 on PATH may lack them.
QString systemPython();

// True when a tool is on PATH (tests that need it skip with a message otherwise outside CI).
bool haveTool(const QString& name);

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& data);

// SHA-1 of a file as computed by sha1sum (40 lower-case hex digits).
QString sha1sumOf(const QString& path);

// Sorted recursive listing of a folder, relative paths, folders with a trailing "/".
QStringList listTree(const QString& root);

// Deterministic pseudo-random bytes for fixtures.
QByteArray pseudoRandomBytes(qsizetype n, quint32 seed);

// The message of the std::runtime_error an action throws, or a marker when it throws none.
template <typename F>
QString thrownMessage(F&& action)
{
    try {
        action();
    } catch (const std::runtime_error& e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("(nothing thrown)");
}

// Lets the event loop run (deferred deletes included) until done() holds or the time is up;
// returns done(). Jobs posted to the GUI thread run in here.
template <typename Predicate>
bool processEventsUntil(Predicate done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

inline void processEventsFor(int ms)
{
    processEventsUntil([] { return false; }, ms);
}

// Runs every job already posted to the GUI thread (the scans' outlines after a load, say): a
// marker posted behind them tells when they have all run.
bool runPostedJobs(int timeoutMs = 10000);

// A tool's standard output as lines, without empty ones.
QStringList outputLines(const ProcessResult& result);

// Limits the size of every file the process writes while it lives, the way a nearly full disk
// does: a write across the limit is cut short and the next one fails (with EFBIG, where a full
// disk gives ENOSPC). The signal such a write raises is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    quint64 m_savedSoft = 0;
    quint64 m_savedHard = 0;
    void (*m_savedHandler)(int) = nullptr;
};

// Lets the process map at most `headroomBytes` more address space while it lives, so a reader
// that reserves a large buffer up front fails (std::bad_alloc) where one that grows with its
// input does not. Does nothing under AddressSanitizer, whose shadow memory needs the space:
// `active()` tells whether the limit holds.
class AddressSpaceHeadroom {
public:
    explicit AddressSpaceHeadroom(qint64 headroomBytes);
    ~AddressSpaceHeadroom();
    AddressSpaceHeadroom(const AddressSpaceHeadroom&) = delete;
    AddressSpaceHeadroom& operator=(const AddressSpaceHeadroom&) = delete;
    bool active() const { return m_active; }

private:
    bool m_active = false;
    quint64 m_savedSoft = 0;
    quint64 m_savedHard = 0;
};

} // namespace testsupport
