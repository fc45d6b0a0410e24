#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

class CamParams;

namespace testsupport {

// Writes a calibration file with tests/support/make_system_cfg.py (struct + crcmod, run by
// Debian's python3) and returns the values it wrote, as the script describes them. The options
// are the script's own (--model, --version, --set KEY=VALUE, --flip-bit N, ...). Throws when
// the script fails.
QJsonObject makeSystemCfg(const QString& path, const QStringList& options = {});

// Everything a camera model holds from its calibration file (both precisions of the one-lens
// values), as text: two models hold the same calibration when their texts are equal.
QString calibrationState(const CamParams& model);

} // namespace testsupport
