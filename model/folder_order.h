#pragma once

#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>

// Strict order of folder names for numbering the scans of a raw import. The names are compared
// byte by byte in the local 8-bit encoding, each byte ranked by its lower-case form and then by
// being upper case, so "a" < "A" < "b"; a prefix comes first. Bytes rank as unsigned values.
bool compareFolderNames(const QString& a, const QString& b);

// Order keys of a raw import, by (floor folder name, scan folder name): the new floor folders in
// compareFolderNames order give the floor index, the sub-folders of each in the same order the
// scan index, and the key is floor index x 10000 + 1 + scan index. Scan indexes stop at 9999 so
// that two floors' keys never meet; floors whose keys would leave the int range get none.
using OrderKeys = QHash<QPair<QString, QString>, int>;
OrderKeys rawImportOrderKeys(const QString& projectFolder, QStringList newFloorFolders);

inline constexpr int kOrderKeyFloorStride = 10000;
