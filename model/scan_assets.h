#pragma once

#include <QFileInfoList>
#include <QString>

// The files a scan carries to the portal besides its panos: the regular files of the scan
// folder's "assets" sub-folder, in directory order (symbolic links and sub-folders are not
// assets). A missing or unreadable folder has none.
QFileInfoList scanAssetFiles(const QString& scanFolder);
