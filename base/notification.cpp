#include "base/notification.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct SinkEntry {
    int handle;
    std::shared_ptr<Notification::Sink> sink;
};

QMutex& sinkMutex()
{
    static QMutex mutex;
    return mutex;
}

std::vector<SinkEntry>& sinks()
{
    static std::vector<SinkEntry> list;
    return list;
}

QMutex& logFileMutex()
{
    static QMutex mutex;
    return mutex;
}

// Guarded by logFileMutex: the load sets it on the GUI thread while pool threads may log.
QString& logFilePathValue()
{
    static QString path;
    return path;
}

const char* logPrefix(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg: return "Warning: ";
    case QtCriticalMsg: return "Error: ";
    case QtFatalMsg: return "Fatal: ";
    default: return nullptr;
    }
}

void appendToLogFile(QtMsgType type, const QString& text)
{
    const QByteArray line = (Notification::logLine(type, text, QDateTime::currentDateTime()) + "\n").toUtf8();
    QMutexLocker lock(&logFileMutex());
    const QString path = logFilePathValue();
    if (path.isEmpty())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line);
}

void deliverToSinks(QtMsgType type, const QString& text)
{
    std::vector<std::shared_ptr<Notification::Sink>> targets;
    {
        QMutexLocker lock(&sinkMutex());
        for (const SinkEntry& entry : sinks())
            targets.push_back(entry.sink);
    }
    // Called outside the lock, so that a sink may log or remove itself.
    for (const auto& sink : targets)
        (*sink)(type, text);
}

// Warnings of Qt and its platform plugins that tell the user nothing (window-system limits of the
// offscreen and X11 plugins, font set-up, the runtime folder of a root session, colour profiles of
// PNG icons); each would otherwise open a message box and land in the project log.
constexpr std::array<QLatin1StringView, 9> droppedWarningPrefixes{{
    QLatin1StringView("This plugin does not support"),
    QLatin1StringView("QStandardPaths: XDG_RUNTIME_DIR not set"),
    QLatin1StringView("QStandardPaths: runtime directory"),
    QLatin1StringView("QFont::setPointSizeF: Point size <= 0"),
    QLatin1StringView("Populating font family aliases took"),
    QLatin1StringView("QFontDatabase: Cannot find font directory"),
    QLatin1StringView("Note that Qt no longer ships fonts"),
    QLatin1StringView("libpng warning: iCCP"),
    QLatin1StringView("QXcbConnection: XCB error"),
}};

} // namespace

bool Notification::isDroppedLibraryWarning(QtMsgType type, const QString& text)
{
    if (type != QtWarningMsg)
        return false;
    return std::any_of(droppedWarningPrefixes.cbegin(), droppedWarningPrefixes.cend(),
                       [&](QLatin1StringView prefix) { return text.startsWith(prefix); });
}

QString Notification::logLine(QtMsgType type, const QString& text, const QDateTime& when)
{
    const char* prefix = logPrefix(type);
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + QLatin1String(prefix ? prefix : "") + text;
}

void Notification::showNotification(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (isDroppedLibraryWarning(type, message))
        return;
    const QString formatted = qFormatLogMessage(type, context, message);
    std::fprintf(stderr, "%s\n", formatted.toLocal8Bit().constData());
    std::fflush(stderr);
    if (type == QtDebugMsg)
        return;
    if (logPrefix(type))
        appendToLogFile(type, message);
    if (type != QtFatalMsg)
        deliverToSinks(type, message);
}

void Notification::install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    qInstallMessageHandler(&Notification::showNotification);
}

int Notification::addSink(Sink sink)
{
    static int lastHandle = 0;
    QMutexLocker lock(&sinkMutex());
    const int handle = ++lastHandle;
    sinks().push_back({handle, std::make_shared<Sink>(std::move(sink))});
    return handle;
}

void Notification::removeSink(int handle)
{
    QMutexLocker lock(&sinkMutex());
    auto& list = sinks();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const SinkEntry& e) { return e.handle == handle; }),
               list.end());
}

void Notification::setLogFilePath(const QString& path)
{
    QMutexLocker lock(&logFileMutex());
    logFilePathValue() = path;
}

QString Notification::logFilePath()
{
    QMutexLocker lock(&logFileMutex());
    return logFilePathValue();
}
