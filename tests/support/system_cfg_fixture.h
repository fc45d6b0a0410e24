#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

class CamParams;

namespace testsupport {

// The one-lens calibration values by name, in the order the files store them: the keys of
// make_system_cfg.py's --set and --describe.
inline const char* const kLensKeys[] = {"F", "U0", "V0", "RY", "K1", "K2", "K3", "P1", "P2", "P3"};
inline const char* const kCalibrationKeys[] = {"COMPASS_OFFSET", "LENS_FOV", "RCA", "BCA", "VC0", "VC1", "VC2",
                                               "VC3", "VC4", "VC5", "VC6", "VC7", "VC8", "VC9"};
inline const char* const kLaserKeys[] = {"PN", "NX", "NY", "NZ", "A0", "A1", "A2", "A3", "A4", "A5", "UMIN", "UMAX"};

// Writes a calibration file with tests/support/make_system_cfg.py (struct + crcmod, run by
// Debian's python3) and returns the values it wrote, as the script describes them. The options
// are the script's own (--model, --version, --set KEY=VALUE, --flip-bit N, ...). Throws when
// the script fails.
QJsonObject makeSystemCfg(const QString& path, const QStringList& options = {});

// Everything a camera model holds from its calibration file (both precisions of the one-lens
// values), as text: two models hold the same calibration when their texts are equal.
QString calibrationState(const CamParams& model);

} // namespace testsupport
