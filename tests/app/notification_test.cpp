#include "app/notification.h"
#include "project/constants.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace testsupport;

namespace {
// Points the project log at a file for one test.
struct LogFileScope {
    QTemporaryDir dir;
    QString previous = logFilePath;
    LogFileScope() { logFilePath = dir.filePath("quorillog.txt"); }
    ~LogFileScope() { logFilePath = previous; }
    QStringList lines() const { return QString::fromUtf8(readFile(logFilePath)).split('\n', Qt::SkipEmptyParts); }
};
}

TEST(Notification, SinksGetInformationWarningsAndErrorsButNoDebug)
{
    LogCapture log;
    qDebug() << "debug only";
    qInfo().noquote() << "Project saved.";
    qWarning().noquote() << "Could not copy image";
    qCritical().noquote() << "Could not create directory:";
    const QList<LogCapture::Entry> entries = log.entries();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].type, QtInfoMsg);
    EXPECT_EQ(entries[0].text, "Project saved.");
    EXPECT_EQ(entries[1].type, QtWarningMsg);
    EXPECT_EQ(entries[2].type, QtCriticalMsg);

    auto inner = std::make_unique<LogCapture>();
    inner.reset();
    qWarning("after the inner capture ended");
    EXPECT_EQ(log.entries().size(), 4);
}

TEST(Notification, WarningsAndErrorsAreAppendedTimeStampedToTheProjectLog)
{
    LogFileScope scope;
    writeFile(logFilePath, "2020-01-01 00:00:00 Warning: from an earlier session\n");
    LogCapture log;
    qInfo("shown only");
    qDebug("debug only");
    qWarning().noquote() << "Could not copy image a.jpg";
    qCritical().noquote() << "Could not create directory: /x";
    const QStringList lines = scope.lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "2020-01-01 00:00:00 Warning: from an earlier session");
    const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )");
    EXPECT_TRUE(stamp.match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" Warning: Could not copy image a.jpg"));
    EXPECT_TRUE(lines[2].endsWith(" Error: Could not create directory: /x"));
    EXPECT_EQ(Notification::logLine(QtFatalMsg, "x", QDateTime(QDate(2024, 2, 3), QTime(4, 5, 6))),
              "2024-02-03 04:05:06 Fatal: x");
}

TEST(Notification, MessagesFromManyThreadsArriveWholeAndComplete)
{
    LogFileScope scope;
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                qWarning().noquote() << QString("thread %1 message %2").arg(t).arg(i);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(log.texts(QtWarningMsg).size(), 1600);
    const QStringList lines = scope.lines();
    ASSERT_EQ(lines.size(), 1600);
    const QRegularExpression whole(R"(^\S+ \S+ Warning: thread \d message \d+$)");
    for (const QString& line : lines)
        ASSERT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
}

TEST(Notification, NoLogFileWhenNoProjectIsOpen)
{
    QTemporaryDir dir;
    const QString previous = logFilePath;
    logFilePath.clear();
    qWarning("nowhere to write");
    logFilePath = previous;
    EXPECT_TRUE(listTree(dir.path()).isEmpty());
}
