#pragma once

#include <QString>

// Kind of a scan. Only partial, full and user scans are built; only full and user scans may be
// shown on the portal or open the tour.
enum class PanoType : int { Unknown = 0, Map = 1, Partial = 2, Full = 3, User = 4 };

QString panoTypeToJson(PanoType type);
// Unknown words read as PanoType::Unknown.
PanoType panoTypeFromJson(const QString& word);

inline bool isBuildablePanoType(PanoType type)
{
    return type == PanoType::Partial || type == PanoType::Full || type == PanoType::User;
}

inline bool isPortalPanoType(PanoType type)
{
    return type == PanoType::Full || type == PanoType::User;
}
