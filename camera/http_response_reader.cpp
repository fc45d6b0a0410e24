#include "camera/http_response_reader.h"

#include <QList>

namespace {

// A decimal or hexadecimal count made of digits only, or -1 (empty, other characters, too large).
qint64 parseCount(const QByteArray& text, int base)
{
    if (text.isEmpty() || text.size() > 15)
        return -1;
    for (const char c : text) {
        const bool digit = (c >= '0' && c <= '9')
            || (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit)
            return -1;
    }
    return text.toLongLong(nullptr, base);
}

// How long the text before `marker` is at least, while the marker has not arrived: the bytes
// received, less a tail that may be the marker's start. A limit on that length then refuses the same
// responses however the connection splits them.
qsizetype lengthBeforeMarker(const QByteArray& pending, QByteArrayView marker)
{
    for (qsizetype n = qMin(marker.size() - 1, pending.size()); n > 0; --n)
        if (pending.endsWith(marker.first(n)))
            return pending.size() - n;
    return pending.size();
}

} // namespace

HttpResponseReader::State HttpResponseReader::feed(QByteArrayView bytes)
{
    if (m_state != Reading)
        return m_state;
    m_pending.append(bytes);
    while (m_state == Reading && step()) {
    }
    return m_state;
}

HttpResponseReader::State HttpResponseReader::finishAtClose()
{
    if (m_state == Reading && m_phase == UntilClose)
        m_state = Complete;
    else if (m_state == Reading)
        fail(Malformed); // what arrived of the body is no body
    return m_state;
}

bool HttpResponseReader::fail(State state)
{
    m_state = state;
    m_pending.clear();
    m_body.clear();
    return false;
}

bool HttpResponseReader::readLine(QByteArray& line)
{
    const qsizetype end = m_pending.indexOf("\r\n");
    if (end > kMaxHeadBytes || (end < 0 && lengthBeforeMarker(m_pending, "\r\n") > kMaxHeadBytes))
        return fail(TooLarge);
    if (end < 0)
        return false;
    line = m_pending.left(end);
    m_pending.remove(0, end + 2);
    return true;
}

bool HttpResponseReader::takeBody(qsizetype wanted)
{
    if (m_body.size() + wanted > m_maxBody)
        return fail(TooLarge);
    m_body.append(m_pending.left(wanted));
    m_pending.remove(0, wanted);
    return true;
}

bool HttpResponseReader::readHead()
{
    const qsizetype end = m_pending.indexOf("\r\n\r\n");
    if (end > kMaxHeadBytes || (end < 0 && lengthBeforeMarker(m_pending, "\r\n\r\n") > kMaxHeadBytes))
        return fail(TooLarge);
    if (end < 0)
        return false;
    const QList<QByteArray> lines = m_pending.left(end).split('\n');
    m_pending.remove(0, end + 4);

    const QList<QByteArray> start = lines.first().trimmed().split(' ');
    if (start.size() < 2 || !start[0].startsWith("HTTP/1.") || start[1].size() != 3)
        return fail(Malformed);
    const qint64 status = parseCount(start[1], 10);
    if (status < 100)
        return fail(Malformed);
    m_status = int(status);

    qint64 length = -1;
    bool chunked = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return fail(Malformed);
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            const qint64 declared = parseCount(value, 10);
            if (declared < 0 || (length >= 0 && declared != length))
                return fail(Malformed);
            length = declared;
        } else if (name == "transfer-encoding") {
            chunked = value.toLower().endsWith("chunked");
        }
    }
    if (m_status < 200) {
        m_phase = Head; // an interim response; the real one follows
        return true;
    }
    if (m_status == 204 || m_status == 304) {
        m_state = Complete;
        return false;
    }
    if (chunked) {
        m_phase = ChunkSize;
    } else if (length >= 0) {
        if (length > m_maxBody)
            return fail(TooLarge);
        m_left = length;
        m_phase = FixedBody;
    } else {
        m_phase = UntilClose;
    }
    return true;
}

// Consumes what it can of the pending bytes; false when it needs more or the state is settled.
bool HttpResponseReader::step()
{
    QByteArray line;
    switch (m_phase) {
    case Head:
        return readHead();
    case FixedBody: {
        const qsizetype take = qMin(m_left, m_pending.size());
        if (!takeBody(take))
            return false;
        m_left -= take;
        if (m_left == 0)
            m_state = Complete;
        return false;
    }
    case ChunkSize: {
        if (!readLine(line))
            return false;
        const qsizetype extension = line.indexOf(';');
        const qint64 size = parseCount((extension < 0 ? line : line.left(extension)).trimmed(), 16);
        if (size < 0)
            return fail(Malformed);
        if (m_body.size() + size > m_maxBody)
            return fail(TooLarge);
        m_left = size;
        m_phase = size == 0 ? Trailer : ChunkData;
        return true;
    }
    case ChunkData: {
        const qsizetype take = qMin(m_left, m_pending.size());
        if (!takeBody(take))
            return false;
        m_left -= take;
        if (m_left > 0)
            return false;
        m_phase = ChunkEnd;
        return true;
    }
    case ChunkEnd:
        if (!readLine(line))
            return false;
        if (!line.isEmpty())
            return fail(Malformed);
        m_phase = ChunkSize;
        return true;
    case Trailer:
        if (!readLine(line))
            return false;
        if (line.isEmpty())
            m_state = Complete;
        return true;
    case UntilClose:
        takeBody(m_pending.size());
        return false;
    }
    return false;
}
