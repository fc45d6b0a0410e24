#include "base/tar_writer.h"
#include "export/archive_export.h"
#include "model/property.h"

#include <stdexcept>

bool Property::exportTar(QString& html)
{
    // The export folder lives inside the project folder.
    if (isReadOnlyFolder()) {
        qCritical().noquote() << tr("Could not export property") << "\"" + name() + "\"" << QStringLiteral(".\n")
                              << readOnlyFolderText();
        return false;
    }
    try {
        save();
        quorilPanos();
        // Unwinding removes the dialog and the temporary archive before the failure is shown.
        html += ArchiveExport(*this).run();
        return true;
    } catch (const TarDuplicateException& e) {
        qCritical().noquote() << tr("Tar export failed.\n") << QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        qCritical().noquote() << tr("Could not export property") << "\"" + name() + "\"" << QStringLiteral(".\n")
                              << QString::fromUtf8(e.what());
    } catch (...) {
        qCritical().noquote() << tr("Could not export property") << "\"" + name() + "\"" << QStringLiteral(".\n")
                              << tr("Unknown failure.");
    }
    return false;
}
