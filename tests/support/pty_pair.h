#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <string>

namespace orvale::test {

/// A pseudo-terminal whose master end the test holds; the slave path is what a serial port
/// under test opens.
class PtyPair {
public:
    PtyPair() {
        int slave = -1;
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (::openpty(&m_master, &slave, name, &raw, nullptr) == 0) {
            m_path = name;
            ::close(slave);
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] bool ok() const { return m_master >= 0; }

    void write(std::string_view bytes) const {
        [[maybe_unused]] auto n = ::write(m_master, bytes.data(), bytes.size());
    }
    /// Whatever the slave side has written so far.
    std::string read() const {
        std::string out;
        char buf[4096];
        for (;;) {
            const auto n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    void closeMaster() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    std::string m_path;
};

/// Runs the Qt event loop until `done` holds or `ms` pass; returns `done()`.
template <class Predicate>
bool processEventsUntil(Predicate done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

}  // namespace orvale::test
