#include "support/fake_camera_service.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

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
    Reply reply;
    reply.body = json;
    setReply(path, body, reply);
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

void FakeCameraService::onConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        ++m_connections;
        socket->setParent(this);
        m_pending.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeCameraService::onReadable(QTcpSocket* socket)
{
    QByteArray& buffer = m_pending[socket];
    buffer += socket->readAll();
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
        if (buffer.size() < headEnd + 4 + length)
            return;
        request.body = buffer.mid(headEnd + 4, length);
        request.port = socket->localPort();
        buffer.remove(0, headEnd + 4 + length);
        m_requests.append(request);
        const Reply reply = replyFor(request);
        if (reply.silent)
            continue;
        const QByteArray reason = reply.status == 200 ? "OK" : "Not Found";
        const QByteArray bytes = reply.raw
            ? *reply.raw
            : "HTTP/1.1 " + QByteArray::number(reply.status) + " " + reason
                + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(reply.body.size())
                + "\r\n\r\n" + reply.body;
        socket->write(bytes);
        if (reply.close) {
            socket->disconnectFromHost();
            return;
        }
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
