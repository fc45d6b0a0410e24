#include "camera/camera_update.h"

#include "camera/cam_params_ztm6.h"

#include <QDebug>

void warnCameraUpdatesUnavailable()
{
    qWarning() << "Camera updates are not available";
}

void CamParamsZTM6::updateSystemFile(const QString&, int, QWidget*)
{
    warnCameraUpdatesUnavailable();
}

void CamParamsZTM6::updateFirmware(const QString&, const QString&, QWidget*)
{
    warnCameraUpdatesUnavailable();
}
