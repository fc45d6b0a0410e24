#include "app/command_line.h"
#include "app/dialog_progress.h"
#include "app/dialog_questions.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "base/large_blocks.h"
#include "imaging/image_io.h"

#include <QApplication>
#include <QImageReader>
#include <QTimer>

#include <iostream>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> exitCode = runCommandLine(arguments, std::cout))
        return *exitCode;

    returnLargeBlocksToTheSystem();
    qputenv("QT_LOGGING_RULES", "qt.gui.input.events=false");
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{type}: %{message}"));
    QImageReader::setAllocationLimit(kImageReaderLimitMb);
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Korvessa");
    QApplication::setApplicationName("Quoril");
    // The model reaches the person through these two seams.
    setQuestions(&dialogQuestions());
    setProgressFactory(dialogProgressFactory());
    // For unattended runs (the screenshot test): message boxes must not wait for a click.
    if (qEnvironmentVariableIsSet("QUORIL_NONBLOCKING_MESSAGES"))
        MessagePresenter::setBlockingBoxes(false);

    MainWindow window;
    window.show();
    // A project named for an unattended run is opened as soon as the window is up.
    if (qEnvironmentVariableIsSet(kProjectFolderVariable))
        QTimer::singleShot(0, &window, &MainWindow::on_LoadProperty_triggered);
    return app.exec();
}
