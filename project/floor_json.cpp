#include "project/floor.h"

#include "editor/note.h"
#include "editor/reference_line.h"
#include "pano/panorama.h"
#include "project/tag_entry.h"

#include <cmath>

namespace {
QJsonArray rectToJson(const QRectF& rect)
{
    return QJsonArray{rect.x(), rect.y(), rect.width(), rect.height()};
}
}

QJsonObject Floor::toJson(bool forExport)
{
    QJsonObject json;
    json["id"] = static_cast<qint64>(uniqueId());
    json["name"] = m_name;
    json["globalId"] = m_globalId;
    if (!forExport)
        json["dir"] = m_dir;
    json["hidden"] = !m_shown;
    json["gradeHint"] = static_cast<int>(m_gradeHint);
    const int alignment = alignmentState();
    if (alignment != -1)
        json["alignmentBad"] = alignment == 1;
    json["layout"] = layoutToJson(items(), forExport);
    if (m_actualExtWallThickness != 0)
        json["actualExtWallThickness"] = m_actualExtWallThickness;
    if (m_ceilingHeight != 0)
        json["ceilingHeight"] = m_ceilingHeight;
    const QPointF north = northVector();
    if (north.x() != 0 || north.y() != 0)
        json["compassRotHint"] = std::atan2(north.y(), north.x());
    return json;
}

QJsonObject Floor::layoutToJson(const QList<QGraphicsItem*>& items, bool forExport)
{
    QJsonObject layout;
    QJsonArray notes;
    for (QGraphicsItem* item : items)
        if (auto* note = dynamic_cast<Note*>(item); note && !note->parentItem())
            notes.append(note->toJson(forExport));
    if (!notes.isEmpty())
        layout["notes"] = notes;
    if (!forExport)
        layout["referenceLines"] = referenceLinesToJson(items);

    QJsonArray panos;
    QJsonArray tags;
    for (Panorama* pano : std::as_const(m_panos)) {
        if (!items.contains(pano))
            continue;
        pano->writePanoDat();
        if (!forExport)
            panos.append(QJsonObject{{"dir", pano->dir()}, {"id", static_cast<qint64>(pano->uniqueId())}});
        else if (pano->panoType() != PanoType::Map)
            panos.append(pano->toJson(true));
        for (const Tag& tag : pano->tags())
            tags.append(tagEntryToJson(tag, *pano, forExport));
    }
    if (!panos.isEmpty())
        layout["panos"] = panos;
    if (!tags.isEmpty())
        layout["tags"] = tags;
    layout["viewerViewBox"] = rectToJson(drawingRect() | scanPositionsRect());
    layout["printViewBox"] = rectToJson(drawingRect());
    return layout;
}

QJsonArray Floor::referenceLinesToJson(const QList<QGraphicsItem*>& items)
{
    QJsonArray lines;
    for (QGraphicsItem* item : items)
        if (auto* line = dynamic_cast<ReferenceLine*>(item))
            lines.append(line->toJson(false));
    return lines;
}
