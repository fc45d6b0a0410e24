#include "base/file_compare.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr qint64 kChunkBytes = 1 << 20;
}

bool sameFileContent(const QString& first, const QString& second)
{
    const QFileInfo a(first), b(second);
    if (!a.isFile() || !b.isFile() || a.size() != b.size())
        return false;
    QFile fa(first), fb(second);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    while (!fa.atEnd()) {
        const QByteArray chunk = fa.read(kChunkBytes);
        if (chunk.isEmpty() || fb.read(chunk.size()) != chunk)
            return false;
    }
    // A file that grew since its size was taken is not the same either.
    return fb.atEnd();
}
