#include "model/wall_thickness.h"

#include <QFile>

#include <charconv>
#include <cmath>
#include <limits>

namespace {
// Decimal number at the start of the text, after white space and an optional sign; independent
// of the process locale, which the application sets from the environment.
double leadingNumber(const QByteArray& text)
{
    const char* begin = text.constData();
    const char* end = begin + text.size();
    while (begin != end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    bool negative = false;
    if (begin != end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    double value = 0;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (result.ec != std::errc())
        return 0;
    return negative ? -value : value;
}
}

int readWallThickness(const QString& folder)
{
    QFile file(folder + "/wall.txt");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const double millimetres = std::round(leadingNumber(file.readLine(20)) * 10);
    if (!std::isfinite(millimetres) || std::fabs(millimetres) > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(millimetres);
}
