#include "app/command_line.h"
#include "base/aes.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <sstream>

TEST(CommandLineProgram, EachWordPrintsOneLineAndExitsWithoutAWindow)
{
    // On an X11 platform with no display, creating any application object stops the program.
    const auto run = [](const QStringList& words) {
        const QStringList noDisplay = {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb", QUORIL_BINARY};
        return testsupport::runProcess("env", noDisplay + words, {}, 60000);
    };
    // A processor with AES instructions must get the hardware path by default.
    const QByteArray name = aesImplementationSupported(AesImplementation::Hardware) ? "INTEL AES-NI" : "portable C++";
    const std::tuple<const char*, int, QByteArray> cases[] = {
        {"--help", 0, "Usage: quoril [--help | --aes-impl | --test]\n"},
        {"--aes-impl", 0, "AES implementation: " + name + "\n"},
        {"--test", 0, "Self-test passed (" + name + ")\n"},
        {"--HELP", 19, "Error: unknown command --HELP\n"},
    };
    for (const auto& [word, exitCode, line] : cases) {
        SCOPED_TRACE(word);
        const testsupport::ProcessResult r = run({word});
        EXPECT_EQ(r.exitCode, exitCode);
        EXPECT_EQ(r.out, line);
        EXPECT_EQ(r.err, QByteArray());
    }
    // The control: without a word the same environment stops the program as it makes its window.
    const testsupport::ProcessResult window = run({});
    EXPECT_NE(window.exitCode, 0);
    EXPECT_TRUE(window.err.contains("platform plugin")) << window.err.constData();
}

TEST(CommandLine, AFailedSelfTestIsReportedAndOtherWordCountsStartTheWindow)
{
    std::ostringstream out;
    EXPECT_EQ(runCommandLine({"quoril", "--test"}, out, [] { return QStringLiteral("CBC gives garbage"); }), 1);
    EXPECT_EQ(runCommandLine({"quoril", "--help", "--test"}, out), std::nullopt);
    EXPECT_EQ(out.str(), "Self-test failed: CBC gives garbage\n");
}
