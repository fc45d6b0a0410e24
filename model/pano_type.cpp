#include "model/pano_type.h"

#include <array>

namespace {
const std::array<const char*, 5> kWords = {"unknown", "map", "partial", "full", "user"};
}

QString panoTypeToJson(PanoType type)
{
    const int index = static_cast<int>(type);
    if (index < 0 || index >= static_cast<int>(kWords.size()))
        return QString::fromLatin1(kWords[0]);
    return QString::fromLatin1(kWords[static_cast<size_t>(index)]);
}

PanoType panoTypeFromJson(const QString& word)
{
    for (size_t i = 0; i < kWords.size(); ++i)
        if (word == QLatin1String(kWords[i]))
            return static_cast<PanoType>(i);
    return PanoType::Unknown;
}
