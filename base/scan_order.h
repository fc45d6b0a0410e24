#pragma once

#include <QString>

#include <optional>

// The number a scan or scan-folder name starts with: the part before the first " - " (or the whole
// name) read as a 32-bit decimal integer, white space and a sign allowed around it.
std::optional<int> leadingScanNumber(const QString& name);

// Numbered names first, by number (equal numbers are equivalent); then the others, compared
// case-sensitively.
bool scanNameLess(const QString& a, const QString& b);
