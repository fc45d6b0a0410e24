#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Lets GoogleTest show Qt strings as text in failure messages instead of raw bytes.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
