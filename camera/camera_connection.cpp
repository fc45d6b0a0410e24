#include "camera/camera_connection.h"

#include <QSettings>

CameraConnection cameraConnectionFromSettings()
{
    CameraConnection connection;
    connection.address =
        QSettings().value(kCameraUrlKey, QString::fromLatin1(kDefaultCameraUrl)).toString().trimmed();
    while (connection.address.endsWith(QLatin1Char('/')))
        connection.address.chop(1);
    return connection;
}
