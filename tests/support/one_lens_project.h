#pragma once

#include <QJsonObject>
#include <QString>

namespace testsupport {

// A project folder of a one-lens camera: the generator's project (two camera scans and one user
// scan per floor, a saved project file) with a "system.cfg" of that model ("ztm5" or "ztm4") in
// place of the two-lens one. Returns the generator's description of the floors and scans.
QJsonObject makeOneLensProject(const QString& folder, const QString& model = QStringLiteral("ztm5"));

} // namespace testsupport
