#include "support/ztm5_project.h"

#include "support/test_support.h"

#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace testsupport {

QJsonObject makeZtm5Project(const QString& folder, const QStringList& options)
{
    const QString script = QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/make_ztm5_project.py");
    const ProcessResult result = runProcess(systemPython(), QStringList{script, folder, "--describe"} + options, {}, 600000);
    if (result.exitCode != 0)
        throw std::runtime_error("make_ztm5_project.py failed: " + result.err.toStdString());
    QJsonParseError error{};
    const QJsonDocument description = QJsonDocument::fromJson(result.out, &error);
    if (error.error != QJsonParseError::NoError || !description.isObject())
        throw std::runtime_error("make_ztm5_project.py gave no description");
    return description.object();
}

double distanceToPolygon(const QJsonArray& polygon, const QPointF& p)
{
    double best = std::numeric_limits<double>::infinity();
    for (qsizetype i = 0; i < polygon.size(); ++i) {
        const QJsonArray a = polygon[i].toArray(), b = polygon[(i + 1) % polygon.size()].toArray();
        const double ax = a[0].toDouble(), ay = a[1].toDouble();
        const double ex = b[0].toDouble() - ax, ey = b[1].toDouble() - ay;
        const double length2 = ex * ex + ey * ey;
        const double t = length2 > 0 ? std::clamp(((p.x() - ax) * ex + (p.y() - ay) * ey) / length2, 0.0, 1.0) : 0.0;
        best = std::min(best, std::hypot(p.x() - ax - t * ex, p.y() - ay - t * ey));
    }
    return best;
}

} // namespace testsupport
