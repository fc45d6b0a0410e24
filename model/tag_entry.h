#pragma once

#include "model/tag.h"

#include <QJsonObject>

#include <optional>

class CamParams;
class Panorama;

// A tag as one entry of a floor layout's "tags" array. The entry places the tag in the scene through
// its scan, so the scan must be on its floor.
QJsonObject tagEntryToJson(const Tag& tag, Panorama& scan, bool forExport);

// The tag an entry describes, for the scan the entry names. With "originalPos" the fractions are
// taken from it (mapped into the camera's view when there is a camera model, otherwise as they
// are) and the distance from "offset"; otherwise u, v and d are worked out from "pos". The tag's
// id is stored without asking any registry.
Tag tagFromEntry(const QJsonObject& entry, const Panorama& scan, const CamParams* camera);
