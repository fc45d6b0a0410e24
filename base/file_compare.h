#pragma once

#include <QString>

// Both paths are regular files (or links to them) holding the same bytes. A file that is missing
// or cannot be read compares unequal to everything.
bool sameFileContent(const QString& first, const QString& second);
