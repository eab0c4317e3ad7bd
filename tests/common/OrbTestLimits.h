#pragma once

// Lowers the process's file-size limit while the object lives, so writes past
// it fail with EFBIG instead of raising SIGXFSZ; restores both on destruction.

#include <csignal>
#include <sys/resource.h>

class OrbTestFileSizeLimit {
public:
    explicit OrbTestFileSizeLimit(rlim_t bytes)
    {
        m_ok = getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_ok = m_ok && setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~OrbTestFileSizeLimit() { release(); }
    OrbTestFileSizeLimit(const OrbTestFileSizeLimit&) = delete;
    OrbTestFileSizeLimit& operator=(const OrbTestFileSizeLimit&) = delete;

    bool ok() const { return m_ok; }

    // Restores the limit before the end of the scope (for checks that write afterwards).
    void release()
    {
        if (m_released)
            return;
        m_released = true;
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_old{};
    void (*m_previousHandler)(int) = SIG_DFL;
    bool m_ok = false;
    bool m_released = false;
};
