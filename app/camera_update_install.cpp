#include "app/camera_update_install.h"

#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <memory>

namespace {

// An empty model of the same kind, to read a file without touching the project's own.
std::unique_ptr<CamParams> blankModelLike(const CamParams* camera)
{
    if (dynamic_cast<const CamParamsZTM6*>(camera))
        return std::make_unique<CamParamsZTM6>();
    if (dynamic_cast<const CamParamsZTM5*>(camera))
        return std::make_unique<CamParamsZTM5>();
    return nullptr;
}

} // namespace

bool takesCameraUpdates(const CamParams* camera)
{
    return blankModelLike(camera) != nullptr;
}

bool isSystemFileName(const QString& fileName)
{
    return QFileInfo(fileName).suffix().compare(QLatin1String("cfg"), Qt::CaseInsensitive) == 0;
}

QString firmwareVersionInName(const QString& fileName)
{
    static const QRegularExpression dotted(QStringLiteral("\\d+(?:\\.\\d+)+"));
    // The suffix may be numbered too ("7z"): only the name before it counts.
    const QString base = QFileInfo(fileName).completeBaseName();
    QString version;
    for (auto it = dotted.globalMatch(base); it.hasNext();)
        version = it.next().captured();
    return version;
}

bool systemFileTimestamp(const CamParams& camera, const QString& path, int& timestamp)
{
    const std::unique_ptr<CamParams> reader = blankModelLike(&camera);
    if (!reader || !reader->loadSystemFile(path))
        return false;
    timestamp = reader->timestamp();
    return true;
}
