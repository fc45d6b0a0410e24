#pragma once

#include <QLatin1String>

// Files of one scan folder.
namespace scanfiles {
inline const QLatin1String record("pano.dat");        // the scan's own record, data key
inline const QLatin1String preview("t.pic");          // 1800 x 900 preview, data key
inline const QLatin1String fullPano("s.pic");         // W x W/2 pano, data key
inline const QLatin1String pointCloud("pc.dat");      // point cloud, data key
inline const QLatin1String userSource("u.jpg");       // the picture of a user scan
inline const QLatin1String twoLensMainImage("h1.jpg"); // lens 1 of a two-lens camera scan
// The first shot of a one-lens lidar camera while it is still its bracketed exposures.
inline const QLatin1String firstExposure("p0.jpg");
inline const QLatin1String laserLineMainImage("ha.jpg");    // first shot of a laser-line camera scan
inline const QLatin1String laserLineMainExposure("pa0.jpg"); // its first exposure, before the shot is built
inline const QLatin1String transformFile("xfrm.dat"); // the camera's scan transform (its time orders scans)
} // namespace scanfiles
