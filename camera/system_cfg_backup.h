#pragma once

#include <QString>

class CamParams;

// Writes the model's calibration to path, first keeping the file found there as a one-time
// backup (for "system.cfg" the "system.orig" beside it; an existing backup is never replaced,
// so it always holds the oldest file). Throws std::runtime_error with a text meant for the user.
void saveSystemCfgWithBackup(CamParams& model, const QString& path);

// The backup path for a calibration file: its folder, its name up to the first '.', ".orig".
QString systemCfgBackupPath(const QString& path);
