#include "base/write_failure.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace {

// Qt's text for a device that recorded no cause, in the language in use.
const QString& noCauseText()
{
    static const QString text = QFile().errorString();
    return text;
}

template <typename Operation>
bool explained(QFileDevice& file, QString& reason, Operation operation)
{
    errno = 0;
    if (operation())
        return true;
    reason = writeFailureReason(file, errno);
    return false;
}

} // namespace

QString writeFailureReason(const QFileDevice& file, int errorNumber)
{
    const QString text = file.errorString();
    if (file.error() != QFileDevice::NoError && !text.isEmpty() && text != noCauseText())
        return text;
    if (errorNumber != 0)
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    // Nothing below told why; the usual reason the data stops short.
    return QStringLiteral("Not all of the data could be written; the disk may be full");
}

bool writeAll(QFileDevice& file, QByteArrayView data, QString& reason)
{
    return explained(file, reason, [&] { return file.write(data.data(), data.size()) == data.size(); });
}

bool flushAll(QFileDevice& file, QString& reason)
{
    return explained(file, reason, [&] { return file.flush(); });
}

bool commitAll(QSaveFile& file, QString& reason)
{
    // The commit itself misses a flush cut short and would put the truncated file in place.
    if (!flushAll(file, reason)) {
        file.cancelWriting();
        return false;
    }
    return explained(file, reason, [&] { return file.commit(); });
}
