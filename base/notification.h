#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>

// The process-wide message handler. Every failure the model reports is a Qt log message that ends
// here: a few known library warnings are dropped; debug goes to standard error only; warning, critical and fatal messages are appended,
// time-stamped, to the file that `logFilePath` names (when set); information, warning and critical
// messages are handed to the registered sinks (the pop-up and the message box, or a test's capture).
class Notification {
public:
    using Sink = std::function<void(QtMsgType type, const QString& text)>;

    static void showNotification(QtMsgType type, const QMessageLogContext& context, const QString& message);
    // Installs showNotification as the Qt message handler (once; later calls do nothing).
    static void install();

    // Sinks may be called from any thread; a handle is returned for removeSink.
    static int addSink(Sink sink);
    static void removeSink(int handle);

    // True for the library warnings the handler drops, recognised by how their text begins.
    static bool isDroppedLibraryWarning(QtMsgType type, const QString& text);

    // One line of the log file, without its line end: "yyyy-MM-dd hh:mm:ss " + "Warning: " + text.
    static QString logLine(QtMsgType type, const QString& text, const QDateTime& when);
    // The open project's log file; empty while no project is open.
    static void setLogFilePath(const QString& path);
    static QString logFilePath();
};
