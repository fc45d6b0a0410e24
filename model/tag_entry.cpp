#include "model/tag_entry.h"

#include "base/json_values.h"
#include "camera/cam_params.h"
#include "model/panorama.h"

#include <QJsonArray>

QJsonObject tagEntryToJson(const Tag& tag, Panorama& scan, bool forExport)
{
    QJsonObject json;
    if (!forExport) {
        json["originalPos"] = QJsonArray{tag.originalU, tag.originalV};
        json["offset"] = tag.d;
    }
    json["id"] = static_cast<qint64>(tag.storedId());
    const QPointF point = scan.mapToScene(tag.itemPoint());
    json["pos"] = QJsonArray{point.x(), point.y(), tag.height()};
    json["title"] = tag.title;
    json["color"] = tag.color;
    json["content"] = tag.content;
    json["globalId"] = tag.globalId;
    if (!tag.iconId.isEmpty())
        json["iconId"] = tag.iconId;
    json["initialPanoId"] = static_cast<qint64>(scan.uniqueId());
    return json;
}

Tag tagFromEntry(const QJsonObject& entry, const Panorama& scan, const CamParams* camera)
{
    Tag tag;
    const QJsonArray pos = entry["pos"].toArray();
    if (entry.contains("originalPos")) {
        const QJsonArray original = entry["originalPos"].toArray();
        tag.originalU = jsonFinite(original.at(0));
        tag.originalV = jsonFinite(original.at(1));
        tag.u = tag.originalU;
        tag.v = tag.originalV;
        if (camera) {
            float u = 0, v = 0;
            camera->panoToCamera(static_cast<float>(tag.originalU), static_cast<float>(tag.originalV),
                                 scan.imageParams(), u, v);
            if (std::isfinite(u) && std::isfinite(v)) {
                tag.u = u;
                tag.v = v;
            }
        }
        tag.d = jsonFinite(entry["offset"]);
    } else {
        tag.setFromPlanPosition(scan.mapFromScene(QPointF(jsonFinite(pos.at(0)), jsonFinite(pos.at(1)))),
                                jsonFinite(pos.at(2)));
        tag.originalU = tag.u;
        tag.originalV = tag.v;
    }
    tag.title = entry["title"].toString();
    tag.color = entry["color"].toString();
    tag.iconId = entry["iconId"].toString();
    tag.content = entry["content"].toString();
    tag.globalId = entry["globalId"].toString();
    tag.sceneX = jsonRounded(pos.at(0));
    tag.sceneY = jsonRounded(pos.at(1));
    tag.sceneZ = jsonRounded(pos.at(2));
    tag.setUniqueId(jsonId(entry["id"]));
    return tag;
}
