#include "base/whole_file_save.h"

#include <QSaveFile>

bool saveWholeFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    QSaveFile file(path);
    const auto fail = [&] {
        if (reason)
            *reason = file.errorString();
        if (file.isOpen())
            file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    // commit() would rename a file whose buffered tail never reached the disk: flush first.
    if (file.write(bytes) != bytes.size() || !file.flush())
        return fail();
    if (!file.commit()) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
}
