#pragma once

#include "base/progress.h"
#include "camera/camera_connection.h"
#include "camera/camera_request.h"
#include "support/fake_camera_service.h"
#include "support/log_capture.h"
#include "support/scripted_questions.h"
#include "support/test_support.h"

#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testsupport {

// Records the busy views the updates open, and how many are still open.
class ProgressRecorder {
public:
    ProgressRecorder()
    {
        m_previous = setProgressFactory([this](const ProgressRequest& request) -> std::unique_ptr<Progress> {
            m_requests << request;
            return std::make_unique<Counted>(request, m_open);
        });
    }
    ~ProgressRecorder() { setProgressFactory(m_previous); }

    QStringList labels() const
    {
        QStringList labels;
        for (const ProgressRequest& request : m_requests)
            labels << request.label;
        return labels;
    }
    const QList<ProgressRequest>& requests() const { return m_requests; }
    int open() const { return m_open; }

private:
    class Counted : public HeadlessProgress {
    public:
        Counted(const ProgressRequest& request, int& open) : HeadlessProgress(request), m_open(open) { ++m_open; }
        ~Counted() override { --m_open; }

    private:
        int& m_open;
    };
    QList<ProgressRequest> m_requests;
    int m_open = 0;
    ProgressFactory m_previous;
};

// A camera's HTTP service, the person's answers, the busy views and the log of one update, with
// the camera's address in the settings pointing at the service.
class CameraUpdateTest : public ::testing::Test {
protected:
    CameraUpdateTest() { QSettings().setValue(kCameraUrlKey, service.address()); }
    ~CameraUpdateTest() override { QSettings().remove(kCameraUrlKey); }

    // Runs the event loop until every scripted answer was taken and no request is under way.
    void settle(int timeoutMs = 10000)
    {
        EXPECT_TRUE(processEventsUntil([&] { return prompt.pending() == 0 && cameraRequestsUnderWay() == 0; },
                                       timeoutMs))
            << prompt.pending() << " answer(s) never asked for, " << cameraRequestsUnderWay()
            << " request(s) under way";
        // Deferred deletes of the finished replies; nothing may be posted after the last answer.
        processEventsFor(30);
        EXPECT_EQ(cameraRequestsUnderWay(), 0);
        EXPECT_EQ(progress.open(), 0) << "a busy view outlived its request";
    }

    QStringList askedTexts() const
    {
        QStringList texts;
        for (const auto& asked : prompt.asked())
            texts << asked.text;
        return texts;
    }

    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        writeFile(path, bytes);
        return path;
    }

    FakeCameraService service;
    ScriptedQuestions prompt;
    ProgressRecorder progress;
    LogCapture log;
    QTemporaryDir dir;
};

} // namespace testsupport
