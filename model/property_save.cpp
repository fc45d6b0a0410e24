#include "model/property.h"

#include "base/cipher.h"
#include "base/main_thread.h"
#include "base/synced_file.h"
#include "model/constants.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>

#include <stdexcept>

namespace {

// The project file, its autosave copy and backup ("~"), and the temporary file of both ("~~").
QString projectPath(const QString& folder, const char* prefix = "")
{
    return folder + "/" + QLatin1String(prefix) + projectFileName;
}

} // namespace

bool Property::writeProjectFile()
{
    // Without a folder the path would name the file-system root.
    if (m_folder.isEmpty())
        return false;
    SyncedFile file(projectPath(m_folder, "~~"));
    if (!file.open())
        return false;
    try {
        QByteArray content = QJsonDocument(toJson(false)).toJson(QJsonDocument::Compact);
        encipherBytes(content, CipherKind::Data);
        file.writeAndClose(content);
    } catch (const std::exception& error) {
        qInfo().noquote() << tr("Could not save property:") << QString::fromUtf8(error.what());
        return false;
    }
    return true;
}

bool Property::save()
{
    // Said as it is: the folder was neither renamed nor moved, it cannot be written to.
    if (isReadOnlyFolder()) {
        qWarning().noquote() << readOnlyFolderText();
        return false;
    }
    if (!writeProjectFile()) {
        qWarning().noquote() << tr("Could not save project. Ensure you have not renamed or moved house folder "
                                   "while it was opened in Quoril.");
        return false;
    }
    const QString project = projectPath(m_folder);
    // The backup is replaced by the project file in one step, never deleted ahead: while there is
    // no project file (a save or a crash stopped between the renames) it is the only whole copy.
    const bool hasProjectFile = QFileInfo(project).isFile();
    const bool renamed = (!hasProjectFile || renameReplacing(project, projectPath(m_folder, "~")))
        && renameReplacing(projectPath(m_folder, "~~"), project);
    if (!renamed) {
        qWarning().noquote() << tr("Could not rename temporary files into their final names.");
        return false;
    }
    removeAutosave();
    qInfo().noquote() << tr("Project saved.");
    setDirty(false);
    return true;
}

void Property::on_autoBackupTimer_timeout()
{
    // In a read-only folder the edits stay in memory: there is nowhere to keep a copy that the next
    // load would find.
    if (m_folder.isEmpty() || isReadOnlyFolder() || waitForScanPass())
        return;
    // Queued work, results posted by pool threads among it, lands before the project is written.
    const QPointer<Property> self(this);
    runPendingMainThreadJobs();
    if (!self || m_folder.isEmpty() || waitForScanPass())
        return;
    // One rename over the old copy: the autosave never leaves a moment without one.
    if (writeProjectFile() && renameReplacing(projectPath(m_folder, "~~"), projectPath(m_folder, "~")))
        return;
    qWarning().noquote() << tr("Could not autosave project. Check free disk space and folder permissions.");
}

void Property::beginScanPass()
{
    ++m_scanPasses;
}

void Property::endScanPass()
{
    if (m_scanPasses == 0)
        return;
    if (--m_scanPasses > 0 || !m_autosaveWaitsForPass)
        return;
    m_autosaveWaitsForPass = false;
    // Through the timer, so that a save or a reset before it runs (both stop the timer) drops it.
    if (m_dirty)
        m_autoBackupTimer->start(0);
}

bool Property::waitForScanPass()
{
    // Pool threads are rewriting scan records that the project file would be made of.
    if (m_scanPasses == 0)
        return false;
    m_autosaveWaitsForPass = true;
    return true;
}
