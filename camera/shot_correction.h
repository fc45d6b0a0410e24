#pragma once

#include <QByteArray>

class CamParamsOneLens;

// Cuts a shot of the camera's height (any width not below it) to its centred square and lines
// its red and blue channels up with green by the lens's RCA and BCA factors. Refuses (false,
// buffer untouched) a buffer that is not a whole number of rows of that height or is narrower
// than it is tall.
bool cropAndCorrectChromaticAberration(const CamParamsOneLens& camera, QByteArray& rgb);
