#include "export/export_archive_file.h"

#include "base/folder_remover.h"
#include "model/constants.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <stdexcept>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Property", text);
}

} // namespace

ExportArchiveFile::ExportArchiveFile(const QString& projectFolder, const QString& archiveName)
    : m_projectFolder(projectFolder), m_folderName(exportFolderName), m_archiveName(archiveName)
{
}

ExportArchiveFile::~ExportArchiveFile()
{
    if (!m_opened || m_committed)
        return;
    if (m_stream.is_open())
        m_stream.close();
    QFile::remove(temporaryPath());
}

void ExportArchiveFile::prepareFolder()
{
    // Without a project folder the export folder would land at the file-system root.
    const bool ready = !m_projectFolder.isEmpty()
        && (QFileInfo(exportFolder()).isDir() || QDir(m_projectFolder).mkdir(m_folderName));
    if (!ready)
        throw std::runtime_error(
            tr("Could not create export folder - check free disk space or if export folder is in use.").toStdString());
}

std::ostream& ExportArchiveFile::open()
{
    m_stream.open(QFile::encodeName(temporaryPath()).constData(), std::ios::binary | std::ios::trunc);
    if (!m_stream.is_open())
        throw std::runtime_error((tr("Could not create export tar file: ") + temporaryPath()
                                  + tr(". Check free disk space and folder permissions."))
                                     .toStdString());
    m_opened = true;
    return m_stream;
}

void ExportArchiveFile::commit()
{
    m_stream.close();
    if (m_stream.fail())
        throw std::runtime_error(tr("Failed to write data to tar file. Check for free disk space.").toStdString());
    // Success is only what the user can find under the archive's name. One rename(2) replaces the
    // previous archive at once; not synced to disk, as an archive lost to a power cut is made again
    // from the project, and the sync would wait for the whole archive to reach the disk.
    if (std::rename(QFile::encodeName(temporaryPath()).constData(), QFile::encodeName(archivePath()).constData()) != 0)
        throw std::runtime_error((tr("Could not give the export tar file its name: ") + archivePath()
                                  + tr(". Check free disk space and folder permissions."))
                                     .toStdString());
    m_committed = true;
    removeLeftovers();
}

void ExportArchiveFile::removeLeftovers() const
{
    // The export folder holds the latest export only: older archives (the project folder may have
    // been renamed since), temporaries of interrupted exports and anything put there by hand.
    const QFileInfoList entries = QDir(exportFolder()).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    QStringList kept;
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == m_archiveName)
            continue;
        const bool removed = entry.isDir() && !entry.isSymLink()
            ? removeFolderInsideProject(m_projectFolder, {m_folderName, entry.fileName()})
            : QFile::remove(entry.filePath());
        if (!removed)
            kept << entry.fileName();
    }
    if (!kept.isEmpty())
        qWarning().noquote() << tr("Could not remove older files from the export folder:") << kept.join(", ");
}
