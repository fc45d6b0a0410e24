#pragma once

#include <QString>

class CamParams;

// Readers of the files the camera and its field application leave in a project folder that has
// no project file yet; Property::importFromCameraData puts them together with readWallThickness
// (wall_thickness.h).

// The first line of folder + "/version.txt" without surrounding white space; empty when the file
// cannot be opened.
QString readVersionFile(const QString& folder);

// The legacy layout of the laser-line camera: "house.dat" names the floors and the scan folders
// of each, which are moved into one folder per floor; every other sub-folder but the reserved
// ones goes into "New Floor". Runs only for that camera's model and when the file opens; the file
// is deleted afterwards whether it could be read or not. Returns the property name it holds
// (empty when none was read). Failures are logged as warnings, never thrown.
QString importLegacyHouseLayout(const QString& projectFolder);

// The folder holds the laser-line camera's legacy layout "house.dat", which the first import
// reads, acts on and removes.
bool hasLegacyHouseLayout(const QString& projectFolder);

// The name of the folder that collects the scans no floor claims.
inline constexpr char kNewFloorFolderName[] = "New Floor";
