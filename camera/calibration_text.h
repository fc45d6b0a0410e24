#pragma once

#include <string>

// Numbers in the text forms of the one-lens calibration files. Each is written with the fewest
// digits that read back (parsed as a double, as the readers do, and narrowed where the value is
// held as a float) as the very value it was: a calibration written as text and read again is the
// same calibration. Common values read as they always did ("1050", "1.00106", "1e-07").
std::string calibrationText(float value);
std::string calibrationText(double value);
// A lens term held in both precisions: as its float when the double is that float widened (as
// every value read from a block is), else as the double.
std::string lensTermText(double value, float single);
