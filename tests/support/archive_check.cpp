#include "support/archive_check.h"

#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace testsupport {

namespace {

const char* const kListScript = R"(
import hashlib, json, sys, tarfile
members = []
with tarfile.open(sys.argv[1], "r:") as archive:
    for m in archive:
        sha1 = ""
        if m.isreg():
            sha1 = hashlib.sha1(archive.extractfile(m).read()).hexdigest()
        members.append({"name": m.name, "reg": m.isreg(), "size": m.size, "sha1": sha1})
print(json.dumps(members))
)";

const char* const kMemberScript = R"(
import sys, tarfile
with tarfile.open(sys.argv[1], "r:") as archive:
    sys.stdout.buffer.write(archive.extractfile(sys.argv[2]).read())
)";

} // namespace

QStringList ArchiveListing::names() const
{
    QStringList result;
    for (const ArchiveMember& member : members)
        result << member.name;
    return result;
}

ArchiveListing pythonTarListing(const QString& archive)
{
    ArchiveListing listing;
    const ProcessResult r = runProcess(systemPython(), {"-c", QString::fromLatin1(kListScript), archive});
    if (!r.started || r.exitCode != 0) {
        listing.failure = "python tarfile failed: " + QString::fromUtf8(r.err);
        return listing;
    }
    const QJsonDocument document = QJsonDocument::fromJson(r.out);
    if (!document.isArray()) {
        listing.failure = "unreadable python listing";
        return listing;
    }
    for (const QJsonValue& value : document.array()) {
        const QJsonObject m = value.toObject();
        listing.members.append({m["name"].toString(), m["reg"].toBool(),
                                static_cast<qint64>(m["size"].toDouble()), m["sha1"].toString()});
    }
    return listing;
}

ArchiveListing gnuTarListing(const QString& archive)
{
    ArchiveListing listing;
    const ProcessResult r = runProcess("tar", {"--quoting-style=literal", "-tf", archive});
    if (!r.started || r.exitCode != 0) {
        listing.failure = "GNU tar failed: " + QString::fromUtf8(r.err);
        return listing;
    }
    for (const QByteArray& line : r.out.split('\n'))
        if (!line.isEmpty())
            listing.members.append({QString::fromUtf8(line), true, 0, {}});
    return listing;
}

QByteArray pythonTarMember(const QString& archive, const QString& name)
{
    const ProcessResult r = runProcess(systemPython(), {"-c", QString::fromLatin1(kMemberScript), archive, name});
    return r.exitCode == 0 ? r.out : QByteArray();
}

} // namespace testsupport
