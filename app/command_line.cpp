#include "app/command_line.h"

#include "base/aes.h"
#include "base/cipher_self_test.h"

std::optional<int> runCommandLine(const QStringList& arguments, std::ostream& out, const SelfTest& selfTest)
{
    if (arguments.size() != 2)
        return std::nullopt;
    const QString& word = arguments.at(1);
    if (word == QLatin1String("--help")) {
        out << "Usage: quoril [--help | --aes-impl | --test]\n";
        return 0;
    }
    if (word == QLatin1String("--aes-impl")) {
        out << "AES implementation: " << aesImplementationName() << '\n';
        return 0;
    }
    if (word == QLatin1String("--test")) {
        const QString failure = selfTest ? selfTest() : cipherSelfTestFailure();
        if (failure.isEmpty()) {
            out << "Self-test passed (" << aesImplementationName() << ")\n";
            return 0;
        }
        out << "Self-test failed: " << failure.toStdString() << '\n';
        return kSelfTestFailedExitCode;
    }
    out << "Error: unknown command " << word.toStdString() << '\n';
    return kUnknownCommandExitCode;
}
