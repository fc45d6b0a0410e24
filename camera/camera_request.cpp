#include "camera/camera_request.h"

#include "base/progress.h"
#include "camera/http_response_reader.h"

#include <QDebug>
#include <QFile>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

// The camera speaks plain HTTP/1.1 on its own network, and an update moves hundreds of megabytes
// to it. The exchange is written straight onto a socket, in large pieces read from the file as the
// link takes them and never more than a few of them buffered, so that the upload runs at the speed
// of the link and its memory does not grow with the file.

namespace {

constexpr qint64 kPieceBytes = 1024 * 1024;
constexpr qint64 kBufferedBytes = 2 * kPieceBytes;

int underWay = 0; // GUI thread only

class CameraExchange : public QObject {
public:
    CameraExchange(const CameraConnection& connection, const CameraRequest& request, QWidget* parent,
                   CameraReplyHandler handler)
        : m_url(connection.urlOf(request.path))
        , m_request(request)
        , m_handler(std::move(handler))
        , m_reader(kMaxCameraReplyBytes)
        , m_bodySize(request.fileBody.file ? request.fileBody.size : request.body.size())
    {
        if (!request.busyText.isEmpty()) {
            ProgressRequest view;
            view.label = request.busyText;
            view.parent = parent;
            if (request.cancellable)
                view.cancelText = QStringLiteral("Cancel");
            m_busy = openProgress(view);
            if (request.cancellable)
                m_busy->setCancelHandler([this] { abandon(); });
        }
        // The camera is on the local Wi-Fi network: a proxy of the office network cannot reach it.
        m_socket.setProxy(QNetworkProxy::NoProxy);
        m_idle.setSingleShot(true);
        m_idle.setInterval(connection.inactivityTimeoutMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { finishWith(CameraReply::ConnectionFailure); });
        connect(&m_socket, &QTcpSocket::connected, this, &CameraExchange::sendHead);
        connect(&m_socket, &QTcpSocket::bytesWritten, this, [this] {
            m_idle.start();
            sendBody();
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, &CameraExchange::readReply);
        connect(&m_socket, &QTcpSocket::disconnected, this, &CameraExchange::closed);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::RemoteHostClosedError)
                closed();
            else
                finishWith(CameraReply::ConnectionFailure);
        });
    }

    void start()
    {
        ++underWay;
        m_idle.start();
        if (!m_url.isValid() || m_url.scheme() != QLatin1String("http") || m_url.host().isEmpty()) {
            // Reported from the event loop, as every other outcome is.
            QTimer::singleShot(0, this, [this] { finishWith(CameraReply::ConnectionFailure); });
            return;
        }
        m_socket.connectToHost(m_url.host(), quint16(m_url.port(80)));
    }

private:
    void sendHead()
    {
        QByteArray host = m_url.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':'))
            host = '[' + host + ']';
        if (m_url.port() >= 0)
            host += ':' + QByteArray::number(m_url.port());
        QByteArray path = m_url.path(QUrl::FullyEncoded).toLatin1();
        if (path.isEmpty())
            path = "/";
        m_socket.write("POST " + path + " HTTP/1.1\r\nHost: " + host + "\r\nContent-Type: " + m_request.contentType
                       + "\r\nContent-Length: " + QByteArray::number(m_bodySize) + "\r\n\r\n");
        if (m_request.fileBody.file && !m_request.fileBody.file->seek(0))
            return fileFailed();
        sendBody();
    }

    void sendBody()
    {
        while (m_sent < m_bodySize && m_socket.bytesToWrite() < kBufferedBytes) {
            const qint64 size = qMin(kPieceBytes, m_bodySize - m_sent);
            // A piece written as a whole array is queued without a copy.
            const QByteArray piece =
                m_request.fileBody.file ? m_request.fileBody.file->read(size) : m_request.body.mid(m_sent, size);
            if (piece.size() != size)
                return fileFailed();
            m_socket.write(piece);
            m_sent += size;
        }
    }

    // The file ended early or could not be read: the camera must not take what was sent for it.
    void fileFailed()
    {
        qWarning().noquote() << QStringLiteral("Could not read file: ") + m_request.fileBody.file->fileName();
        finishWith(CameraReply::ConnectionFailure);
    }

    void readReply()
    {
        m_idle.start();
        const QByteArray bytes = m_socket.readAll();
        settle(m_reader.feed(bytes));
    }

    void closed()
    {
        if (m_socket.bytesAvailable() > 0 && m_reader.feed(m_socket.readAll()) != HttpResponseReader::Reading) {
            settle(m_reader.state());
            return;
        }
        // Unless the reply runs to the close, the camera went away in the middle of it.
        if (m_reader.finishAtClose() == HttpResponseReader::Complete)
            settle(HttpResponseReader::Complete);
        else
            finishWith(CameraReply::ConnectionFailure);
    }

    void settle(HttpResponseReader::State state)
    {
        switch (state) {
        case HttpResponseReader::Reading:
            return;
        case HttpResponseReader::Complete:
            // An error status is the service failing, as a broken connection is.
            if (m_reader.status() >= 400)
                finishWith(CameraReply::ConnectionFailure);
            // A reply that comes before the whole request went out cannot vouch for what was
            // not sent: an upload taken as a success there would be applied with part of the file.
            else if (m_sent < m_bodySize || m_socket.bytesToWrite() > 0)
                finishWith(CameraReply::BadAnswer);
            else
                finish(judgeCameraReply(false, m_reader.body(), m_request.returnCodeField));
            return;
        case HttpResponseReader::Malformed:
        case HttpResponseReader::TooLarge:
            finishWith(CameraReply::BadAnswer);
            return;
        }
    }

    void finishWith(CameraReply::Kind kind)
    {
        CameraReply reply;
        reply.kind = kind;
        finish(reply);
    }

    void finish(const CameraReply& reply)
    {
        if (m_finished)
            return;
        end();
        m_busy.reset();
        // The handler may ask questions and start the next request; this one is done.
        const CameraReplyHandler handler = std::move(m_handler);
        handler(reply);
    }

    // The person stopped the wait: nothing more goes out and nothing follows. The busy view, whose
    // signal this runs in, goes with the exchange.
    void abandon()
    {
        if (!m_finished)
            end();
    }

    void end()
    {
        m_finished = true;
        m_idle.stop();
        m_socket.disconnect(this);
        m_socket.abort();
        m_request.body.clear();
        m_request.fileBody = {};
        --underWay;
        deleteLater();
    }

    QUrl m_url;
    CameraRequest m_request;
    CameraReplyHandler m_handler;
    HttpResponseReader m_reader;
    std::unique_ptr<Progress> m_busy;
    QTcpSocket m_socket;
    QTimer m_idle;
    qint64 m_bodySize;
    qint64 m_sent = 0;
    bool m_finished = false;
};

} // namespace

int cameraRequestsUnderWay()
{
    return underWay;
}

void postToCamera(const CameraConnection& connection, const CameraRequest& request, QWidget* parent,
                  CameraReplyHandler handler)
{
    auto* exchange = new CameraExchange(connection, request, parent, std::move(handler));
    exchange->start();
}
