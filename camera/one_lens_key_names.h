#pragma once

#include <string>

// Names of the one-lens calibration values in the text form of "system.cfg", by their index in
// the model's tables; an index outside a table gives "Undefined".
std::string intKeyName(int index);    // TIMESTAMP, IMGWIDTH, IMGHEIGHT, then the laser and compass integers
std::string doubleKeyName(int index); // the ten lens terms F ... P3
std::string floatKeyName(int index);  // COMPASS_OFFSET, LENS_FOV, RCA, BCA, VC0 ... VC9
