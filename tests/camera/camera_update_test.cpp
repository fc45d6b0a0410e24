#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <memory>

namespace {
QStringList* capturedWarnings = nullptr;

void captureWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg && capturedWarnings)
        capturedWarnings->append(message);
}

// Warnings logged while running the action.
template <typename Action>
QStringList warningsOf(Action action)
{
    QStringList warnings;
    capturedWarnings = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(captureWarning);
    action();
    qInstallMessageHandler(previous);
    capturedWarnings = nullptr;
    return warnings;
}
} // namespace

TEST(CameraUpdate, WiFiModelsReportThatUpdatesAreUnavailable)
{
    std::unique_ptr<CamParams> models[] = {std::make_unique<CamParamsZTM6>(), std::make_unique<CamParamsZTM5>()};
    for (const auto& model : models) {
        SCOPED_TRACE(model->modelName());
        EXPECT_EQ(warningsOf([&] { model->updateSystemFile("system.cfg", 20240101, nullptr); }),
                  QStringList{"Camera updates are not available"});
        EXPECT_EQ(warningsOf([&] { model->updateFirmware("fw.bin", "5.0.1", nullptr); }),
                  QStringList{"Camera updates are not available"});
    }
    CamParamsZTM4 laserCamera;
    EXPECT_TRUE(warningsOf([&] { laserCamera.updateSystemFile("system.cfg", 20240101, nullptr); }).isEmpty());
}
