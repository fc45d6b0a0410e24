#include "app/main_window.h"
#include "app/message_presenter.h"
#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm6.h"
#include "camera/camera_connection.h"
#include "camera/camera_request.h"
#include "camera/camera_update.h"
#include "model/property.h"
#include "support/fake_camera_service.h"
#include "support/gui_input.h"
#include "support/log_capture.h"
#include "support/project_generator.h"
#include "support/scripted_prompt.h"
#include "support/system_cfg_fixture.h"
#include "support/test_support.h"

#include <QAction>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QWindow>

#include <functional>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A two-lens camera that records the updates it is asked for instead of running them.
class RecordingCamera : public CamParamsZTM6 {
public:
    struct Call {
        QString kind;
        QString file;
        QString version;
        QWidget* parent;
    };
    void updateSystemFile(const QString& systemFile, int timestamp, QWidget* parent) override
    {
        calls << Call{"system file", systemFile, QString::number(timestamp), parent};
    }
    void updateFirmware(const QString& firmwareFile, const QString& version, QWidget* parent) override
    {
        calls << Call{"firmware", firmwareFile, version, parent};
    }
    QList<Call> calls;
};

// A window with a generated two-lens project open.
class InstallCameraUpdate : public ::testing::Test {
protected:
    InstallCameraUpdate()
    {
        MessagePresenter::setBlockingBoxes(false);
        makeProject(folder, {"--scans-per-floor", "0", "--user-scans", "1", "--lens-height", "64"});
        window.show();
    }
    ~InstallCameraUpdate() override
    {
        if (window.currentProperty())
            window.currentProperty()->setDirty(false);
        MessagePresenter::setBlockingBoxes(true);
    }

    void load()
    {
        ScriptedPrompt prompt;
        prompt.answerProjectFolders({folder}, QFileInfo(folder).absolutePath());
        window.loadAction()->trigger();
        runPostedJobs();
    }
    // The project's camera replaced by one that records; owned by the project.
    RecordingCamera* recordUpdates()
    {
        auto* camera = new RecordingCamera;
        window.currentProperty()->setCamParams(camera);
        return camera;
    }

    QTemporaryDir root;
    QString folder = root.filePath("Harbour View");
    MainWindow window;
};

TEST_F(InstallCameraUpdate, OfferedOnlyForACameraThatTakesUpdates)
{
    QAction* install = window.installCameraUpdateAction();
    ASSERT_NE(install, nullptr);
    EXPECT_TRUE(install->shortcut().isEmpty());
    EXPECT_FALSE(install->isEnabled()) << "no project";
    load();
    ASSERT_NE(dynamic_cast<CamParamsZTM6*>(window.currentProperty()->camParams()), nullptr);
    EXPECT_TRUE(install->isEnabled());
    window.currentProperty()->setCamParams(new CamParamsZTM4);
    window.openProperty(window.currentProperty());
    EXPECT_FALSE(install->isEnabled()) << "the laser-line camera is never updated from here";
}

TEST_F(InstallCameraUpdate, APickedFileGoesToTheModelAsFirmwareOrSystemFile)
{
    load();
    RecordingCamera* camera = recordUpdates();
    const QString firmware = root.filePath("fw6_update_1.3.512.7z");
    const QString unnamed = root.filePath("fw6_update.7z");
    const QString systemFile = root.filePath("system (2).cfg");
    writeFile(firmware, "firmware");
    writeFile(unnamed, "firmware");
    makeSystemCfg(systemFile, {"--timestamp", "20250102"});
    {
        ScriptedPrompt prompt;
        prompt.answerFiles({firmware}).answerFiles({unnamed}).answerFiles({systemFile}).answerFiles({});
        for (int i = 0; i < 4; ++i)
            window.installCameraUpdateAction()->trigger();
        EXPECT_EQ(prompt.asked()[0].kind, "file chooser");
    }
    ASSERT_EQ(camera->calls.size(), 3) << "a cancelled chooser installs nothing";
    EXPECT_EQ(camera->calls[0].kind, "firmware");
    EXPECT_EQ(camera->calls[0].file, firmware);
    EXPECT_EQ(camera->calls[0].version, "1.3.512");
    EXPECT_EQ(camera->calls[1].version, "");
    EXPECT_EQ(camera->calls[2].kind, "system file");
    EXPECT_EQ(camera->calls[2].file, systemFile);
    EXPECT_EQ(camera->calls[2].version, "20250102") << "the time stamp the new file holds";
    for (const auto& call : camera->calls)
        EXPECT_EQ(call.parent, &window);
}

TEST_F(InstallCameraUpdate, ASystemFileOfAnotherCameraIsRefused)
{
    load();
    RecordingCamera* camera = recordUpdates();
    const QString oneLens = root.filePath("system.cfg");
    makeSystemCfg(oneLens, {"--model", "ztm5"});
    LogCapture log;
    ScriptedPrompt prompt;
    prompt.answerFiles({oneLens});
    window.installCameraUpdateAction()->trigger();
    EXPECT_TRUE(camera->calls.isEmpty());
    EXPECT_EQ(log.texts(QtWarningMsg),
              QStringList({"The file is not a system file of this project's camera: " + oneLens}));
}

TEST_F(InstallCameraUpdate, TheCommandUpdatesTheProjectsCameraOverWifi)
{
    load();
    FakeCameraService camera;
    QSettings().setValue(kCameraUrlKey, camera.address());
    camera.setJsonReply("/cmd", R"({"cmd": 12})", R"({"retCode": 0, "fwVersion": "1.3.9"})");
    camera.setJsonReply("/store/fw6_update.7z", {}, R"({"retCode": 0})");
    camera.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    const QString firmware = root.filePath("fw6_update_1.4.0.7z");
    const QByteArray bytes = pseudoRandomBytes(200000, 5);
    writeFile(firmware, bytes);
    {
        // No "already updated" question: the version came from the file's name.
        ScriptedPrompt prompt;
        prompt.answerFiles({firmware}).answerQuestion(QMessageBox::Ok).answerQuestion(QMessageBox::Ok);
        window.installCameraUpdateAction()->trigger();
        EXPECT_TRUE(processEventsUntil([&] { return prompt.pending() == 0 && cameraRequestsUnderWay() == 0; }, 10000));
        EXPECT_EQ(prompt.asked().last().text, "Firmware updated successfully and system is now rebooting.");
    }
    ASSERT_EQ(camera.requestPaths(), QList<QByteArray>({"/cmd", "/store/fw6_update.7z", "/cmd"}));
    EXPECT_TRUE(camera.requests()[1].body == bytes);
    processEventsFor(30);
    EXPECT_TRUE(window.findChildren<QProgressDialog*>().isEmpty()) << "every busy dialog closed";
    QSettings().remove(kCameraUrlKey);
}

// The window may close while the camera works: the update goes on to its end, and what it shows
// after that stands on its own instead of pointing at the window that is gone.
TEST(InstallCameraUpdateWindow, AnUpdateOutlivesTheWindowThatStartedIt)
{
    MessagePresenter::setBlockingBoxes(false);
    QTemporaryDir root;
    FakeCameraService camera;
    camera.setJsonReply("/cmd", R"({"cmd": 12})", R"({"retCode": 0, "fwVersion": "1.3.9"})");
    camera.setJsonReply("/store/fw6_update.7z", {}, R"({"retCode": 0})");
    camera.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    const QString firmware = root.filePath("fw6_update_1.4.0.7z");
    writeFile(firmware, pseudoRandomBytes(200000, 9));
    auto window = std::make_unique<MainWindow>();
    window->show();
    const QWidget* started = window.get();
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Ok).answerQuestion(QMessageBox::Ok);
    startFirmwareUpdate(twoLensUpdateProfile(), CameraConnection{camera.address(), 10000}, firmware, "1.4.0",
                        window.get());
    EXPECT_EQ(window->findChildren<QProgressDialog*>().size(), 1) << "the busy view over the window";
    window.reset();
    EXPECT_TRUE(processEventsUntil([&] { return prompt.pending() == 0 && cameraRequestsUnderWay() == 0; }, 10000));
    EXPECT_EQ(camera.requestPaths(), QList<QByteArray>({"/cmd", "/store/fw6_update.7z", "/cmd"}));
    ASSERT_EQ(prompt.asked().size(), 2);
    EXPECT_EQ(prompt.asked()[0].parent, started);
    EXPECT_EQ(prompt.asked()[1].text, "Firmware updated successfully and system is now rebooting.");
    EXPECT_EQ(prompt.asked()[1].parent, nullptr);
    processEventsFor(30);
    MessagePresenter::setBlockingBoxes(true);
}

// A camera that takes the connection and never answers holds no one: the wait for it has a
// Cancel, and Cancel, Escape and closing the wait drop the request at once and end the update
// there, with nothing sent and nothing asked afterwards, also once the time-out is past.
TEST(InstallCameraUpdateWindow, StoppingTheWaitForASilentCameraEndsTheUpdate)
{
    MessagePresenter::setBlockingBoxes(false);
    QTemporaryDir root;
    const QString firmware = root.filePath("fw6_update_1.4.0.7z");
    writeFile(firmware, pseudoRandomBytes(4096, 3));
    MainWindow window;
    window.show();
    const QList<std::pair<const char*, std::function<void(QProgressDialog*)>>> stops{
        {"Cancel",
         [](QProgressDialog* wait) {
             auto* cancel = wait->findChild<QPushButton*>();
             ASSERT_NE(cancel, nullptr);
             EXPECT_EQ(cancel->text(), "Cancel");
             cancel->click();
         }},
        {"Escape", [](QProgressDialog* wait) { keyClick(wait, Qt::Key_Escape); }},
        {"closing the wait",
         [](QProgressDialog* wait) {
             EXPECT_TRUE(wait->windowFlags() & Qt::WindowCloseButtonHint);
             wait->windowHandle()->close();
         }},
    };
    constexpr int timeoutMs = 1500;
    for (const auto& [name, stop] : stops) {
        SCOPED_TRACE(name);
        FakeCameraService camera;
        camera.setReply("/cmd", R"({"cmd": 12})", FakeCameraService::silentReply());
        ScriptedPrompt prompt;
        prompt.answerQuestion(QMessageBox::Ok);
        startFirmwareUpdate(twoLensUpdateProfile(), CameraConnection{camera.address(), timeoutMs}, firmware, "1.4.0",
                            &window);
        ASSERT_TRUE(processEventsUntil([&] { return camera.requests().size() == 1; }));
        const QList<QProgressDialog*> waits = window.findChildren<QProgressDialog*>();
        ASSERT_EQ(waits.size(), 1);
        ASSERT_TRUE(waits[0]->isVisible());
        EXPECT_EQ(waits[0]->labelText(), "Communicating with the camera...");
        stop(waits[0]);
        EXPECT_TRUE(processEventsUntil([&] { return camera.openConnections() == 0; }, timeoutMs / 2))
            << "the request is dropped, not left to time out";
        EXPECT_EQ(cameraRequestsUnderWay(), 0);
        processEventsFor(timeoutMs + 500);
        EXPECT_EQ(prompt.asked().size(), 1) << "nothing asked after the first box";
        EXPECT_EQ(camera.requestPaths(), QList<QByteArray>({"/cmd"}));
        EXPECT_EQ(camera.connections(), 1);
        EXPECT_TRUE(window.findChildren<QProgressDialog*>().isEmpty()) << "the wait is gone";
    }
    MessagePresenter::setBlockingBoxes(true);
}

} // namespace
