#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace testsupport {

// Writes a project folder with tests/support/make_project.py (Debian's python3 with numpy, PIL,
// struct + crcmod for "system.cfg", openssl for the enciphered files), handing it the cipher keys,
// and returns the script's description of the floors and scans it wrote. The options are the
// script's own (--floors N, --variant draft, ...). Throws when the script fails.
QJsonObject makeProject(const QString& folder, const QStringList& options = {});

// The kind's key as 32 hex digits, for outside tools.
QString cipherKeyHex(char selector);

} // namespace testsupport
