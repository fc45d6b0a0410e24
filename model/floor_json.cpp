#include "model/floor.h"

#include "model/note.h"
#include "model/panorama.h"
#include "model/reference_line.h"
#include "model/tag_entry.h"

#include <algorithm>
#include <cmath>

namespace {
// A scene without an index lists its items in no fixed order, so the arrays are sorted: notes by
// id, reference lines by their points. A saved floor then writes the same arrays after every load.
template <typename T>
QList<T*> itemsOfKind(const QList<QGraphicsItem*>& items)
{
    QList<T*> result;
    for (QGraphicsItem* item : items)
        if (auto* typed = dynamic_cast<T*>(item))
            result << typed;
    return result;
}

bool pointLess(const QPointF& a, const QPointF& b)
{
    return a.x() != b.x() ? a.x() < b.x() : a.y() < b.y();
}

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
    QList<Note*> topNotes;
    for (Note* note : itemsOfKind<Note>(items))
        if (!note->parentItem())
            topNotes << note;
    for (Note* note : std::as_const(topNotes))
        note->uniqueId();
    std::sort(topNotes.begin(), topNotes.end(),
              [](Note* a, Note* b) { return a->storedId() < b->storedId(); });
    for (Note* note : std::as_const(topNotes))
        notes.append(note->toJson(forExport));
    if (!notes.isEmpty())
        layout["notes"] = notes;
    if (!forExport)
        layout["referenceLines"] = referenceLinesToJson(items);

    QJsonArray panos;
    QJsonArray tags;
    QList<Panorama::RecordWrite> records;
    for (Panorama* pano : std::as_const(m_panos)) {
        if (!items.contains(pano))
            continue;
        if (std::optional<Panorama::RecordWrite> record = pano->recordToWrite())
            records << *record;
        if (!forExport)
            panos.append(QJsonObject{{"dir", pano->dir()}, {"id", static_cast<qint64>(pano->uniqueId())}});
        else if (pano->panoType() != PanoType::Map)
            panos.append(pano->toJson(true));
        for (const Tag& tag : pano->tags())
            tags.append(tagEntryToJson(tag, *pano, forExport));
    }
    Panorama::storeRecords(records);
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
    QList<ReferenceLine*> sorted = itemsOfKind<ReferenceLine>(items);
    std::sort(sorted.begin(), sorted.end(), [](const ReferenceLine* a, const ReferenceLine* b) {
        const QLineF la = a->sceneLine();
        const QLineF lb = b->sceneLine();
        return la.p1() != lb.p1() ? pointLess(la.p1(), lb.p1()) : pointLess(la.p2(), lb.p2());
    });
    for (ReferenceLine* line : std::as_const(sorted))
        lines.append(line->toJson(false));
    return lines;
}
