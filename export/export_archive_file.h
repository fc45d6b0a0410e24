#pragma once

#include <QString>

#include <fstream>

// The file of one export in the project's export folder. The new archive is written beside the
// previous export as a temporary and replaces it only once complete: an export that fails or is
// cancelled leaves the previous one as it was and no temporary behind.
class ExportArchiveFile {
public:
    ExportArchiveFile(const QString& projectFolder, const QString& archiveName);
    // Removes the temporary unless commit succeeded.
    ~ExportArchiveFile();
    ExportArchiveFile(const ExportArchiveFile&) = delete;
    ExportArchiveFile& operator=(const ExportArchiveFile&) = delete;

    // Creates the export folder when it is missing; throws std::runtime_error with the user's text.
    void prepareFolder();
    // Opens the temporary for writing; throws std::runtime_error with the user's text.
    std::ostream& open();
    // Closes the temporary, gives it the archive's name and removes everything else from the
    // export folder; throws std::runtime_error when the archive is not in place.
    void commit();

    QString exportFolder() const { return m_projectFolder + "/" + m_folderName; }
    QString archivePath() const { return exportFolder() + "/" + m_archiveName; }
    QString temporaryPath() const { return archivePath() + ".tmp"; }

private:
    void removeLeftovers() const;

    QString m_projectFolder;
    QString m_folderName;
    QString m_archiveName;
    std::ofstream m_stream;
    bool m_opened = false;
    bool m_committed = false;
};
