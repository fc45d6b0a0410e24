#include "camera/camera_request.h"

#include "base/progress.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

namespace {
int underWay = 0; // GUI thread only
}

int cameraRequestsUnderWay()
{
    return underWay;
}

void postToCamera(const CameraConnection& connection, const CameraRequest& request, QWidget* parent,
                  CameraReplyHandler handler)
{
    std::shared_ptr<Progress> busy;
    if (!request.busyText.isEmpty()) {
        ProgressRequest view;
        view.label = request.busyText;
        view.parent = parent;
        busy = openProgress(view);
    }

    auto* manager = new QNetworkAccessManager;
    // The camera is on the local Wi-Fi network: a proxy of the office network cannot reach it.
    manager->setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest http(connection.urlOf(request.path));
    http.setHeader(QNetworkRequest::ContentTypeHeader, request.contentType);
    http.setHeader(QNetworkRequest::ContentLengthHeader, request.body.size());
    http.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Counted from the last byte moved either way, so a long upload is never cut short, while a
    // camera that took the connection and went quiet ends in a connection failure.
    http.setTransferTimeout(connection.inactivityTimeoutMs);
    QNetworkReply* reply = manager->post(http, request.body);
    ++underWay;

    auto oversized = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, oversized](qint64 received, qint64) {
        if (received > kMaxCameraReplyBytes && !*oversized) {
            *oversized = true;
            reply->abort();
        }
    });
    const QString returnCodeField = request.returnCodeField;
    QObject::connect(
        reply, &QNetworkReply::finished, reply,
        [reply, manager, busy, oversized, returnCodeField, handler = std::move(handler)]() mutable {
            reply->deleteLater();
            manager->deleteLater();
            CameraReply answer;
            if (*oversized) {
                answer.kind = CameraReply::BadAnswer;
            } else {
                const bool failed = reply->error() != QNetworkReply::NoError;
                // An aborted reply is closed and has nothing to read.
                const QByteArray body = failed ? QByteArray() : reply->read(kMaxCameraReplyBytes + 1);
                answer = judgeCameraReply(failed, body, returnCodeField);
            }
            if (busy) {
                busy->finish();
                busy.reset();
            }
            --underWay;
            // The handler may ask questions and start the next request; this one is done.
            const CameraReplyHandler next = std::move(handler);
            next(answer);
        },
        Qt::DirectConnection);
}
