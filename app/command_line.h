#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <ostream>

inline constexpr int kUnknownCommandExitCode = 19;
inline constexpr int kSelfTestFailedExitCode = 1;

// Returns an empty text when the self-test passes, otherwise what failed.
using SelfTest = std::function<QString()>;

// Handles the one-word commands. `arguments` is the whole argument vector, program name first.
// With exactly one word the command's single line goes to `out` and its exit code comes back;
// with any other count nothing is printed and no value comes back: the window should start.
// Touches nothing of the GUI, so it runs before any application object exists.
std::optional<int> runCommandLine(const QStringList& arguments, std::ostream& out, const SelfTest& selfTest = {});
