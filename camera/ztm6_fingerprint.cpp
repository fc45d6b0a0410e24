#include "camera/cam_params_ztm6.h"
#include "camera/scan_fingerprint.h"

// Both lenses' files make up a two-lens scan's fingerprint.
std::string CamParamsZTM6::scanHash(const std::string& scanFolder) const
{
    return computeScanHash(scanFolder, 2);
}
