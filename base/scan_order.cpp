#include "base/scan_order.h"

std::optional<int> leadingScanNumber(const QString& name)
{
    const qsizetype cut = name.indexOf(QLatin1String(" - "));
    bool ok = false;
    const int value = (cut < 0 ? name : name.left(cut)).trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

bool scanNameLess(const QString& a, const QString& b)
{
    const std::optional<int> numberA = leadingScanNumber(a);
    const std::optional<int> numberB = leadingScanNumber(b);
    if (numberA && numberB)
        return *numberA < *numberB;
    if (numberA || numberB)
        return numberA.has_value();
    return a < b;
}
