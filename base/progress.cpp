#include "base/progress.h"

#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex& factoryMutex()
{
    static QMutex mutex;
    return mutex;
}

ProgressFactory& installedFactory()
{
    static ProgressFactory factory;
    return factory;
}

} // namespace

std::unique_ptr<Progress> openProgress(const ProgressRequest& request)
{
    ProgressFactory factory;
    {
        QMutexLocker lock(&factoryMutex());
        factory = installedFactory();
    }
    if (factory)
        return factory(request);
    return std::make_unique<HeadlessProgress>(request);
}

ProgressFactory setProgressFactory(ProgressFactory factory)
{
    QMutexLocker lock(&factoryMutex());
    return std::exchange(installedFactory(), std::move(factory));
}

struct HeadlessProgress::Loop {
    QEventLoop loop;
};

HeadlessProgress::HeadlessProgress(const ProgressRequest& request)
    : m_request(request)
    , m_value(request.minimum)
{
}

HeadlessProgress::~HeadlessProgress() = default;

void HeadlessProgress::setRange(int minimum, int maximum)
{
    m_request.minimum = minimum;
    m_request.maximum = maximum;
}

void HeadlessProgress::waitUntilFinished()
{
    if (m_finished || m_cancelled)
        return;
    m_loop = std::make_unique<Loop>();
    m_loop->loop.exec();
    m_loop.reset();
}

void HeadlessProgress::finish()
{
    m_finished = true;
    if (m_loop)
        m_loop->loop.quit();
}

void HeadlessProgress::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    if (m_cancelHandler)
        m_cancelHandler();
    if (m_loop)
        m_loop->loop.quit();
}
