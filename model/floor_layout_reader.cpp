#include "model/floor.h"

#include "base/file_names.h"
#include "base/json_values.h"
#include "base/scan_order.h"
#include "model/building.h"
#include "model/constants.h"
#include "model/length_units.h"
#include "model/note.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/reference_line.h"
#include "model/scan_files.h"
#include "model/tag_entry.h"
#include "model/undo_commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <exception>

namespace {

// A scan made from a folder of the floor, or null with a warning when that fails in any way: one
// bad scan folder must not stop the floor or the project from loading.
Panorama* createScan(const QJsonObject& record, const QString& dir, Floor* floor)
{
    try {
        if (Panorama* pano = Panorama::createFromFolder(record, dir, floor))
            return pano;
        qWarning().noquote() << QObject::tr("Could not load scan:") << floor->folderPath() + "/" + dir;
    } catch (const std::exception& e) {
        qWarning().noquote() << QObject::tr("Could not load scan:") << floor->folderPath() + "/" + dir
                             << QString::fromStdString(e.what());
    }
    return nullptr;
}

// Whether a folder directly in the project folder may be taken into a floor as a scan's folder (an
// export holds its scans there). Never a reserved folder nor a floor's own, and only one that holds
// a scan's own files: a floor folder holds scan folders instead, whichever floor it belongs to.
bool isLooseScanFolder(const QFileInfo& folder, const Property& property)
{
    if (!folder.isDir() || folder.isSymLink() || reservedFolderNames.contains(folder.fileName()))
        return false;
    const QDir candidate(folder.filePath());
    for (const Building* building : property.buildings())
        for (const Floor* floor : building->floors())
            if (QDir(floor->folderPath()) == candidate)
                return false;
    const QStringList scanFiles{scanfiles::record,    scanfiles::preview,          scanfiles::fullPano,
                                scanfiles::pointCloud, scanfiles::twoLensMainImage, scanfiles::userSource,
                                scanfiles::transformFile};
    return std::any_of(scanFiles.begin(), scanFiles.end(),
                       [&](const QString& name) { return QFileInfo(candidate.filePath(name)).isFile(); });
}

// "_Map" first; then numbered folder names by number, then the others case-sensitively.
bool scanFolderLess(const QString& a, const QString& b)
{
    const bool mapA = a == QLatin1String("_Map");
    const bool mapB = b == QLatin1String("_Map");
    if (mapA || mapB)
        return mapA && !mapB;
    return scanNameLess(a, b);
}

// Copies the project's asset files that the tag's text names into the scan's "assets" folder.
void copyTagAssets(const QString& content, const Panorama& scan, const QString& projectFolder)
{
    if (content.isEmpty() || projectFolder.isEmpty())
        return;
    const QString source = projectFolder + "/" + assetsFolderName;
    const QStringList files = QDir(source).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    const QString target = scan.folder() + "/assets";
    for (const QString& name : files) {
        if (!content.contains(name, Qt::CaseSensitive) || QFileInfo::exists(target + "/" + name))
            continue;
        QDir().mkpath(target);
        if (!QFile::copy(source + "/" + name, target + "/" + name))
            qWarning().noquote() << QObject::tr("Could not copy asset") << source + "/" + name << QObject::tr("to")
                                 << target + "/" + name;
    }
}

} // namespace

bool Floor::folderExists() const
{
    const Property* property = idRegistry();
    return property && !property->folder().isEmpty() && isPlainName(m_dir) && QFileInfo(folderPath()).isDir();
}

void Floor::loadContents(const QJsonObject& layout)
{
    clearSelection();

    for (const char* key : {"labels", "notes"}) {
        for (const QJsonValue& value : layout[QLatin1String(key)].toArray()) {
            const QJsonObject record = value.toObject();
            auto* note = new Note(jsonPoint(record["pos"]), record["text"].toString());
            note->setRotation(jsonAngle(record["rot"]));
            pushCommand(new AddToSceneCommand(this, note));
            // Only now does the note have a registry to tell its id to.
            note->setUniqueId(jsonId(record["id"]));
            note->setSelected(true);
        }
    }

    // Without a folder of its own every scan path below would point into the project folder.
    const bool hasFolder = folderExists();
    const Property* property = idRegistry();
    const QString projectFolder = property ? property->folder() : QString();
    for (const QJsonValue& value : layout["panos"].toArray()) {
        if (!hasFolder)
            break;
        const QJsonObject element = value.toObject();
        const QString dir = element["dir"].toString();
        if (!isPlainName(dir)) {
            qWarning().noquote() << tr("Skipped a scan with an unusable folder name:") << dir;
            continue;
        }
        const QString path = folderPath() + "/" + dir;
        const QFileInfo inProject(projectFolder + "/" + dir);
        Panorama* pano = nullptr;
        if (QFileInfo(path).isDir()) {
            pano = createScan(QJsonObject(), dir, this);
        } else if (inProject.isDir() && !isLooseScanFolder(inProject, *property)) {
            qWarning().noquote() << tr("Skipped a scan whose folder is neither in its floor's folder nor a scan "
                                       "folder of the project:")
                                 << inProject.filePath();
            continue;
        } else if (inProject.isDir()) {
            if (!QDir().rename(inProject.filePath(), path)) {
                qWarning().noquote() << tr("Could not copy scan folder: ") + path;
                continue;
            }
            pano = createScan(element, dir, this);
        } else {
            qWarning().noquote() << tr("Could not find scan folder: ") + path;
            continue;
        }
        if (pano && jsonId(element["id"]) != 0)
            pano->setUniqueId(jsonId(element["id"]));
    }

    // Every loaded tag id is registered before any tag without one is issued a new id.
    QList<std::pair<Panorama*, Tag>> tags;
    for (const QJsonValue& value : layout["tags"].toArray()) {
        const QJsonObject entry = value.toObject();
        auto* pano = dynamic_cast<Panorama*>(findItem(jsonId(entry["initialPanoId"]), QStringLiteral("pano")));
        if (!pano)
            continue;
        Tag tag = tagFromEntry(entry, *pano, property ? property->camParams() : nullptr);
        tag.setIdRegistry(pano->idRegistry());
        tag.setUniqueId(tag.storedId());
        tags.append({pano, tag});
    }
    for (auto& [pano, tag] : tags) {
        pano->appendTag(tag);
        copyTagAssets(tag.content, *pano, projectFolder);
    }

    if (layout.contains("referenceLines"))
        loadReferenceLines(layout["referenceLines"].toArray());

    if (!hasFolder)
        return;
    QSet<QString> listed;
    for (const Panorama* pano : std::as_const(m_panos))
        listed.insert(pano->dir());
    QStringList folders = QDir(folderPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
    std::stable_sort(folders.begin(), folders.end(), scanFolderLess);
    for (const QString& dir : std::as_const(folders))
        if (!listed.contains(dir))
            createScan(QJsonObject(), dir, this);
}

void Floor::loadReferenceLines(const QJsonArray& lines)
{
    for (const QJsonValue& value : lines) {
        const QJsonObject line = value.toObject();
        if (isJsonPoint(line["p1"]) && isJsonPoint(line["p2"]))
            ReferenceLine::create(this, jsonPoint(line["p1"]), jsonPoint(line["p2"]));
    }
}
