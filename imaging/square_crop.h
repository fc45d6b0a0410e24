#pragma once

#include <QByteArray>

// Replaces a width x height RGB buffer (three bytes per pixel, rows without padding) by its
// centred height x height square. Refuses (false, buffer untouched) an image narrower than it is
// tall or a buffer of another size: a shot is never cut to something that is not its square.
bool cropCenterSquare(QByteArray& rgb, int width, int height);
