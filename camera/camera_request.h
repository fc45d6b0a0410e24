#pragma once

#include "camera/camera_connection.h"
#include "camera/camera_reply.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QFile;
class QWidget;

// A request body that stays on disk: the first `size` bytes of an open file, read from its start
// piece by piece as the link takes them, so that an upload holds no copy of the file.
struct FileBody {
    std::shared_ptr<QFile> file;
    qint64 size = 0;
};

// One POST to the camera's HTTP service. What a request may leave out is initialised here.
struct CameraRequest {
    QString path;
    QByteArray contentType;
    QByteArray body{};
    QString busyText{};       // shown in a busy view until the reply is in; empty: no view
    QString returnCodeField;  // the camera model's name for the reply's return code
    FileBody fileBody{};      // with a file: the body, in place of `body`
    bool cancellable = false; // the busy view has a Cancel
};

using CameraReplyHandler = std::function<void(const CameraReply& reply)>;

// Posts the request on a connection of its own and returns at once. When the reply is
// in, or the service stayed silent for the connection's time-out, the busy view closes and the
// handler runs once, on the GUI thread; the connection is closed and let go afterwards. A file
// body that ends before its size is a connection failure: the camera never gets it whole. A
// person who cancels the busy view (its Cancel, Escape, closing it) ends the exchange at once:
// the connection is dropped and the handler never runs.
void postToCamera(const CameraConnection& connection, const CameraRequest& request, QWidget* parent,
                  CameraReplyHandler handler);

// Requests posted whose handler has not run yet, nor will because the person cancelled.
int cameraRequestsUnderWay();
