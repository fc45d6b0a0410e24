#include "app/dialog_progress.h"
#include "support/scripted_prompt.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Tests never need a display; dialogs and widgets render offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Keep the tests' settings away from the user's own.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    QApplication::setOrganizationName("Korvessa");
    QApplication::setApplicationName("Quoril");
    // The model's progress shows in the application's dialogs, as in the program.
    setProgressFactory(dialogProgressFactory());
    ::testing::InitGoogleTest(&argc, argv);
    // No test may wait for a person: a question that no test scripted fails that test instead.
    testsupport::ScriptedPrompt noUnscriptedQuestions;
    return RUN_ALL_TESTS();
}
