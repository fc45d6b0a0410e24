#include "model/panorama.h"

#include "base/cipher.h"
#include "base/file_names.h"
#include "base/json_values.h"
#include "base/write_failure.h"
#include "model/floor.h"
#include "model/length_units.h"
#include "model/scan_files.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

namespace {
// A scan record is a few kilobytes; anything near this is not one.
constexpr qint64 kMaxRecordBytes = 16 * 1024 * 1024;
}

QJsonObject Panorama::toJson(bool forExport)
{
    QJsonObject json = DraftGraphicRotatingItem::toJson(forExport);
    json["name"] = m_name;
    json["dir"] = forExport ? exportLabel() : m_dir;
    json["type"] = panoTypeToJson(m_type);
    if (std::isfinite(m_compass))
        json["compass"] = static_cast<double>(m_compass);
    json["alignment"] = m_alignment;
    json["initAngle"] = degreesToJsonAngle(m_initAngle);
    QJsonArray params;
    for (float value : m_imageParams.values)
        params.append(static_cast<double>(value));
    json["imageParams"] = params;
    json["equirectangular"] = m_equirectangular;
    json["capture"] = m_capture;
    json["scanHash"] = m_scanHash;
    json["systemcfg"] = m_systemCfgIndex;
    json["hidden"] = !m_shown;
    return json;
}

void Panorama::readRecord(const QJsonObject& record)
{
    const QJsonArray position = record["pos"].toArray();
    if (position.size() >= 2 && position[0].isDouble() && position[1].isDouble()
        && std::isfinite(position[0].toDouble()) && std::isfinite(position[1].toDouble())) {
        applyGeometry({QPointF(position[0].toDouble(), position[1].toDouble())}, false);
        m_placed = true;
    }
    applyGeometry({pos(), jsonAngle(record["rot"])}, true);

    if (record["name"].isString())
        m_name = record["name"].toString();
    if (record["type"].isString())
        m_type = panoTypeFromJson(record["type"].toString());
    const double compass = record["compass"].toDouble(qQNaN());
    m_compass = fitsFloat(compass) ? static_cast<float>(compass) : std::nanf("");
    const int alignment = record["alignment"].toInt(-1);
    m_alignment = (alignment == 0 || alignment == 1) ? alignment : -1;
    setInitAngle(jsonViewAngle(record["initAngle"]));

    const QJsonArray params = record["imageParams"].toArray();
    if (params.size() == ImageParams::COUNT) {
        ImageParams read;
        bool valid = true;
        for (int i = 0; i < ImageParams::COUNT && valid; ++i) {
            // One value no float holds refuses them all, as one that is no number does: stored, it
            // would be infinity, which the next save could not write.
            const double value = params[i].toDouble(qQNaN());
            valid = fitsFloat(value);
            read[i] = static_cast<float>(value);
        }
        if (valid)
            m_imageParams = read;
    }
    if (record["equirectangular"].isBool())
        m_equirectangular = record["equirectangular"].toBool();
    m_capture = record["capture"].toObject();
    m_scanHash = record["scanHash"].toString();
    m_systemCfgIndex = record["systemcfg"].toInt(-1);
    m_shown = !record["hidden"].toBool(false);
}

QJsonObject Panorama::readPanoDat(const QString& folderPath)
{
    const QString path = folderPath + "/" + scanfiles::record;
    QFile file(path);
    if (!file.exists())
        return {};
    QByteArray data;
    if (file.size() <= kMaxRecordBytes && file.open(QIODevice::ReadOnly))
        data = file.readAll();
    QJsonParseError error{};
    QJsonDocument document;
    if (decipherBytes(data, CipherKind::Data))
        document = QJsonDocument::fromJson(data, &error);
    if (!document.isObject()) {
        qWarning().noquote() << QObject::tr("Could not parse:") << path;
        return {};
    }
    return document.object();
}

std::optional<Panorama::RecordWrite> Panorama::recordToWrite()
{
    const QByteArray record = QJsonDocument(toJson(false)).toJson(QJsonDocument::Compact);
    const QString path = folder() + "/" + scanfiles::record;
    // Every save and export writes every scan's record; one unchanged since this scan wrote it
    // (still there, at its envelope's size) need not be written and synced again.
    if (path == m_writtenRecordPath && record == m_writtenRecord
        && QFileInfo(path).size() == record.size() + kEnvelopeOverhead)
        return std::nullopt;
    return RecordWrite{this, path, record};
}

bool Panorama::RecordWrite::store() const
{
    QByteArray data = record;
    encipherBytes(data, CipherKind::Data);
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly))
        reason = file.errorString();
    else if (writeAll(file, data, reason))
        commitAll(file, reason);
    if (!reason.isEmpty()) {
        qWarning().noquote() << QObject::tr("Could not write") << path + ":" << reason;
        pano->m_writtenRecordPath.clear();
        return false;
    }
    pano->m_writtenRecordPath = path;
    pano->m_writtenRecord = record;
    return true;
}

bool Panorama::writePanoDat()
{
    const std::optional<RecordWrite> write = recordToWrite();
    return !write || write->store();
}

void Panorama::storeRecords(const QList<RecordWrite>& writes)
{
    // Not on the global pool, which the window paints with.
    QThreadPool pool;
    pool.setMaxThreadCount(QThread::idealThreadCount());
    QtConcurrent::blockingMap(&pool, writes, [](const RecordWrite& write) { write.store(); });
}

namespace {

QString labelPart(const QString& name)
{
    return portalSafeName(name).left(10).trimmed();
}

} // namespace

QString Panorama::exportLabel()
{
    const Floor* f = floor();
    return labelPart(f ? f->ownName() : QString()) + "_" + labelPart(m_name) + "#" + QString::number(uniqueId());
}
