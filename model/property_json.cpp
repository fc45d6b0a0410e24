#include "model/property.h"

#include "base/json_values.h"
#include "base/program_version.h"
#include "camera/cam_params_ztm5.h"
#include "model/building.h"
#include "model/length_units.h"
#include "model/panorama.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QMutexLocker>
#include <QSysInfo>
#include <QVersionNumber>

#include <cmath>

namespace {

QString platformDescription()
{
    return QSysInfo::buildCpuArchitecture() + ";" + QSysInfo::currentCpuArchitecture() + ";"
        + QSysInfo::prettyProductName();
}

} // namespace

QJsonObject Property::toJson(bool forExport)
{
    QJsonObject json;
    json["portalData"] = m_portalData;
    if (!m_cam360.isEmpty())
        json["cam360"] = m_cam360;
    json["name"] = name();
    json["globalId"] = m_globalId;
    json["quorilVersion"] = QString::fromLatin1(quorilProgramVersion);
    json["quorilPlatform"] = platformDescription();
    json["nomivoVersion"] = m_nomivoVersion;
    json["formatVersion"] = kProjectFormatVersion;
    const int alignment = alignmentState();
    if (alignment != -1)
        json["alignmentBad"] = alignment == 1;
    json["comments"] = QJsonObject{{"newPost", m_newPostComment}};
    json["initPanoId"] = m_initialPano ? static_cast<qint64>(m_initialPano->uniqueId()) : 0;
    json["initPanoAngle"] = m_initialPano ? degreesToJsonAngle(m_initialPano->initAngle()) : 0.0;
    json["mainBuildingId"] = m_mainBuildingId;
    QJsonArray buildings;
    for (Building* building : std::as_const(m_buildings))
        buildings.append(building->toJson(forExport));
    json["buildings"] = buildings;
    json["cameraSerialNumber"] = m_cameraSerialNumber;
    json["shutterCounter"] = shutterCounter();
    json["lensCalibrated"] = m_lensCalibrated;
    // Only now: the initial scan and the buildings above may have issued ids, and the saved
    // counters must not fall below any id in the file.
    QJsonObject ids;
    const QMap<QString, int> counters = lastIds();
    for (auto it = counters.cbegin(); it != counters.cend(); ++it)
        ids[it.key()] = it.value();
    json["lastIds"] = ids;
    if (m_alignmentLocked)
        json["alignmentLocked"] = true;
    json["systemcfgs"] = QJsonArray::fromStringList(systemcfgs());
    return json;
}

void Property::readProjectObject(const QJsonObject& project, const QString& loadedPath,
                                 const std::function<void()>& beforeBuildings)
{
    m_portalData = project["portalData"].toObject();
    m_cam360 = project["cam360"].toObject();
    const QJsonValue name = project["name"];
    m_name = name.isString() ? name.toString() : QDir(loadedPath).dirName();
    m_globalId = project["globalId"].toString();
    m_folder = loadedPath;
    {
        QMutexLocker lock(&m_scanRecordsMutex);
        m_shutterCounter = project["shutterCounter"].toInt(0);
    }
    m_nomivoVersion = project["nomivoVersion"].toString();
    m_quorilVersion = project["quorilVersion"].toString();
    m_cameraSerialNumber = project["cameraSerialNumber"].toString();
    m_lensCalibrated = project["lensCalibrated"].toBool(false);
    QStringList systemFiles;
    for (const QJsonValue& entry : project["systemcfgs"].toArray())
        systemFiles.append(entry.toString());
    setSystemcfgs(systemFiles);

    const bool oldOneLensProcessing = dynamic_cast<CamParamsZTM5*>(m_camParams.get()) && !m_quorilVersion.isEmpty()
        && QVersionNumber::fromString(m_quorilVersion) < QVersionNumber(6, 5, 0) && m_nomivoVersion.isEmpty()
        && !QFile::exists(m_folder + "/version.txt") && !QFile::exists(m_folder + "/wall.txt");
    if (oldOneLensProcessing)
        qWarning().noquote() << tr("Project may have being previously processed with a Quoril version that did not "
                                   "support latest Nomivo entirelly.\nRe-import the project or adjust the exterior "
                                   "wall thickness and floor grade accordingly.");

    m_newPostComment = project["comments"].toObject()["newPost"].toString();
    const QJsonObject counters = project["lastIds"].toObject();
    for (auto it = counters.constBegin(); it != counters.constEnd(); ++it)
        m_ids.raiseCounter(it.key(), it.value().toInteger(0));
    m_alignmentLocked = project["alignmentLocked"].toBool(false);

    if (beforeBuildings)
        beforeBuildings();
    for (const QJsonValue& building : project["buildings"].toArray())
        Building::fromJson(building.toObject(), this);
    // The buildings registered every id they hold, so the initial scan can be found now.
    m_initialPano = dynamic_cast<Panorama*>(findPanoById(int(jsonId(project["initPanoId"])), QStringLiteral("pano")));
    if (m_initialPano && project.contains("initPanoAngle"))
        m_initialPano->setInitAngle(jsonViewAngle(project["initPanoAngle"]));
    m_mainBuildingId = project["mainBuildingId"].toInt(0);
}
