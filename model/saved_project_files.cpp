#include "model/saved_project_files.h"

#include "base/cipher.h"
#include "base/write_failure.h"
#include "model/constants.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <optional>

namespace {

// Far above any project file; the load refuses larger ones too.
constexpr qint64 kMaxProjectFileBytes = qint64(1) << 30;

std::optional<QJsonObject> readProject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxProjectFileBytes)
        return std::nullopt;
    QByteArray content = file.readAll();
    if (!decipherBytes(content, CipherKind::Data))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(content);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

bool writeProject(const QString& path, const QJsonObject& project, QString& reason)
{
    QByteArray content = QJsonDocument(project).toJson(QJsonDocument::Compact);
    if (!encipherBytes(content, CipherKind::Data)) {
        reason = QObject::tr("it could not be enciphered");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = writeFailureReason(file, errno);
        return false;
    }
    return writeAll(file, content, reason) && commitAll(file, reason);
}

// Where one floor record sits in the project object.
struct FloorAt {
    qsizetype building = -1;
    qsizetype floor = -1;
    bool found() const { return building >= 0; }
};

FloorAt findFloor(const QJsonObject& project, const QString& dir)
{
    const QJsonArray buildings = project["buildings"].toArray();
    for (qsizetype b = 0; b < buildings.size(); ++b) {
        const QJsonArray floors = buildings[b].toObject()["floors"].toArray();
        for (qsizetype f = 0; f < floors.size(); ++f)
            if (floors[f].toObject()["dir"].toString() == dir)
                return {b, f};
    }
    return {};
}

QJsonObject floorRecord(const QJsonObject& project, FloorAt at)
{
    return project["buildings"].toArray()[at.building].toObject()["floors"].toArray()[at.floor].toObject();
}

void setFloorRecord(QJsonObject& project, FloorAt at, const QJsonObject& record)
{
    QJsonArray buildings = project["buildings"].toArray();
    QJsonObject building = buildings[at.building].toObject();
    QJsonArray floors = building["floors"].toArray();
    floors[at.floor] = record;
    building["floors"] = floors;
    buildings[at.building] = building;
    project["buildings"] = buildings;
}

} // namespace

bool updateSavedProjectFiles(const QString& projectFolder, const std::function<bool(QJsonObject& project)>& edit,
                             QString& reason)
{
    bool written = true;
    for (const QString& name : {projectFileName, "~" + projectFileName}) {
        const QString path = projectFolder + "/" + name;
        std::optional<QJsonObject> project = readProject(path);
        QString why;
        if (project && edit(*project) && !writeProject(path, *project, why)) {
            reason += (reason.isEmpty() ? "" : "; ") + path + ": " + why;
            written = false;
        }
    }
    return written;
}

bool renameFloorFolderInProject(QJsonObject& project, const QString& oldDir, const QString& newDir)
{
    const FloorAt at = findFloor(project, oldDir);
    if (!at.found())
        return false;
    QJsonObject record = floorRecord(project, at);
    record["dir"] = newDir;
    setFloorRecord(project, at, record);
    return true;
}

bool removeFloorFromProject(QJsonObject& project, const QString& dir)
{
    const FloorAt at = findFloor(project, dir);
    if (!at.found())
        return false;
    QJsonArray buildings = project["buildings"].toArray();
    QJsonObject building = buildings[at.building].toObject();
    QJsonArray floors = building["floors"].toArray();
    floors.removeAt(at.floor);
    building["floors"] = floors;
    buildings[at.building] = building;
    project["buildings"] = buildings;
    return true;
}

bool removeEmptyBuildingFromProject(QJsonObject& project, qint64 id)
{
    QJsonArray buildings = project["buildings"].toArray();
    for (qsizetype b = 0; b < buildings.size(); ++b) {
        const QJsonObject building = buildings[b].toObject();
        if (building["id"].toInteger(-1) != id || !building["floors"].toArray().isEmpty())
            continue;
        buildings.removeAt(b);
        project["buildings"] = buildings;
        return true;
    }
    return false;
}

bool moveScanFolderInProject(QJsonObject& project, const QString& fromFloor, const QString& oldDir,
                             const QString& toFloor, const QString& newDir)
{
    const FloorAt from = findFloor(project, fromFloor);
    const FloorAt to = findFloor(project, toFloor);
    if (!from.found() || !to.found())
        return false;
    QJsonObject source = floorRecord(project, from);
    QJsonObject sourceLayout = source["layout"].toObject();
    QJsonArray sourcePanos = sourceLayout["panos"].toArray();
    qsizetype listed = -1;
    for (qsizetype i = 0; i < sourcePanos.size() && listed < 0; ++i)
        if (sourcePanos[i].toObject()["dir"].toString() == oldDir)
            listed = i;
    if (listed < 0)
        return false;
    QJsonObject entry = sourcePanos.takeAt(listed).toObject();
    const QJsonValue id = entry["id"];
    // The scan's tags are found by its id on the floor that lists it.
    QJsonArray keptTags, movedTags;
    for (const QJsonValue& tag : sourceLayout["tags"].toArray())
        (id.toDouble(0) != 0 && tag.toObject()["initialPanoId"] == id ? movedTags : keptTags).append(tag);
    sourceLayout["panos"] = sourcePanos;
    if (sourceLayout.contains("tags"))
        sourceLayout["tags"] = keptTags;
    source["layout"] = sourceLayout;
    setFloorRecord(project, from, source);

    QJsonObject target = floorRecord(project, to);
    QJsonObject targetLayout = target["layout"].toObject();
    QJsonArray targetPanos = targetLayout["panos"].toArray();
    entry["dir"] = newDir;
    targetPanos.append(entry);
    targetLayout["panos"] = targetPanos;
    QJsonArray targetTags = targetLayout["tags"].toArray();
    for (const QJsonValue& tag : std::as_const(movedTags))
        targetTags.append(tag);
    if (!targetTags.isEmpty())
        targetLayout["tags"] = targetTags;
    target["layout"] = targetLayout;
    setFloorRecord(project, to, target);
    return true;
}
