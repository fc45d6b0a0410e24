#include "support/system_cfg_fixture.h"

#include "support/test_support.h"

#include <QJsonDocument>

#include <stdexcept>

namespace testsupport {

QJsonObject makeSystemCfg(const QString& path, const QStringList& options)
{
    const QString script = QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/make_system_cfg.py");
    const ProcessResult result = runProcess(systemPython(), QStringList{script, path, "--describe"} + options);
    if (result.exitCode != 0)
        throw std::runtime_error("make_system_cfg.py failed: " + result.err.toStdString());
    QJsonParseError error{};
    const QJsonDocument description = QJsonDocument::fromJson(result.out, &error);
    if (error.error != QJsonParseError::NoError || !description.isObject())
        throw std::runtime_error("make_system_cfg.py gave no description");
    return description.object();
}

} // namespace testsupport
