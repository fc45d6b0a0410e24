#include "base/tar_header.h"
#include "base/tar_writer.h"
#include "export/archive_names.h"
#include "model/building.h"
#include "model/constants.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/scan_assets.h"
#include "model/scan_files.h"

#include <QCoreApplication>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {
// Thinner exterior walls than this are probably typed in the wrong unit.
constexpr int kThinWallMm = 160;
const QLatin1String kThinWallCm("16");

QString trBuilding(const char* text)
{
    return QCoreApplication::translate("Building", text);
}

// The first of the archive's entry names (the project's own and each scan's that already has an id;
// none is issued here) that no header can hold; empty when all fit. Asset names are left out: the
// export skips such a file and goes on.
QByteArray firstUnstorableEntryName(Property& property)
{
    const QByteArray prefix = archiveNamesFor(property.folder()).entryPrefix;
    QList<QByteArray> names{prefix + exportProjectFileName.toUtf8(), prefix + "/" + logFileName.toUtf8()};
    for (Building* building : property.buildings())
        for (Floor* floor : building->floors())
            for (Panorama* pano : floor->panos())
                if (pano->storedId() != 0 && !floor->isPicturesFloor())
                    names << prefix + (pano->exportLabel() + "/" + scanfiles::preview).toUtf8();
    for (const QByteArray& name : std::as_const(names))
        if (!TarWriter::acceptsName(name.constData()))
            return name;
    return {};
}
}

QList<DrcFinding> Building::checkExport()
{
    QList<DrcFinding> findings;
    const QString subjectName = name();
    const QString prefix = m_name + ": ";
    auto add = [&](const QString& message, int code = 1) {
        findings.append({this, subjectName, prefix + message, {}, code});
    };
    if (m_floors.isEmpty()) {
        add(trBuilding("Building is empty."), 0);
        return findings;
    }

    QStringList withoutThickness;
    QStringList thin;
    bool someThickness = false;
    for (const Floor* floor : std::as_const(m_floors)) {
        if (floor->isPicturesFloor())
            continue;
        const int thickness = floor->extWallThickness(false);
        if (thickness == 0) {
            if (floor->gradeHint() != 1)
                withoutThickness << floor->ownName();
            continue;
        }
        someThickness = true;
        if (thickness < kThinWallMm)
            thin << floor->ownName();
    }
    bool checkThinWalls = true;
    if (!withoutThickness.isEmpty() && someThickness) {
        add(trBuilding("Floor(s) ") + withoutThickness.join(", ")
            + trBuilding(" are not below grade and have no exterior wall thickness specified. "
                         "Exterior floor area will not be reported for these floors."));
    } else if (!withoutThickness.isEmpty()) {
        add(trBuilding("No exterior wall thickness was specified. Exterior floor area will not be reported."));
        checkThinWalls = false;
    }
    if (checkThinWalls) {
        // The whole building is thin only when every floor, "Pictures" ones included, is.
        if (m_extWallThickness != 0 && m_extWallThickness < kThinWallMm && thin.size() == m_floors.size())
            add(trBuilding("Exterior wall thickness is unusually small (<") + kThinWallCm + " cm).");
        else if (!thin.isEmpty())
            add(trBuilding("Floors(s) ") + thin.join(", ") + trBuilding(" have unusually small exterior wall thickness (<")
                + kThinWallCm + " cm).");
    }

    QSet<QString> floorNames;
    for (Floor* floor : std::as_const(m_floors)) {
        if (floorNames.contains(floor->ownName()))
            findings.append({floor, subjectName,
                             m_name + "/" + floor->ownName() + ": " + trBuilding("Duplicated floor name: ")
                                 + floor->ownName(),
                             {}, 1});
        floorNames.insert(floor->ownName());
        floor->checkDrcErrors();
        findings += floor->drcFindings();
    }
    return findings;
}

QList<DrcFinding> Property::checkExport()
{
    QList<DrcFinding> findings;
    auto add = [&](const QString& message, int code = 1) { findings.append({this, m_name, message, {}, code}); };

    if (!m_initialPano)
        add(tr("Initial pano not set. The first enabled one will be selected."));
    else if (!m_initialPano->isShown(false))
        add(tr("Initial pano is not enabled on the portal: ") + m_initialPano->ownName()
            + tr(". The first enabled one will be selected."));

    const bool hasMainBuilding = std::any_of(m_buildings.cbegin(), m_buildings.cend(),
                                             [](Building* building) { return building->isMainBuilding(); });
    if (!hasMainBuilding)
        add(tr("Property has no Main Building. Drafters will choose it for you."));

    int scanTotal = 0;
    int countedFloors = 0;
    int enabledFloors = 0;
    int floorsWithoutCompass = 0;
    QSet<QString> assetNames;
    for (Building* building : std::as_const(m_buildings)) {
        for (Floor* floor : building->floors()) {
            if (floor->isPicturesFloor() || floor->panos().isEmpty())
                continue;
            ++countedFloors;
            if (floor->isShown(true))
                ++enabledFloors;
            if (std::isnan(floor->compassRotation()))
                ++floorsWithoutCompass;
            for (Panorama* pano : floor->panos()) {
                if (isBuildablePanoType(pano->panoType()))
                    ++scanTotal;
                for (const QFileInfo& asset : scanAssetFiles(pano->folder())) {
                    if (!assetNames.contains(asset.fileName())) {
                        assetNames.insert(asset.fileName());
                        continue;
                    }
                    findings.append({pano, pano->name(),
                                     tr("Duplicated asset found in ") + "\"" + asset.filePath() + "\""
                                         + tr(". Only one occurrence will be exported."),
                                     pano->sceneTransform().map(pano->shape()), 1});
                }
            }
        }
    }

    if (scanTotal == 0) {
        add(tr("Project is empty."), 0);
    } else {
        if (enabledFloors == 0)
            add(tr("All floors are currently disabled. The 3D tour and floor plans will not be visible."));
        if (floorsWithoutCompass == countedFloors)
            add(tr("Not enough compass data to determine property orientation. Compass direction will need to be "
                   "set manually on the portal. Please re-calibrate camera compass."));
        else if (floorsWithoutCompass > 0)
            add(tr("Some floors have no compass data. Compass can be set manually on the AMBREL Portal."));
    }

    QSet<QString> buildingNames;
    for (Building* building : std::as_const(m_buildings)) {
        if (buildingNames.contains(building->ownName()))
            findings.append({building, m_name, tr("Duplicated building name: ") + building->ownName(), {}, 1});
        buildingNames.insert(building->ownName());
        findings += building->checkExport();
    }

    if (isReadOnlyFolder())
        add(readOnlyFolderText(), 0);

    // Found here, the export fails before the panos are built rather than after.
    const QByteArray unstorable = firstUnstorableEntryName(*this);
    if (!unstorable.isEmpty()) {
        const QString folderName = QString::fromUtf8(archiveNamesFor(m_folder).entryPrefix).chopped(1);
        add(tr("The project folder's name is too long for the export archive: it has %1 characters, at most %2 "
               "fit (the archive cannot hold the name \"%3\"). Rename the project folder to a shorter name, open "
               "it again and export.")
                .arg(folderName.size())
                .arg(tarheader::kPrefixSize)
                .arg(QString::fromUtf8(unstorable)),
            0);
    }
    return findings;
}
