#pragma once

#include <QJsonObject>
#include <QString>

namespace testsupport {

// The object an enciphered project file (data key) holds; empty when the file is missing, is
// shorter than its envelope or its content is not one whole JSON object.
QJsonObject readProjectFile(const QString& path);

} // namespace testsupport
