#include "base/synced_file.h"

#include "base/write_failure.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

[[noreturn]] void throwWriteFailure(const QString& path, const QString& reason)
{
    throw std::runtime_error(QStringLiteral("Could not write %1: %2").arg(path, reason).toStdString());
}

void syncFolderOf(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    // The rename already happened; a folder that cannot be synced only weakens power-cut safety.
    ::fsync(fd);
    ::close(fd);
}

} // namespace

void SyncedFile::writeAndClose(const QByteArray& data)
{
    const QString path = m_file.fileName();
    QString reason;
    if (!writeAll(m_file, data, reason) || !flushAll(m_file, reason))
        throwWriteFailure(path, reason);
    // Special files (a device in the file's place) have nothing to sync and say so with EINVAL.
    if (::fsync(m_file.handle()) != 0 && errno != EINVAL)
        throwWriteFailure(path, QString::fromLocal8Bit(std::strerror(errno)));
    errno = 0;
    m_file.close();
    if (m_file.error() != QFileDevice::NoError)
        throwWriteFailure(path, writeFailureReason(m_file, errno));
}

bool renameReplacing(const QString& from, const QString& to)
{
    // Plain rename(2): never the copy that QFile::rename falls back to, which is not atomic.
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return false;
    syncFolderOf(to);
    return true;
}

bool copyReplacing(const QString& source, const QString& to)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // A fixed name, so that a copy broken off by a pulled drive is overwritten by the next one.
    const QString partial = to + QStringLiteral(".part");
    QFile out(partial);
    const auto fail = [&] {
        out.close();
        QFile::remove(partial);
        return false;
    };
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail();
    constexpr qint64 kPiece = 4 * 1024 * 1024;
    QByteArray piece(kPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(piece.data(), kPiece);
        if (got < 0)
            return fail();
        if (got == 0)
            break;
        if (out.write(piece.constData(), got) != got)
            return fail();
    }
    if (!out.flush())
        return fail();
    if (::fsync(out.handle()) != 0 && errno != EINVAL)
        return fail();
    out.close();
    if (out.error() != QFileDevice::NoError)
        return fail();
    if (!renameReplacing(partial, to)) {
        QFile::remove(partial);
        return false;
    }
    return true;
}
