#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What one reply of the camera's HTTP service amounts to.
struct CameraReply {
    enum Kind {
        Valid,             // a JSON object whose return code is the number 0
        BadAnswer,         // the camera answered, but not with that
        ConnectionFailure, // no answer: refused, unreachable, silent too long
    };
    Kind kind = ConnectionFailure;
    QJsonObject object; // the reply's top-level object (empty unless it parsed as one)
};

// A reply larger than this is no answer of the camera's; it is not read.
inline constexpr qint64 kMaxCameraReplyBytes = 64 * 1024;

// Judges a finished reply: `networkFailed` when the transfer itself failed, the body as received,
// and the name the camera model gives its return-code field. Only a numeric 0 is success: a code
// given as a string or anything else is a bad answer, for the camera may mean a failure by it.
CameraReply judgeCameraReply(bool networkFailed, const QByteArray& body, const QString& returnCodeField);
