#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Archives as tools no one here wrote read them. Each reader reports a failure text (empty on
// success) instead of asserting, so that callers decide how a missing tool counts.
namespace testsupport {

struct ArchiveMember {
    QString name;
    bool regularFile = false;
    qint64 size = 0;
    QString sha1; // of the member's bytes
};

struct ArchiveListing {
    QString failure;
    QList<ArchiveMember> members; // in archive order
    QStringList names() const;
};

// Python's tarfile: every member's name as stored, kind, size and SHA-1 of its content.
ArchiveListing pythonTarListing(const QString& archive);

// GNU tar -tf: the names it lists, in order.
ArchiveListing gnuTarListing(const QString& archive);

// One member's content as Python's tarfile gives it (empty when there is no such member).
QByteArray pythonTarMember(const QString& archive, const QString& name);

} // namespace testsupport
