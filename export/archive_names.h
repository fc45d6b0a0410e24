#pragma once

#include <QByteArray>
#include <QString>

// The export archive's file name and the prefix every entry name starts with, both made from the
// name of the project folder.
struct ArchiveNames {
    QString archiveName;
    QByteArray entryPrefix;
};

ArchiveNames archiveNamesFor(const QString& projectFolder);
