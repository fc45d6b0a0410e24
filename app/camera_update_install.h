#pragma once

#include <QString>

class CamParams;

// What the window needs to hand a downloaded camera update to the project's camera model.

// Whether the model takes updates from the program (the laser-line camera does not).
bool takesCameraUpdates(const CamParams* camera);
// A system file, by its name; anything else is taken for firmware.
bool isSystemFileName(const QString& fileName);
// The dotted version a firmware download's name carries ("fw6_update_1.3.512.7z" gives "1.3.512");
// empty when it carries none.
QString firmwareVersionInName(const QString& fileName);
// The time stamp stored in a system file, read as the camera's model reads its own; false when
// the file is not a system file of that model.
bool systemFileTimestamp(const CamParams& camera, const QString& path, int& timestamp);
