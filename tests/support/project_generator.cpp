#include "support/project_generator.h"

#include "base/cipher.h"
#include "base/secure_wipe.h"
#include "support/test_support.h"

#include <QJsonDocument>

#include <stdexcept>

namespace testsupport {

QString cipherKeyHex(char selector)
{
    std::uint8_t key[16];
    buildCipherKey(selector, key);
    const QString hex = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(key), 16).toHex());
    secureWipe(key, sizeof key);
    return hex;
}

QJsonObject makeProject(const QString& folder, const QStringList& options)
{
    const QString script = QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/make_project.py");
    const QStringList args = QStringList{script, folder, "--describe", "--data-key", cipherKeyHex(CipherKind::Data),
                                         "--draft-key", cipherKeyHex(CipherKind::Draft)}
        + options;
    const ProcessResult result = runProcess(systemPython(), args, {}, 600000);
    if (result.exitCode != 0)
        throw std::runtime_error("make_project.py failed: " + result.err.toStdString());
    QJsonParseError error{};
    const QJsonDocument description = QJsonDocument::fromJson(result.out, &error);
    if (error.error != QJsonParseError::NoError || !description.isObject())
        throw std::runtime_error("make_project.py gave no description");
    return description.object();
}

} // namespace testsupport
