#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The test programs of the layers below the model: an event loop but no application window,
// no widgets and no dialogs behind the question and progress seams.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Keep the tests' settings away from the user's own.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    QCoreApplication::setOrganizationName("Korvessa");
    QCoreApplication::setApplicationName("Quoril");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
