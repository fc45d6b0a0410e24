#pragma once

#include "export/archive_entry_queue.h"
#include "export/archive_names.h"
#include "export/export_archive_file.h"
#include "export/export_summary.h"

#include <QByteArray>
#include <QString>

#include <memory>

class Building;
class Floor;
class Panorama;
class Property;
class Progress;

// Steps 3 to 9 of an export, after the save and the build pass: the archive's entries in their
// fixed order into a temporary beside the previous export, the summary beside them, and a
// progress dialog whose Cancel is honoured between scans. The entries are made here, on the GUI
// thread, and written by the queue's thread meanwhile. The archive takes the place of the
// previous export only once complete.
class ArchiveExport {
public:
    explicit ArchiveExport(Property& property);
    ~ArchiveExport();
    ArchiveExport(const ArchiveExport&) = delete;
    ArchiveExport& operator=(const ArchiveExport&) = delete;

    // The HTML summary on success; throws std::runtime_error (TarDuplicateException for a
    // duplicated entry outside the assets) on any failure, the temporary archive then being removed.
    QString run();

private:
    void openDialog();
    void advance();
    QByteArray entryName(const QString& rest) const { return m_names.entryPrefix + rest.toUtf8(); }
    void putFileIfPresent(const QString& source, const QByteArray& name);
    void writeProjectEntries();
    void writeFloor(const Building& building, Floor& floor);
    void writeScanFiles(Panorama& pano);
    void writeAssets(Panorama& pano);

    Property& m_property;
    const ArchiveNames m_names;
    ExportArchiveFile m_file;
    // Gone before the file it writes to.
    std::unique_ptr<ArchiveEntryQueue> m_entries;
    std::unique_ptr<Progress> m_dialog;
    int m_progress = 0;
    bool m_canceled = false;
    ExportSummary m_summary;
};
