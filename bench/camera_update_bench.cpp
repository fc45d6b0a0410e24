// A firmware update over the camera's Wi-Fi against a stand-in camera service: the whole update
// (file check, status, upload from the file, apply) per iteration. bench/camera_upload_compare.py
// starts the service, sets QUORIL_CAMERA_URL and QUORIL_FIRMWARE_FILE, and compares with curl
// streaming the same file.
#include "base/questions.h"
#include "camera/camera_request.h"
#include "camera/camera_update.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <benchmark/benchmark.h>

namespace {

// Takes every box's default and remembers the last text, which tells how the update ended.
class DefaultAnswers : public Questions {
public:
    QString lastText;
    Button question(QWidget*, Icon, const QString&, const QString& text, Buttons, Button defaultButton) override
    {
        lastText = text;
        return defaultButton;
    }
    int choice(QWidget*, Icon, const QString&, const QString&, const QStringList&, int index) override { return index; }
    QStringList openFileNames(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString existingDirectory(QWidget*, const QString&, const QString&) override { return {}; }
    FloorChoice selectFloor(Building*, Floor*) override { return {}; }
    int choiceOrCancel(Icon, const QString&, const QString&, const QString&, const QList<NamedButton>&) override
    {
        return -1;
    }
    ProjectFolderChoice projectFolders(QWidget*, const QString&) override { return {}; }
    int runDialog(QDialog*) override { return 0; }
};

void BM_FirmwareUpdateOverWifi(benchmark::State& state)
{
    const QString url = qEnvironmentVariable("QUORIL_CAMERA_URL");
    const QString file = qEnvironmentVariable("QUORIL_FIRMWARE_FILE");
    if (url.isEmpty() || file.isEmpty()) {
        state.SkipWithError("set QUORIL_CAMERA_URL and QUORIL_FIRMWARE_FILE");
        return;
    }
    DefaultAnswers answers;
    Questions* previous = setQuestions(&answers);
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        startFirmwareUpdate(twoLensUpdateProfile(), CameraConnection{url}, file, "9.9.9", nullptr);
        while (cameraRequestsUnderWay() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        state.SetIterationTime(double(clock.nsecsElapsed()) * 1e-9);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (answers.lastText != QLatin1String("Firmware updated successfully and system is now rebooting.")) {
            state.SkipWithError(("the update did not succeed: " + answers.lastText).toStdString().c_str());
            break;
        }
    }
    setQuestions(previous);
    state.SetBytesProcessed(int64_t(state.iterations()) * QFileInfo(file).size());
}
BENCHMARK(BM_FirmwareUpdateOverWifi)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
