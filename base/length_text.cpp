#include "base/length_text.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

const QChar inchMark = QLatin1Char('"');
const QChar footMark = QLatin1Char('\'');

QString unitSeparator(bool spaceBeforeUnit)
{
    return spaceBeforeUnit ? QStringLiteral(" ") : QString();
}

QString removeTrailing(QString text, const QString& pattern)
{
    return text.remove(QRegularExpression(pattern));
}

QString feetInchesOfMagnitude(double mm, int feetThreshold)
{
    // Whole feet and inches stay in double: a length far beyond any building must not reach an
    // integer conversion.
    const double exactInches = mm / 25.4;
    const double totalInches = std::trunc(exactInches + 0.5);
    double feet = std::trunc(totalInches / 12.0);
    if (feet < feetThreshold)
        feet = 0;
    const double inches = std::max(exactInches - feet * 12, 0.0);

    const double fraction = inches - std::floor(inches);
    const bool quarterInch = std::abs(fraction - 0.25) < 0.005 || std::abs(fraction - 0.75) < 0.005;
    const int decimals = quarterInch ? 2 : 1;
    QString text = QString::number(inches, 'f', feet != 0 ? 0 : decimals);

    if (feet == 0)
        return removeTrailing(text, QStringLiteral("\\.?0+$")) + inchMark;
    QString result = QString::number(feet, 'f', 0) + footMark;
    if (text != QLatin1String("0"))
        result += text + inchMark;
    return result;
}

QString decimalCommaAsPoint(QString text)
{
    return text.replace(QLatin1Char(','), QLatin1Char('.'));
}

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

} // namespace

QString formatFeetInches(double mm, int feetThreshold)
{
    if (mm < 0) {
        const QString magnitude = feetInchesOfMagnitude(-mm, feetThreshold);
        if (magnitude == feetInchesOfMagnitude(0, feetThreshold))
            return magnitude;
        return QLatin1Char('-') + magnitude;
    }
    return feetInchesOfMagnitude(mm, feetThreshold);
}

QString formatLength(double mm, bool spaceBeforeUnit, int style)
{
    const QString space = unitSeparator(spaceBeforeUnit);
    switch (style) {
    case 0:
        return formatFeetInches(mm, 0);
    case 1: {
        QString text = removeTrailing(QString::number(mm / 25.4, 'f', 1), QStringLiteral("0+$"));
        return removeTrailing(text, QStringLiteral("\\.$")) + inchMark;
    }
    case 2:
        return formatFeetInches(mm, 10);
    case 3:
        return removeTrailing(QString::number(mm / 10, 'f', 1), QStringLiteral("\\.?0+$")) + space
               + QStringLiteral("cm");
    case 4:
        if (mm >= 1000)
            return QString::number(mm / 1000, 'f', 2) + space + QStringLiteral("m");
        return QString::number(mm / 10, 'f', 0) + space + QStringLiteral("cm");
    case 5:
        return QString::number(mm / 1000, 'f', 2) + space + QStringLiteral("m");
    default:
        return {};
    }
}

double parseNumber(const QString& text, bool metric)
{
    if (text.contains(QLatin1Char('m'))) {
        const QRegularExpression number(QStringLiteral("(-?\\d+(?:[\\.,]\\d+(?:e\\d+)?)?)"));
        const QRegularExpressionMatch match = number.match(text);
        if (!match.hasMatch())
            return 0;
        const double value = decimalCommaAsPoint(match.captured(1)).toDouble();
        const double scale = text.contains(QLatin1String("cm"))   ? 10
                             : text.contains(QLatin1String("mm")) ? 1
                                                                  : 1000;
        return finiteOrZero(value * scale);
    }
    const bool imperialMarks = text.contains(inchMark) || text.contains(footMark)
                               || text.contains(QLatin1String("in")) || text.contains(QLatin1String("ft"));
    if (!imperialMarks && metric)
        return finiteOrZero(decimalCommaAsPoint(text).toDouble() * 10);
    return finiteOrZero(parseFeetInches(text) * 1000);
}

double parseFeetInches(QString text)
{
    text = text.trimmed();
    text.replace(QLatin1String("in"), QString(inchMark));
    text.replace(QLatin1String("ft"), QString(footMark));
    const QRegularExpression feetInches(
        QStringLiteral("^(?!$|.*'[^\"]+$)(?:([0-9]+)')? ?(?:([0-9]+\\.?[0-9]*)\"?)?$"));
    const QRegularExpressionMatch match = feetInches.match(text);
    if (!match.hasMatch())
        return 0;
    const double feet = match.captured(1).toDouble();
    const double inches = match.captured(2).toDouble();
    return (inches / 12 + feet) * 0.3048;
}
