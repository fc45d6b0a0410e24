#pragma once

#include <QString>

// The exterior wall thickness the field crew left in folder + "/wall.txt": the number on its
// first line (centimetres, C locale, read up to the first character that does not fit) times
// ten, rounded half away from zero. 0 when the file cannot be opened or holds no number.
int readWallThickness(const QString& folder);
