#pragma once

#include "camera/camera_connection.h"
#include "camera/camera_reply.h"

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;

// One POST to the camera's HTTP service.
struct CameraRequest {
    QString path;
    QByteArray contentType;
    QByteArray body;
    QString busyText;        // shown in a busy view until the reply is in; empty: no view
    QString returnCodeField; // the camera model's name for the reply's return code
};

using CameraReplyHandler = std::function<void(const CameraReply& reply)>;

// Posts the request on a connection of its own and returns at once. When the reply is
// in, or the service stayed silent for the connection's time-out, the busy view closes and the
// handler runs once, on the GUI thread; the connection is closed and let go afterwards.
void postToCamera(const CameraConnection& connection, const CameraRequest& request, QWidget* parent,
                  CameraReplyHandler handler);

// Requests posted whose handler has not run yet.
int cameraRequestsUnderWay();
