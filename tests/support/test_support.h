#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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

} // namespace testsupport
