#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Reads one HTTP/1.x response as it arrives, in pieces of any size: the status, and a body framed
// by its length, by chunks or by the end of the connection. Interim (1xx) responses are skipped.
// Holds at most a head of kMaxHeadBytes and a body of the given limit; a larger response is
// refused, not buffered.
class HttpResponseReader {
public:
    enum State { Reading, Complete, Malformed, TooLarge };
    static constexpr qsizetype kMaxHeadBytes = 16 * 1024;

    explicit HttpResponseReader(qsizetype maxBodyBytes) : m_maxBody(maxBodyBytes) {}

    State feed(QByteArrayView bytes);
    // The connection closed: complete when the body was to run until then, else malformed.
    State finishAtClose();

    State state() const { return m_state; }
    int status() const { return m_status; }
    const QByteArray& body() const { return m_body; }

private:
    enum Phase { Head, FixedBody, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose };

    bool step();
    bool readHead();
    bool readLine(QByteArray& line);
    bool takeBody(qsizetype wanted);
    bool fail(State state);

    qsizetype m_maxBody;
    State m_state = Reading;
    Phase m_phase = Head;
    int m_status = 0;
    QByteArray m_pending; // received, not yet consumed
    QByteArray m_body;
    qsizetype m_left = 0; // bytes left of the fixed body or of the current chunk
};
