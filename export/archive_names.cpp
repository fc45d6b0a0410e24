#include "export/archive_names.h"

#include "base/file_names.h"

#include <QDir>

namespace {
const QLatin1String kArchiveSuffix(".quoril.tar");
// For a project folder whose name is nothing once cleaned: entry names must never start at "/".
const QLatin1String kFallbackArchiveBase("Project");
} // namespace

ArchiveNames archiveNamesFor(const QString& projectFolder)
{
    QString base = sanitizeFileName(QDir(projectFolder).dirName());
    if (base.isEmpty())
        base = kFallbackArchiveBase;
    return {base + kArchiveSuffix, (portalSafeName(base) + "/").toUtf8()};
}
