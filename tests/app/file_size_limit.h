#pragma once

#include <csignal>

#include <sys/resource.h>

namespace orvale::test {

/// A full disk, as far as this process sees it: writes past `bytes` into any file fail (EFBIG,
/// "File too large") as they would with ENOSPC, and the signal the system sends for them is
/// ignored meanwhile. Restores both when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        m_ignoring = ::sigaction(SIGXFSZ, &ignore, &m_oldAction) == 0;
        if (!m_ignoring || ::getrlimit(RLIMIT_FSIZE, &m_oldLimit) != 0) return;
        rlimit limit = m_oldLimit;
        limit.rlim_cur = bytes;
        m_limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        if (m_limited) ::setrlimit(RLIMIT_FSIZE, &m_oldLimit);
        if (m_ignoring) ::sigaction(SIGXFSZ, &m_oldAction, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    [[nodiscard]] bool ok() const { return m_limited; }

private:
    struct sigaction m_oldAction {};
    rlimit m_oldLimit{};
    bool m_ignoring = false;
    bool m_limited = false;
};

}  // namespace orvale::test
