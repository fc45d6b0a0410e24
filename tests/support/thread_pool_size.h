#pragma once

#include <QThreadPool>

namespace testsupport {

// Sets the global thread pool's size for the life of a test and restores it afterwards.
class GlobalPoolSize {
public:
    explicit GlobalPoolSize(int threads) { QThreadPool::globalInstance()->setMaxThreadCount(threads); }
    ~GlobalPoolSize() { QThreadPool::globalInstance()->setMaxThreadCount(m_saved); }
    GlobalPoolSize(const GlobalPoolSize&) = delete;
    GlobalPoolSize& operator=(const GlobalPoolSize&) = delete;

private:
    const int m_saved = QThreadPool::globalInstance()->maxThreadCount();
};

} // namespace testsupport
