#include "support/laser_line_project.h"

#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <stdexcept>

namespace testsupport {

QJsonObject makeLaserLineProject(const QString& folder, const QStringList& options)
{
    const QString script = QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/laser_line_project.py");
    const ProcessResult result =
        runProcess(systemPython(), QStringList{script, folder, "--describe"} + options, {}, 600000);
    if (result.exitCode != 0)
        throw std::runtime_error("laser_line_project.py failed: " + result.err.toStdString());
    QJsonParseError error{};
    const QJsonDocument description = QJsonDocument::fromJson(result.out, &error);
    if (error.error != QJsonParseError::NoError || !description.isObject())
        throw std::runtime_error("laser_line_project.py gave no description");
    return description.object();
}

QList<QPointF> laserWallPoints(const QJsonObject& scan)
{
    QList<QPointF> points;
    for (const QJsonValue shot : scan["points"].toArray())
        for (const QJsonValue point : shot.toArray())
            points << QPointF(point[0].toDouble(), point[1].toDouble());
    return points;
}

} // namespace testsupport
