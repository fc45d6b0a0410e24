#include "support/json_compare.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace testsupport {

namespace {

QString show(const QJsonValue& value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

// Empty when equal, else the path and both values of the first difference.
QString difference(const QJsonValue& a, const QJsonValue& b, double tolerance, const QString& path)
{
    if (a.isDouble() && b.isDouble()) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        if (x == y || std::fabs(x - y) <= tolerance * std::max(std::fabs(x), std::fabs(y)))
            return {};
        return path + ": " + show(a) + " vs " + show(b);
    }
    if (a.type() != b.type())
        return path + ": " + show(a) + " vs " + show(b);
    if (a.isObject()) {
        const QJsonObject x = a.toObject();
        const QJsonObject y = b.toObject();
        if (x.keys() != y.keys())
            return path + ": keys " + x.keys().join(',') + " vs " + y.keys().join(',');
        for (const QString& key : x.keys())
            if (QString d = difference(x[key], y[key], tolerance, path + "." + key); !d.isEmpty())
                return d;
        return {};
    }
    if (a.isArray()) {
        const QJsonArray x = a.toArray();
        const QJsonArray y = b.toArray();
        if (x.size() != y.size())
            return path + ": " + show(a) + " vs " + show(b);
        for (qsizetype i = 0; i < x.size(); ++i)
            if (QString d = difference(x[i], y[i], tolerance, path + "[" + QString::number(i) + "]"); !d.isEmpty())
                return d;
        return {};
    }
    return a == b ? QString() : path + ": " + show(a) + " vs " + show(b);
}

} // namespace

::testing::AssertionResult jsonNear(const QJsonValue& expected, const QJsonValue& actual, double tolerance)
{
    const QString d = difference(expected, actual, tolerance, QStringLiteral("$"));
    if (d.isEmpty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << d.toStdString();
}

} // namespace testsupport
