#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: Qt started once, a quiet log, and a scratch folder inside the
// system's temporary folder for the readers that take a path. A target writes nowhere else.
namespace fuzzsupport {

enum class App { Core, Widgets };

// Starts the application object the target's layer needs (the model's scenes need widgets, shown
// offscreen), silences the log (a warning per input would dominate the run), lets image decodes
// take what the program lets them take (a fuzzed header may ask for any size the program's
// readers accept) and keeps parallel loops on one thread.
void start(int* argc, char*** argv, App kind);

// The scratch folder, emptied; aborts (a finding) when the last input wrote beside it.
QString freshScratch();
// Writes bytes to a path below the scratch folder (parents made) and returns the full path.
QString put(const QString& relativePath, const QByteArray& bytes);
// Makes a folder below the scratch folder and returns its full path.
QString folder(const QString& relativePath);

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

} // namespace fuzzsupport
