#include "support/fake_camera_service.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <stdexcept>

namespace testsupport {

QByteArray FakeCameraService::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

int FakeCameraService::Request::headerCount(const QByteArray& name) const
{
    int count = 0;
    for (const auto& entry : headers)
        count += entry.first.compare(name, Qt::CaseInsensitive) == 0;
    return count;
}

FakeCameraService::FakeCameraService() : m_server(new QTcpServer(this))
{
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("the fake camera service cannot listen");
    connect(m_server, &QTcpServer::newConnection, this, &FakeCameraService::onConnection);
}

FakeCameraService::~FakeCameraService() = default;

quint16 FakeCameraService::port() const
{
    return m_server->serverPort();
}

QString FakeCameraService::address() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FakeCameraService::setReply(const QByteArray& path, const QByteArray& body, const Reply& reply)
{
    m_replies.insert({path, body}, reply);
}

void FakeCameraService::setJsonReply(const QByteArray& path, const QByteArray& body, const QByteArray& json)
{
    setReply(path, body, okReply(json));
}

FakeCameraService::Reply FakeCameraService::okReply(const QByteArray& body)
{
    Reply reply;
    reply.body = body;
    return reply;
}

FakeCameraService::Reply FakeCameraService::silentReply()
{
    Reply reply;
    reply.silent = true;
    return reply;
}

QList<QByteArray> FakeCameraService::requestPaths() const
{
    QList<QByteArray> paths;
    for (const Request& request : m_requests)
        paths << request.path;
    return paths;
}

quint16 FakeCameraService::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void FakeCameraService::setReadPace(qint64 bytes, int everyMs)
{
    m_paceBytes = bytes;
    if (!m_pace) {
        m_pace = new QTimer(this);
        connect(m_pace, &QTimer::timeout, this, [this] {
            for (QTcpSocket* socket : m_pending.keys())
                onReadable(socket);
        });
    }
    if (bytes > 0)
        m_pace->start(everyMs);
    else
        m_pace->stop();
}

void FakeCameraService::onConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        ++m_connections;
        ++m_open;
        socket->setParent(this);
        m_pending.insert(socket, {});
        if (m_paceBytes > 0) {
            // Read on the pace timer, that much at a time, with little held in the network below.
            socket->setReadBufferSize(m_paceBytes);
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(m_paceBytes));
        } else
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --m_open;
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeCameraService::onReadable(QTcpSocket* socket)
{
    Pending& pending = m_pending[socket];
    QByteArray& buffer = pending.buffer;
    const QByteArray bytes = socket->readAll();
    if (buffer.isEmpty() && !bytes.isEmpty())
        pending.since.start();
    buffer += bytes;
    for (;;) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        Request request;
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        request.method = start.value(0);
        request.path = start.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        const qsizetype length = request.header("Content-Length").toLongLong();
        request.port = socket->localPort();
        const Reply early = m_replies.value({request.path, QByteArray()});
        if (early.early) {
            request.body = buffer.mid(headEnd + 4, length);
            request.receivedInMs = pending.since.elapsed();
            m_requests.append(request);
            m_pending.remove(socket);
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            socket->setReadBufferSize(1); // the rest stays in the network's buffers
            send(socket, replyBytes(early), early);
            return;
        }
        if (buffer.size() < headEnd + 4 + length)
            return;
        request.body = buffer.mid(headEnd + 4, length);
        request.receivedInMs = pending.since.elapsed();
        buffer.remove(0, headEnd + 4 + length);
        if (!buffer.isEmpty())
            pending.since.start();
        m_requests.append(request);
        const Reply reply = replyFor(request);
        if (reply.silent)
            continue;
        send(socket, replyBytes(reply), reply);
        if (reply.close)
            return;
    }
}

QByteArray FakeCameraService::replyBytes(const Reply& reply)
{
    if (reply.raw)
        return *reply.raw;
    const QByteArray reason = reply.status == 200 ? "OK" : "Not Found";
    return "HTTP/1.1 " + QByteArray::number(reply.status) + " " + reason
        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(reply.body.size())
        + "\r\n\r\n" + reply.body;
}

void FakeCameraService::send(QTcpSocket* socket, const QByteArray& bytes, const Reply& reply)
{
    const int pieces = qMax(reply.pieces, 1);
    const qsizetype size = (bytes.size() + pieces - 1) / pieces;
    for (int k = 0; k < pieces; ++k) {
        const QByteArray piece = bytes.mid(k * size, size);
        const bool last = k == pieces - 1;
        const auto write = [socket, piece, last, close = reply.close] {
            socket->write(piece);
            if (last && close)
                socket->disconnectFromHost();
        };
        if (k == 0)
            write();
        else
            QTimer::singleShot(k * reply.pieceDelayMs, socket, write);
    }
}

FakeCameraService::Reply FakeCameraService::replyFor(const Request& request) const
{
    if (auto exact = m_replies.constFind({request.path, request.body}); exact != m_replies.constEnd())
        return *exact;
    if (auto any = m_replies.constFind({request.path, QByteArray()}); any != m_replies.constEnd())
        return *any;
    Reply missing;
    missing.status = 404;
    missing.body = "not found";
    return missing;
}

} // namespace testsupport
