#include "model/folder_order.h"

#include <QDir>

#include <algorithm>
#include <climits>

namespace {

// ASCII case folding only: the ranking must not depend on the C library's locale tables.
unsigned char lowerByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool isUpperByte(unsigned char c)
{
    return c >= 'A' && c <= 'Z';
}

} // namespace

bool compareFolderNames(const QString& a, const QString& b)
{
    const QByteArray left = a.toLocal8Bit();
    const QByteArray right = b.toLocal8Bit();
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const auto l = static_cast<unsigned char>(left[i]);
        const auto r = static_cast<unsigned char>(right[i]);
        const unsigned char lowerL = lowerByte(l);
        const unsigned char lowerR = lowerByte(r);
        if (lowerL != lowerR)
            return lowerL < lowerR;
        if (isUpperByte(l) != isUpperByte(r))
            return !isUpperByte(l);
    }
    return left.size() < right.size();
}

OrderKeys rawImportOrderKeys(const QString& projectFolder, QStringList newFloorFolders)
{
    OrderKeys keys;
    std::sort(newFloorFolders.begin(), newFloorFolders.end(), compareFolderNames);
    constexpr int lastFloorIndex = (INT_MAX - kOrderKeyFloorStride) / kOrderKeyFloorStride;
    for (int floorIndex = 0; floorIndex < newFloorFolders.size() && floorIndex <= lastFloorIndex; ++floorIndex) {
        const QString& floorName = newFloorFolders[floorIndex];
        QStringList scans = QDir(projectFolder + "/" + floorName).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(scans.begin(), scans.end(), compareFolderNames);
        const int count = static_cast<int>(std::min<qsizetype>(scans.size(), kOrderKeyFloorStride));
        for (int scanIndex = 0; scanIndex < count; ++scanIndex)
            keys.insert({floorName, scans[scanIndex]}, floorIndex * kOrderKeyFloorStride + 1 + scanIndex);
    }
    return keys;
}
