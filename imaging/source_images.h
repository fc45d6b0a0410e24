#pragma once

#include <QByteArray>

// The loaded shots of one scan as 8-bit RGB rows without padding: three fisheye shots of a
// one-lens camera, two lens images of the two-lens camera, or one equirectangular source in the
// first buffer. Camera shots are held bottom-up; an equirectangular source top-down.
struct SourceImages {
    QByteArray images[3];
    int width = 0;
    int height = 0;
    bool equirectangular = false;

    bool isEmpty() const { return images[0].isEmpty(); }
};
