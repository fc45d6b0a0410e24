#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <optional>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace testsupport {

// A stand-in for the camera's HTTP service on 127.0.0.1 (a port of the system's choosing). It
// parses each HTTP/1.1 request itself, records it as it came, and answers from a table keyed by
// path and body; runs in the event loop of the thread that made it.
class FakeCameraService : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers; // in the order sent
        QByteArray body;
        quint16 port = 0; // where the service listened
        qint64 receivedInMs = 0; // from the request's first byte to its last
        // The value of a header (name compared without case); empty when absent.
        QByteArray header(const QByteArray& name) const;
        int headerCount(const QByteArray& name) const;
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        bool silent = false; // read the request and never answer
        std::optional<QByteArray> raw; // sent as it is in place of a composed reply
        bool close = false; // close the connection once the reply is out
        // Sent in this many pieces, one every pieceDelayMs: a camera slow to answer.
        int pieces = 1;
        int pieceDelayMs = 0;
        // Sent as soon as the head is in; nothing more of the connection is read. The request is
        // recorded with the part of its body read by then.
        bool early = false;
    };

    FakeCameraService();
    ~FakeCameraService() override;

    QString address() const;
    quint16 port() const;
    // Answers requests to `path` whose body is `body` (empty: any body) with `reply`; unknown
    // requests get 404. The latest setting for a key wins.
    void setReply(const QByteArray& path, const QByteArray& body, const Reply& reply);
    void setJsonReply(const QByteArray& path, const QByteArray& body, const QByteArray& json);
    // A reply of status 200 with that body, and a camera that reads the request and never answers.
    static Reply okReply(const QByteArray& body);
    static Reply silentReply();
    const QList<Request>& requests() const { return m_requests; }
    QList<QByteArray> requestPaths() const;
    // Connections the service has taken, and those of them not closed yet by either side.
    int connections() const { return m_connections; }
    int openConnections() const { return m_open; }
    // From the next connection on, reads at most `bytes` of it every `everyMs`: a camera that
    // takes an upload slowly. Zero bytes: as fast as it comes.
    void setReadPace(qint64 bytes, int everyMs);

    // A local port nothing listens on: a connection to it is refused.
    static quint16 closedPort();

private:
    void onConnection();
    struct Pending {
        QByteArray buffer;
        QElapsedTimer since; // the first byte of the request in the buffer
    };
    void onReadable(QTcpSocket* socket);
    Reply replyFor(const Request& request) const;
    static QByteArray replyBytes(const Reply& reply);
    static void send(QTcpSocket* socket, const QByteArray& bytes, const Reply& reply);

    QTcpServer* m_server = nullptr;
    QTimer* m_pace = nullptr;
    qint64 m_paceBytes = 0;
    QHash<QTcpSocket*, Pending> m_pending;
    QHash<QPair<QByteArray, QByteArray>, Reply> m_replies;
    QList<Request> m_requests;
    int m_connections = 0;
    int m_open = 0;
};

} // namespace testsupport
