#pragma once

#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTextStream>

#include <string>

// One layer record of the LAYER table.
struct DxfLayer {
    QString name;
    int flags = 0;  // group code 70
    int colour = 7; // AutoCAD colour number, group code 62
};

// Writes an AutoCAD 2000 ("AC1015") text DXF into a text stream: the fixed skeleton of
// tables, standard blocks and object dictionaries, plus points and light-weight polylines.
//
// Coordinates are scene coordinates (y grows downwards); every y is negated on output so the
// drawing's y axis points upwards. Reals are written with exactly one decimal, rounded from the
// exact binary value with ties away from zero; a value that rounds to zero is always "0.0",
// never "-0.0". Callers never pass NaN or infinities; should one slip through it is written as
// "0.0" so the file stays readable.
//
// Each call formats its groups into an internal buffer and hands them to the stream in one
// piece, so nothing is held back between calls and the stream may be flushed at any time.
class DxfWriter {
public:
    explicit DxfWriter(QTextStream* stream);

    void setExtents(const QRectF& rect);
    QRectF extents() const { return m_extents; }
    // The last entity handle issued (48 before the first one).
    quint32 lastHandle() const { return m_lastHandle; }

    void writeString(int code, const QString& value);
    void writeReal(int code, double value);

    void beginSection(const QString& name);
    void beginHeader();
    void endSection();
    void writeEof();

    // Stores the extents and writes them as the $EXTMIN and $EXTMAX header variables.
    void writeExtents(const QRectF& rect);
    // The whole content of the TABLES section: layer "0" comes first, then `layers` in order.
    void writeTables(const QList<DxfLayer>& layers);
    // The whole content of the BLOCKS section (model-space and paper-space blocks).
    void writeBlocks();
    // The two dictionaries of the OBJECTS section.
    void writeObjects();

    void writePoint(const QString& layer, const QPointF& p);
    // One LWPOLYLINE per run of the path (a run ends before the next move-to). Curves are not
    // flattened: their control points are vertices too.
    void writePolyline(const QString& layer, const QPainterPath& path, int closed);

private:
    class Groups;

    // Hands the groups formatted so far to the stream and empties the buffer.
    void send();
    quint32 nextHandle() { return ++m_lastHandle; }

    QRectF m_extents;
    QTextStream* m_stream;
    quint32 m_lastHandle = 48;
    std::string m_buffer; // reused between calls to spare an allocation per entity
};
