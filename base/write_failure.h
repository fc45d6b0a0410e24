#pragma once

#include <QByteArrayView>
#include <QFileDevice>
#include <QSaveFile>
#include <QString>

// Writes, flushes and commits that say why they failed. After a short write (a nearly full disk
// takes part of the data and refuses the rest) Qt names no cause, only "Unknown error"; the cause
// is then the error the system gave the failing call, taken here before anything can change it.
// Each returns false with `reason` set, e.g. "No space left on device".

bool writeAll(QFileDevice& file, QByteArrayView data, QString& reason);
bool flushAll(QFileDevice& file, QString& reason);
// Commits only what reached the file whole; otherwise the target stays as it was.
bool commitAll(QSaveFile& file, QString& reason);

// Why the last operation on `file` failed, given the error number the system left behind it.
QString writeFailureReason(const QFileDevice& file, int errorNumber);
