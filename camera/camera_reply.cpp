#include "camera/camera_reply.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

CameraReply judgeCameraReply(bool networkFailed, const QByteArray& body, const QString& returnCodeField)
{
    CameraReply reply;
    if (networkFailed) {
        reply.kind = CameraReply::ConnectionFailure;
        return reply;
    }
    reply.kind = CameraReply::BadAnswer;
    if (body.size() > kMaxCameraReplyBytes)
        return reply;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return reply;
    reply.object = document.object();
    const QJsonValue code = reply.object.value(returnCodeField);
    if (code.isDouble() && code.toDouble() == 0.0)
        reply.kind = CameraReply::Valid;
    return reply;
}
