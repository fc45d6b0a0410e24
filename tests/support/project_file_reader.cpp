#include "support/project_file_reader.h"

#include "base/cipher.h"

#include <QFile>
#include <QJsonDocument>

namespace testsupport {

QJsonObject readProjectFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray content = file.readAll();
    if (!decipherBytes(content, CipherKind::Data))
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    return document.object();
}

} // namespace testsupport
