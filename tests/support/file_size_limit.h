#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace testsupport {

// While it lives, no file of this process may grow beyond `bytes`: writes past it fail with
// EFBIG, as they would on a full disk (tests run as root, so permissions cannot make them fail).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_set = getrlimit(RLIMIT_FSIZE, &m_saved) == 0;
        m_handler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_set = m_set && setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_set)
            setrlimit(RLIMIT_FSIZE, &m_saved);
        signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return m_set; }

private:
    rlimit m_saved{};
    sighandler_t m_handler = SIG_DFL;
    bool m_set = false;
};

} // namespace testsupport
