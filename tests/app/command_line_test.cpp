#include "app/command_line.h"
#include "project/aes.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Outcome {
    std::optional<int> exitCode;
    std::string printed;
};

Outcome run(const QStringList& arguments, const SelfTest& selfTest = {})
{
    std::ostringstream out;
    Outcome outcome;
    outcome.exitCode = runCommandLine(arguments, out, selfTest);
    outcome.printed = out.str();
    return outcome;
}

// Sets (or with a null value removes) environment variables for the scope; children inherit them.
class EnvironmentOverride {
public:
    EnvironmentOverride(std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const auto& [name, value] : values) {
            m_saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            if (value)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;
    ~EnvironmentOverride()
    {
        for (const Saved& s : m_saved) {
            if (s.wasSet)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
        }
    }

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    std::vector<Saved> m_saved;
};

// An X11 platform with no display: any QApplication created in the child aborts.
EnvironmentOverride noDisplay()
{
    return EnvironmentOverride{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}};
}

int lineCount(const QByteArray& text)
{
    return int(text.count('\n'));
}

} // namespace

TEST(CommandLine, OneWordRunsItsCommandAndOtherCountsStartTheWindow)
{
    const Outcome help = run({"quoril", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.printed, "Usage: quoril [--help | --aes-impl | --test]\n");

    const Outcome impl = run({"quoril", "--aes-impl"});
    EXPECT_EQ(impl.exitCode, 0);
    EXPECT_EQ(impl.printed, std::string("AES implementation: ") + aesImplementationName() + "\n");

    // Words are matched exactly: no prefixes, no other case.
    for (const QString word : {"--HELP", "-help", "--aes", "test", ""}) {
        const Outcome unknown = run({"quoril", word});
        EXPECT_EQ(unknown.exitCode, 19);
        EXPECT_EQ(unknown.printed, "Error: unknown command " + word.toStdString() + "\n");
    }

    for (const QStringList& arguments : {QStringList{"quoril"}, QStringList{"quoril", "--help", "--test"}}) {
        const Outcome window = run(arguments);
        EXPECT_FALSE(window.exitCode.has_value());
        EXPECT_TRUE(window.printed.empty());
    }
}

TEST(CommandLine, SelfTestReportsItsResultInTheExitCode)
{
    const Outcome passed = run({"quoril", "--test"});
    EXPECT_EQ(passed.exitCode, 0);
    EXPECT_EQ(passed.printed, std::string("Self-test passed (") + aesImplementationName() + ")\n");

    const Outcome failed = run({"quoril", "--test"}, [] { return QStringLiteral("CBC decryption gives a wrong result"); });
    EXPECT_EQ(failed.exitCode, kSelfTestFailedExitCode);
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_EQ(failed.printed, "Self-test failed: CBC decryption gives a wrong result\n");
}

TEST(CommandLineProgram, PrintsOneLineAndExitsWithoutCreatingTheGui)
{
    const auto environment = noDisplay();
    // A processor with AES instructions must get the hardware path by default.
    const QByteArray name = aesImplementationSupported(AesImplementation::Hardware) ? "INTEL AES-NI" : "portable C++";
    struct Case {
        const char* word;
        int exitCode;
        QByteArray line;
    };
    const Case cases[] = {
        {"--help", 0, "Usage: quoril [--help | --aes-impl | --test]\n"},
        {"--aes-impl", 0, "AES implementation: " + name + "\n"},
        {"--test", 0, "Self-test passed (" + name + ")\n"},
        {"--bogus", 19, "Error: unknown command --bogus\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        const testsupport::ProcessResult r = testsupport::runProcess(QUORIL_BINARY, {c.word}, {}, 60000);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(lineCount(r.out), 1);
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(r.err, QByteArray()) << r.err.constData();
    }
}

TEST(CommandLineProgram, WithoutAWordItWouldNeedTheDisplay)
{
    // The control for the test above: the same environment does stop a program that starts its
    // window, so a clean exit there means no application object was made.
    const auto environment = noDisplay();
    const testsupport::ProcessResult r = testsupport::runProcess(QUORIL_BINARY, {}, {}, 60000);
    ASSERT_TRUE(r.started);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("platform plugin")) << r.err.constData();
}
