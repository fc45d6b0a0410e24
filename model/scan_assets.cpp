#include "model/scan_assets.h"

#include <QDir>

QFileInfoList scanAssetFiles(const QString& scanFolder)
{
    return QDir(scanFolder + "/assets/")
        .entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted);
}
