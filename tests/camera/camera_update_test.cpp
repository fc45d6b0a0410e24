#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "camera/camera_update.h"
#include "camera_update_fixture.h"

#include <QElapsedTimer>
#include <QFile>

#include <optional>

#include <memory>

using namespace testsupport;

namespace {

const QByteArray kTwoLensStatus = R"({"cmd": 12})";
const QByteArray kOneLensStatus = R"({"cmd": 17})";
const QString kFirmwareTitle = "Firmware Update";
const QString kSystemFileTitle = "System File Update";
const QString kTwoLensWifi = "Please connect your computer to the camera using Wi-Fi before proceeding. Make sure "
                             "battery level is above 25% and system is unplugged.";
const QString kOneLensWifi =
    "Please connect your computer to the camera using Wi-Fi before proceeding. Make sure battery level is above 20%.";
const QString kSystemFileWifi = "Please connect your computer to the camera using Wi-Fi before proceeding.";
const QString kTwoLensConnection =
    "Quoril could not communicate with the camera via Wi-Fi. Please check if:\n1 - The camera is on;\n2 - Your "
    "computer is connected to dovane-xxxxxx Wi-Fi network.\n3 - Your computer is not connected to any other network "
    "(e.g. ethernet cable).\n\nWould you like to retry?";
const QString kOneLensConnection =
    "Quoril could not communicate with the camera via Wi-Fi. Please check if:\n1 - The camera is on;\n2 - The Wi-Fi "
    "dongle is inserted;\n3 - Your computer is connected to korvessa-xxxxxx Wi-Fi network.\n4 - Your computer is not "
    "connected to any other network (e.g. ethernet cable).\n\nWould you like to retry?";
const QString kManual = "Would you like to try the manual procedure?";
const QString kNoWifiUpdate =
    "Camera firmware does not support Wi-Fi update. We will guide you through the manual procedure instead.";
const QString kUsbFirmwareFirst =
    "Please turn off the camera system, insert a USB Flash drive into this computer and select it.";
const QString kUsbSystemFileFirst =
    "Please turn off the camera system, insert your camera USB Flash drive into this computer and select it.";
const QString kFirmwareRejected = "Quoril received an invalid response from the camera and will guide you through "
                                  "the manual procedure instead.";

// What the service saw of one request, in the parts that the camera relies on.
void expectRequest(const FakeCameraService::Request& request, const QByteArray& path, const QByteArray& contentType,
                   const QByteArray& body)
{
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, path);
    EXPECT_EQ(request.header("Content-Type"), contentType) << path.constData();
    EXPECT_EQ(request.headerCount("Content-Type"), 1);
    EXPECT_EQ(request.header("Content-Length"), QByteArray::number(body.size())) << path.constData();
    EXPECT_EQ(request.headerCount("Content-Length"), 1);
    EXPECT_EQ(request.body.size(), body.size()) << path.constData();
    EXPECT_TRUE(request.body == body) << path.constData();
    QList<QByteArray> names;
    for (const auto& header : request.headers)
        names << header.first.toLower();
    EXPECT_EQ(names, QList<QByteArray>({"host", "content-type", "content-length"})) << "no other header";
    EXPECT_EQ(request.header("Host"), "127.0.0.1:" + QByteArray::number(request.port));
}

class WifiUpdate : public CameraUpdateTest {
protected:
    // More than one network read and write, with every byte value.
    const QByteArray firmwareBytes = pseudoRandomBytes(3 * 1024 * 1024 + 17, 7);
    const QByteArray systemFileBytes = pseudoRandomBytes(512, 11);
    const QString firmware = write("downloaded firmware.7z", firmwareBytes);
    const QString systemFile = write("downloaded system.cfg", systemFileBytes);

    // The information box that starts an update, answered.
    void expectStart() { prompt.answerQuestion(Questions::Ok); }
};

// ---- Both models, both updates: the whole exchange as the camera sees it ----

TEST_F(WifiUpdate, TwoLensFirmwareGoesStatusUploadApplyByteForByte)
{
    service.setJsonReply("/cmd", kTwoLensStatus, R"({"retCode": 0, "fwVersion": "1.2.9"})");
    service.setJsonReply("/store/fw6_update.7z", {}, R"({"retCode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    CamParamsZTM6().updateFirmware(firmware, "1.3.0", nullptr);
    settle();

    ASSERT_EQ(service.requests().size(), 3);
    expectRequest(service.requests()[0], "/cmd", "application/json", kTwoLensStatus);
    expectRequest(service.requests()[1], "/store/fw6_update.7z", "application/octet-stream", firmwareBytes);
    expectRequest(service.requests()[2], "/cmd", "application/json", R"({"cmd": 13, "fromRAM":1})");
    EXPECT_EQ(askedTexts(), QStringList({kTwoLensWifi, "Firmware updated successfully and system is now rebooting."}));
    for (const auto& asked : prompt.asked())
        EXPECT_EQ(asked.title, kFirmwareTitle);
    EXPECT_EQ(prompt.asked()[0].icon, Questions::Information);
    EXPECT_EQ(progress.labels(), QStringList({"Communicating with the camera...",
                                              "Uploading file... Do not power system off.", "Updating firmware..."}));
    for (const ProgressRequest& busy : progress.requests())
        EXPECT_EQ(busy.maximum, 0) << "a busy indicator, not a bar";
    // Only before anything reached the camera may the person stop the update.
    EXPECT_EQ(progress.requests()[0].cancelText, "Cancel");
    EXPECT_TRUE(progress.requests()[1].cancelText.isEmpty());
    EXPECT_TRUE(progress.requests()[2].cancelText.isEmpty());
    // Installing over Wi-Fi leaves the download where it was.
    EXPECT_TRUE(QFile::exists(firmware));
}

TEST_F(WifiUpdate, OneLensFirmwareSendsJsonTextAsAFormAndItsOwnPaths)
{
    service.setJsonReply("/cmd", kOneLensStatus, R"({"retcode": 0, "fw_version": "1.3.427"})");
    service.setJsonReply("/store/fw_update.7z", {}, R"({"retcode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 18, "fromRAM":1})", R"({"retcode": 0})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    CamParamsZTM5().updateFirmware(firmware, "1.4.2", nullptr);
    settle();

    ASSERT_EQ(service.requests().size(), 3);
    const QByteArray form = "application/x-www-form-urlencoded";
    expectRequest(service.requests()[0], "/cmd", form, kOneLensStatus);
    expectRequest(service.requests()[1], "/store/fw_update.7z", "application/octet-stream", firmwareBytes);
    expectRequest(service.requests()[2], "/cmd", form, R"({"cmd": 18, "fromRAM":1})");
    EXPECT_EQ(askedTexts(), QStringList({kOneLensWifi, "Firmware updated successfully and system is now rebooting."}));
}

TEST_F(WifiUpdate, TwoLensSystemFileAppliesWithoutABusyView)
{
    service.setJsonReply("/cmd", kTwoLensStatus,
                         R"({"retCode": 0, "systemSerial": "MX0042", "systemcfg": {"timestamp": 20230101}})");
    service.setJsonReply("/store/system.cfg", {}, R"({"retCode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 14, "fromRAM":1})", R"({"retCode": 0})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    CamParamsZTM6().updateSystemFile(systemFile, 20240315, nullptr);
    settle();

    ASSERT_EQ(service.requests().size(), 3);
    expectRequest(service.requests()[0], "/cmd", "application/json", kTwoLensStatus);
    expectRequest(service.requests()[1], "/store/system.cfg", "application/octet-stream", systemFileBytes);
    expectRequest(service.requests()[2], "/cmd", "application/json", R"({"cmd": 14, "fromRAM":1})");
    EXPECT_EQ(askedTexts(), QStringList({kSystemFileWifi, "Update finished successfully!"}));
    for (const auto& asked : prompt.asked())
        EXPECT_EQ(asked.title, kSystemFileTitle);
    EXPECT_EQ(progress.labels(), QStringList({"Communicating with the camera...", "Uploading file..."}));
}

TEST_F(WifiUpdate, OneLensSystemFileReadsTheFlatTimeStamp)
{
    service.setJsonReply("/cmd", kOneLensStatus,
                         R"({"retcode": 0, "fw_version": "1.3.500", "systemcfg_timestamp": 20240314})");
    service.setJsonReply("/store/system.cfg", {}, R"({"retcode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 19, "fromRAM":1})", R"({"retcode": 0})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
    settle();

    ASSERT_EQ(service.requests().size(), 3);
    const QByteArray form = "application/x-www-form-urlencoded";
    expectRequest(service.requests()[1], "/store/system.cfg", "application/octet-stream", systemFileBytes);
    expectRequest(service.requests()[2], "/cmd", form, R"({"cmd": 19, "fromRAM":1})");
    EXPECT_EQ(askedTexts(), QStringList({kSystemFileWifi, "Update finished successfully!"}));
}

// ---- Gates on what the camera reports ----

TEST_F(WifiUpdate, AnUpToDateCameraIsUpdatedOnlyWhenThePersonInsists)
{
    const QString already = "Firmware is already updated. There is no need to do anything.\nWould you like to update "
                            "anyway?";
    service.setJsonReply("/store/fw6_update.7z", {}, R"({"retCode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    for (const char* cameraVersion : {"1.3.0", "1.3.1", "2.0"}) {
        SCOPED_TRACE(cameraVersion);
        service.setJsonReply("/cmd", kTwoLensStatus,
                             QByteArray(R"({"retCode": 0, "fwVersion": ")") + cameraVersion + "\"}");
        const qsizetype before = service.requests().size();
        expectStart();
        prompt.answerQuestion(Questions::No);
        CamParamsZTM6().updateFirmware(firmware, "1.3.0", nullptr);
        settle();
        EXPECT_EQ(askedTexts().last(), already);
        EXPECT_EQ(service.requests().size() - before, 1) << "nothing but the status";
    }
    expectStart();
    prompt.answerQuestion(Questions::Yes).answerQuestion(Questions::Ok);
    CamParamsZTM6().updateFirmware(firmware, "1.3.0", nullptr);
    settle();
    EXPECT_EQ(service.requestPaths().last(2), QList<QByteArray>({"/store/fw6_update.7z", "/cmd"}));
}

TEST_F(WifiUpdate, SystemFileNotNewerThanTheCamerasAsksFirst)
{
    const QString already = "System file is already updated. There is no need to do anything.\nWould you like to "
                            "update anyway?";
    for (const int cameraStamp : {20240315, 20250101}) {
        service.setJsonReply("/cmd", kTwoLensStatus,
                             QByteArray(R"({"retCode": 0, "systemSerial": "MX1", "systemcfg": {"timestamp": )")
                                 + QByteArray::number(cameraStamp) + "}}");
        expectStart();
        prompt.answerQuestion(Questions::No);
        CamParamsZTM6().updateSystemFile(systemFile, 20240315, nullptr);
        settle();
        EXPECT_EQ(askedTexts().last(), already);
    }
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd", "/cmd"}));
}

TEST_F(WifiUpdate, TwoLensSystemFileNeedsASerialStartingWithCapitalMX)
{
    for (const QByteArray& serialField : {QByteArray(R"("systemSerial": "",)"), QByteArray(R"("systemSerial": "mx77",)"),
                                         QByteArray(R"("systemSerial": "MS77",)"), QByteArray()}) {
        SCOPED_TRACE(serialField.constData());
        service.setJsonReply("/cmd", kTwoLensStatus,
                             R"({"retCode": 0, )" + serialField + R"( "systemcfg": {"timestamp": 1}})");
        expectStart();
        prompt.answerQuestion(Questions::Ok);
        CamParamsZTM6().updateSystemFile(systemFile, 20240315, nullptr);
        settle();
        EXPECT_EQ(askedTexts().last(), "Camera does not support this system file.");
    }
    EXPECT_FALSE(service.requestPaths().contains("/store/system.cfg"));
}

TEST_F(WifiUpdate, OneLensFirmwareBefore1_3_427GoesToTheDrive)
{
    service.setJsonReply("/cmd", kOneLensStatus, R"({"retcode": 0, "fw_version": "1.3.426"})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);      // no Wi-Fi update
    prompt.answerQuestion(Questions::Ok);      // the drive's first box
    prompt.answerDirectory(QString());         // the person stops there
    CamParamsZTM5().updateFirmware(firmware, "1.4.0", nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(1), QStringList({kNoWifiUpdate, kUsbFirmwareFirst, QString()}));
    EXPECT_EQ(prompt.asked()[2].title, "Firmware Update Procedure");
    EXPECT_EQ(prompt.asked()[3].kind, "directory chooser");
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd"}));
    EXPECT_TRUE(QFile::exists(firmware));
}

TEST_F(WifiUpdate, OneLensSystemFileGatesOnTheCamerasFirmware)
{
    // Too old for the file at all: refused, with the version as parsed.
    service.setJsonReply("/cmd", kOneLensStatus, R"({"retcode": 0, "fw_version": "1.3.399", "systemcfg_timestamp": 1})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
    settle();
    EXPECT_EQ(askedTexts().last(), "Camera firmware v1.3.399 does not support this system file. Update it first.");
    EXPECT_EQ(prompt.asked().size(), 2) << "no manual route";

    // New enough for the file, too old for Wi-Fi: the drive.
    service.setJsonReply("/cmd", kOneLensStatus, R"({"retcode": 0, "fw_version": "1.3.400", "systemcfg_timestamp": 1})");
    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
    CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(3), QStringList({kNoWifiUpdate, kUsbSystemFileFirst, QString()}));
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd", "/cmd"}));
}

TEST_F(WifiUpdate, OneLensSystemFileNotNewerThanTheCamerasAsksFirst)
{
    const QString already = "System file is already updated. There is no need to do anything.\nWould you like to "
                            "update anyway?";
    service.setJsonReply("/store/system.cfg", {}, R"({"retcode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 19, "fromRAM":1})", R"({"retcode": 0})");
    const auto cameraHolds = [&](int stamp) {
        service.setJsonReply("/cmd", kOneLensStatus,
                             R"({"retcode": 0, "fw_version": "1.3.500", "systemcfg_timestamp": )"
                                 + QByteArray::number(stamp) + "}");
    };
    for (const int cameraStamp : {20240315, 20250101}) {
        SCOPED_TRACE(cameraStamp);
        cameraHolds(cameraStamp);
        expectStart();
        prompt.answerQuestion(Questions::No);
        CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
        settle();
        EXPECT_EQ(askedTexts().last(), already);
        EXPECT_EQ(prompt.asked().last().icon, Questions::Question);
    }
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd", "/cmd"}));
    // Insisting sends it all the same.
    cameraHolds(20240315);
    expectStart();
    prompt.answerQuestion(Questions::Yes).answerQuestion(Questions::Ok);
    CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(4), QStringList({kSystemFileWifi, already, "Update finished successfully!"}));
    ASSERT_EQ(service.requests().size(), 5);
    expectRequest(service.requests()[3], "/store/system.cfg", "application/octet-stream", systemFileBytes);
}

TEST_F(WifiUpdate, OneLensSystemFileGoesOverWifiFrom1_3_427)
{
    service.setJsonReply("/store/system.cfg", {}, R"({"retcode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 19, "fromRAM":1})", R"({"retcode": 0})");
    service.setJsonReply("/cmd", kOneLensStatus, R"({"retcode": 0, "fw_version": "1.3.426", "systemcfg_timestamp": 1})");
    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
    CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(1), QStringList({kNoWifiUpdate, kUsbSystemFileFirst, QString()}));
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd"}));

    service.setJsonReply("/cmd", kOneLensStatus, R"({"retcode": 0, "fw_version": "1.3.427", "systemcfg_timestamp": 1})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(4), QStringList({kSystemFileWifi, "Update finished successfully!"}));
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd", "/cmd", "/store/system.cfg", "/cmd"}));
}

// ---- Replies that are not a success ----

TEST_F(WifiUpdate, OnlyAJsonObjectWithANumericZeroCodeIsAnAnswer)
{
    const QList<QByteArray> badStatus{
        "not json at all",
        R"(["retCode", 0])",
        R"({"fwVersion": "1.0"})",
        R"({"retCode": 3, "fwVersion": "1.0"})",
        R"({"retCode": "0", "fwVersion": "1.0"})",
        R"({"retCode": null})",
        R"({"retCode": false})",
        R"({"retcode": 0})", // the other model's field
        "",
        R"({"retCode": 0, "pad": ")" + QByteArray(100000, 'x') + "\"}",
    };
    for (const QByteArray& body : badStatus) {
        SCOPED_TRACE(body.left(40).constData());
        service.setJsonReply("/cmd", kTwoLensStatus, body);
        expectStart();
        prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::No);
        CamParamsZTM6().updateFirmware(firmware, "1.3.0", nullptr);
        settle();
        EXPECT_EQ(askedTexts().mid(askedTexts().size() - 2),
                  QStringList({"Quoril received an invalid response from camera.", kManual}));
        EXPECT_EQ(prompt.asked()[prompt.asked().size() - 2].icon, Questions::Warning);
    }
    EXPECT_EQ(service.requests().size(), badStatus.size()) << "no upload after any of them";
}

TEST_F(WifiUpdate, SystemFileStatusThatIsNoAnswerOffersTheDrive)
{
    service.setJsonReply("/cmd", kTwoLensStatus, R"({"retCode": 1})");
    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Yes);
    prompt.answerQuestion(Questions::Ok).answerDirectory(QString());
    CamParamsZTM6().updateSystemFile(systemFile, 20240315, nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(1, 3),
              QStringList({"Quoril received an invalid response from the camera.", kManual, kUsbSystemFileFirst}));
}

TEST_F(WifiUpdate, AnUploadTheCameraRejectedIsNeverApplied)
{
    service.setJsonReply("/cmd", kTwoLensStatus,
                         R"({"retCode": 0, "fwVersion": "1.0", "systemSerial": "MX1", "systemcfg": {"timestamp": 1}})");
    service.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 14, "fromRAM":1})", R"({"retCode": 0})");
    for (const QByteArray& rejection : {QByteArray(R"({"retCode": 5})"), QByteArray("<html>busy</html>")}) {
        service.setJsonReply("/store/fw6_update.7z", {}, rejection);
        service.setJsonReply("/store/system.cfg", {}, rejection);
        expectStart();
        prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
        CamParamsZTM6().updateFirmware(firmware, "2.0", nullptr);
        settle();
        EXPECT_EQ(askedTexts().mid(askedTexts().size() - 3, 2), QStringList({kFirmwareRejected, kUsbFirmwareFirst}));

        expectStart();
        prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
        CamParamsZTM6().updateSystemFile(systemFile, 20240315, nullptr);
        settle();
        EXPECT_EQ(askedTexts().mid(askedTexts().size() - 3, 2),
                  QStringList({"Quoril got an invalid response from the camera when uploading the file and will "
                               "guide you through the manual procedure instead.",
                               kUsbSystemFileFirst}));
    }
    EXPECT_EQ(service.requestPaths(),
              QList<QByteArray>({"/cmd", "/store/fw6_update.7z", "/cmd", "/store/system.cfg", "/cmd",
                                 "/store/fw6_update.7z", "/cmd", "/store/system.cfg"}));
}

TEST_F(WifiUpdate, AFailedApplyOffersTheDrive)
{
    service.setJsonReply("/cmd", kOneLensStatus,
                         R"({"retcode": 0, "fw_version": "1.3.500", "systemcfg_timestamp": 1})");
    service.setJsonReply("/store/fw_update.7z", {}, R"({"retcode": 0})");
    service.setJsonReply("/store/system.cfg", {}, R"({"retcode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 18, "fromRAM":1})", R"({"retcode": -1})");
    service.setJsonReply("/cmd", R"({"cmd": 19, "fromRAM":1})", R"({"retcode": "0"})");
    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
    CamParamsZTM5().updateFirmware(firmware, "1.4.0", nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(1, 2), QStringList({kFirmwareRejected, kUsbFirmwareFirst}));

    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
    CamParamsZTM5().updateSystemFile(systemFile, 20240315, nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(5, 2),
              QStringList({"Quoril got an invalid response from the camera after uploading the file and will guide "
                           "you through the manual procedure instead.",
                           kUsbSystemFileFirst}));
}

// ---- A camera that cannot be reached ----

TEST_F(WifiUpdate, ARefusedConnectionAsksToRetryAndARetryStartsOver)
{
    QSettings().setValue(kCameraUrlKey, QStringLiteral("http://127.0.0.1:%1/").arg(FakeCameraService::closedPort()));
    expectStart();
    prompt.answerQuestion(Questions::Yes); // retry
    expectStart();
    prompt.answerQuestion(Questions::No).answerQuestion(Questions::No);
    CamParamsZTM5().updateFirmware(firmware, "1.4.0", nullptr);
    settle();
    EXPECT_EQ(askedTexts(), QStringList({kOneLensWifi, kOneLensConnection, kOneLensWifi, kOneLensConnection, kManual}));
    EXPECT_EQ(prompt.asked()[1].icon, Questions::Question);
    EXPECT_EQ(progress.labels(), QStringList({"Communicating with the camera...", "Communicating with the camera..."}));

    expectStart();
    prompt.answerQuestion(Questions::No).answerQuestion(Questions::No);
    CamParamsZTM6().updateSystemFile(systemFile, 1, nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(5), QStringList({kSystemFileWifi, kTwoLensConnection, kManual}));
}

TEST_F(WifiUpdate, ACameraThatGoesSilentTimesOutAsAConnectionFailure)
{
    service.setReply("/cmd", kTwoLensStatus, FakeCameraService::silentReply());
    expectStart();
    prompt.answerQuestion(Questions::No).answerQuestion(Questions::No);
    CameraConnection silentCamera{service.address(), 300};
    startFirmwareUpdate(twoLensUpdateProfile(), silentCamera, firmware, "1.3.0", nullptr);
    settle(5000);
    EXPECT_EQ(askedTexts(), QStringList({kTwoLensWifi, kTwoLensConnection, kManual}));
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd"}));
}

// What the camera's service sends back, as HTTP lets it, and what the update makes of it.
TEST_F(WifiUpdate, RepliesAreTakenAsHttpFramesThem)
{
    struct Case {
        const char* name;
        QByteArray raw;
        bool close;
        CameraReply::Kind kind;
    };
    const QList<Case> cases{
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n{\"re\r\na\r\ntCode\": 0}\r\n0\r\n\r\n",
         false, CameraReply::Valid},
        {"to the close", "HTTP/1.0 200 OK\r\n\r\n{\"retCode\": 0}", true, CameraReply::Valid},
        {"after an interim reply", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 14\r\n\r\n{\"retCode\": 0}",
         false, CameraReply::Valid},
        {"error status", "HTTP/1.1 500 Oops\r\nContent-Length: 14\r\n\r\n{\"retCode\": 0}", false,
         CameraReply::ConnectionFailure},
        {"closed without a word", "", true, CameraReply::ConnectionFailure},
        {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n{\"retCode\": 0}", true,
         CameraReply::ConnectionFailure},
        {"not HTTP", "{\"retCode\": 0}\r\n\r\n", false, CameraReply::BadAnswer},
        {"endless head", "HTTP/1.1 200 OK\r\nX: " + QByteArray(20000, 'x'), false, CameraReply::BadAnswer},
        {"endless body", "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(kMaxCameraReplyBytes + 1, ' '), false,
         CameraReply::BadAnswer},
    };
    const CameraRequest status{"/cmd", "application/json", kTwoLensStatus, {}, "retCode"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCameraService::Reply reply;
        reply.raw = c.raw;
        reply.close = c.close;
        service.setReply("/cmd", kTwoLensStatus, reply);
        std::optional<CameraReply::Kind> kind;
        postToCamera(CameraConnection{service.address(), 2000}, status, nullptr,
                     [&](const CameraReply& answer) { kind = answer.kind; });
        ASSERT_TRUE(processEventsUntil([&] { return kind.has_value(); }, 5000));
        EXPECT_EQ(*kind, c.kind);
    }
    std::optional<CameraReply::Kind> kind;
    postToCamera(CameraConnection{"ftp://127.0.0.1", 2000}, status, nullptr,
                 [&](const CameraReply& answer) { kind = answer.kind; });
    EXPECT_FALSE(kind.has_value()) << "never inside the call";
    ASSERT_TRUE(processEventsUntil([&] { return kind.has_value(); }, 5000));
    EXPECT_EQ(*kind, CameraReply::ConnectionFailure);
    settle();
}

TEST_F(WifiUpdate, ASilentUploadIsNotApplied)
{
    service.setJsonReply("/cmd", kTwoLensStatus, R"({"retCode": 0, "fwVersion": "1.0"})");
    service.setReply("/store/fw6_update.7z", {}, FakeCameraService::silentReply());
    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
    startFirmwareUpdate(twoLensUpdateProfile(), CameraConnection{service.address(), 300}, firmware, "2.0", nullptr);
    settle(5000);
    EXPECT_EQ(askedTexts()[1], kFirmwareRejected);
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd", "/store/fw6_update.7z"}));
}

// The time-out is about silence, not the length of an exchange: a reply that comes piece by piece
// over longer than the time-out, never pausing that long, is waited for.
TEST_F(WifiUpdate, ASlowReplyThatNeverPausesForTheTimeOutIsWaitedFor)
{
    FakeCameraService::Reply slow = FakeCameraService::okReply(R"({"retCode": 0, "fwVersion": "1.0"})");
    slow.pieces = 6;
    slow.pieceDelayMs = 200; // a second for the whole reply
    service.setReply("/cmd", kTwoLensStatus, slow);
    const CameraRequest status{"/cmd", "application/json", kTwoLensStatus, {}, "retCode"};
    std::optional<CameraReply> reply;
    QElapsedTimer clock;
    clock.start();
    postToCamera(CameraConnection{service.address(), 400}, status, nullptr,
                 [&](const CameraReply& answer) { reply = answer; });
    ASSERT_TRUE(processEventsUntil([&] { return reply.has_value(); }, 10000));
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_EQ(reply->kind, CameraReply::Valid);
    EXPECT_EQ(reply->object["fwVersion"].toString(), "1.0");
    settle();
}

// The same for the upload: a camera that takes the file slowly, longer than the time-out, but
// never stops taking it for that long, gets all of it and applies it.
TEST_F(WifiUpdate, AnUploadTheCameraTakesSlowlyIsWaitedFor)
{
    constexpr int timeoutMs = 2000;
    service.setJsonReply("/cmd", kTwoLensStatus, R"({"retCode": 0, "fwVersion": "1.0"})");
    service.setJsonReply("/store/fw6_update.7z", {}, R"({"retCode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    // 48 MiB taken at 10 MiB/s: what the network holds when the last piece is out (a few
    // mebibytes) drains well within the time-out, the whole takes more than twice as long.
    const QByteArray large = pseudoRandomBytes(48 * 1024 * 1024, 23);
    const QString largeFirmware = write("large firmware.7z", large);
    service.setReadPace(1024 * 1024, 100);
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    startFirmwareUpdate(twoLensUpdateProfile(), CameraConnection{service.address(), timeoutMs}, largeFirmware, "2.0",
                        nullptr);
    settle(60000);
    EXPECT_EQ(askedTexts(), QStringList({kTwoLensWifi, "Firmware updated successfully and system is now rebooting."}));
    ASSERT_EQ(service.requests().size(), 3);
    EXPECT_TRUE(service.requests()[1].body == large);
    EXPECT_GT(service.requests()[1].receivedInMs, timeoutMs) << "the upload itself outlasts the time-out";
}

// A camera that says it took the file before it had all of it cannot have taken it whole.
TEST_F(WifiUpdate, AnUploadAnsweredBeforeItWasWholeIsNotApplied)
{
    service.setJsonReply("/cmd", kTwoLensStatus, R"({"retCode": 0, "fwVersion": "1.0"})");
    service.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    FakeCameraService::Reply early = FakeCameraService::okReply(R"({"retCode": 0})");
    early.early = true;
    service.setReply("/store/fw6_update.7z", {}, early);
    // More than the network's buffers hold, so the camera's answer comes while most is unsent.
    const QByteArray large = pseudoRandomBytes(32 * 1024 * 1024, 29);
    const QString largeFirmware = write("large firmware.7z", large);
    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
    startFirmwareUpdate(twoLensUpdateProfile(), CameraConnection{service.address(), 5000}, largeFirmware, "2.0",
                        nullptr);
    settle();
    EXPECT_EQ(askedTexts().mid(1, 2), QStringList({kFirmwareRejected, kUsbFirmwareFirst}));
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd", "/store/fw6_update.7z"})) << "no apply";
    ASSERT_EQ(service.requests().size(), 2);
    EXPECT_LT(service.requests()[1].body.size(), large.size());
}

// ---- The update file ----

TEST_F(WifiUpdate, AFileThatCannotBeReadOrIsEmptyIsRefusedBeforeAnyRequest)
{
    const QString missing = dir.filePath("gone.7z");
    const QString empty = write("empty.7z", {});
    const QString folder = dir.filePath("a folder.cfg");
    QDir().mkpath(folder);
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerQuestion(Questions::Ok);
    prompt.answerQuestion(Questions::Ok);
    CamParamsZTM6().updateFirmware(missing, "1.0", nullptr);
    CamParamsZTM5().updateFirmware(empty, "1.0", nullptr);
    CamParamsZTM6().updateSystemFile(missing, 1, nullptr);
    CamParamsZTM5().updateSystemFile(folder, 1, nullptr);
    settle();
    EXPECT_EQ(askedTexts(), QStringList({"Could not open file: " + missing, "The file is empty: " + empty,
                                         "Could not open file: " + missing, "Could not open file: " + folder}));
    EXPECT_EQ(prompt.asked()[1].title, kFirmwareTitle);
    EXPECT_EQ(prompt.asked()[3].title, kSystemFileTitle);
    EXPECT_EQ(service.connections(), 0);
    EXPECT_TRUE(progress.labels().isEmpty());
}

TEST_F(WifiUpdate, TheUpdateDoesNotNeedTheModelThatStartedIt)
{
    service.setJsonReply("/cmd", kTwoLensStatus, R"({"retCode": 0, "fwVersion": "1.0"})");
    service.setJsonReply("/store/fw6_update.7z", {}, R"({"retCode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    expectStart();
    prompt.answerQuestion(Questions::Ok);
    {
        // The project that held the model is closed while the camera answers.
        auto model = std::make_unique<CamParamsZTM6>();
        model->updateFirmware(firmware, "2.0", nullptr);
    }
    // The download is replaced too: the file checked when the update started is what is sent.
    const QString replacement = write("replacement.7z", "changed");
    ASSERT_TRUE(QFile::remove(firmware) && QFile::rename(replacement, firmware));
    settle();
    ASSERT_EQ(service.requests().size(), 3);
    EXPECT_TRUE(service.requests()[1].body == firmwareBytes);
    EXPECT_EQ(askedTexts().last(), "Firmware updated successfully and system is now rebooting.");
}

// The upload reads the file as it goes. One cut short in place after its size was checked cannot
// reach the camera whole: the upload breaks off, nothing is applied, and the log says why.
TEST_F(WifiUpdate, AFileCutShortBeforeItsUploadIsNeverApplied)
{
    service.setJsonReply("/cmd", kTwoLensStatus, R"({"retCode": 0, "fwVersion": "1.0"})");
    service.setJsonReply("/store/fw6_update.7z", {}, R"({"retCode": 0})");
    service.setJsonReply("/cmd", R"({"cmd": 13, "fromRAM":1})", R"({"retCode": 0})");
    expectStart();
    prompt.answerQuestion(Questions::Ok).answerQuestion(Questions::Ok).answerDirectory(QString());
    CamParamsZTM6().updateFirmware(firmware, "2.0", nullptr);
    writeFile(firmware, firmwareBytes.left(firmwareBytes.size() / 2));
    settle();
    EXPECT_EQ(askedTexts().mid(1, 2), QStringList({kFirmwareRejected, kUsbFirmwareFirst}));
    EXPECT_EQ(service.requestPaths(), QList<QByteArray>({"/cmd"})) << "no whole upload, no apply";
    EXPECT_EQ(service.connections(), 2);
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList({"Could not read file: " + firmware}));
}

} // namespace
