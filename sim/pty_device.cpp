#include "sim/pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace orvale::sim {
namespace {

// Output that no client reads waits in the terminal's input queue for the next one, as in a
// serial driver's buffer; beyond this much it is thrown away, so that a client never starts
// with more than about 90 ms of line time (6 s of broadcasts at the default rate) of old news.
constexpr int kStaleLimit = 1024;

constexpr std::size_t kMaxReceivedChunks = 65536;

std::uint32_t nowMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void setFlags(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 ||
        ::fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) {
        throwErrno("fcntl");
    }
}

// Raw 115200 8N1, as a serial port that a client has just configured.
void makeRaw(int slave, const std::string& slavePath) {
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) {
        throwErrno("tcgetattr " + slavePath);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::cfsetispeed(&tio, B115200) != 0 || ::cfsetospeed(&tio, B115200) != 0 ||
        ::tcsetattr(slave, TCSANOW, &tio) != 0) {
        throwErrno("tcsetattr " + slavePath);
    }
}

}  // namespace

PtyDevice::PtyDevice(DeviceConfig config, std::string linkPath)
    : m_device(std::move(config)), m_linkPath(std::move(linkPath)) {
    std::array<int, 2> pipe{};
    if (::pipe(pipe.data()) != 0) {
        throwErrno("pipe");
    }
    m_wakeRead = pipe[0];
    m_wakeWrite = pipe[1];
    try {
        setFlags(m_wakeRead);
        setFlags(m_wakeWrite);
        openPty();
    } catch (...) {
        closePty();
        ::close(m_wakeRead);
        ::close(m_wakeWrite);
        throw;
    }
    m_thread = std::thread([this] { run(); });
}

PtyDevice::~PtyDevice() {
    {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_request == Request::None; });
        m_request = Request::Stop;
        wake();
    }
    m_thread.join();
    closePty();
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
}

void PtyDevice::openPty() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        throwErrno("posix_openpt");
    }
    m_master = master;
    std::array<char, 128> name{};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name.data(), name.size()) != 0) {
        throwErrno("pseudo-terminal setup");
    }
    setFlags(master);
    m_slavePath = name.data();
    // Our own slave descriptor, held for the life of the line: without it the master reports
    // hang-up without pause whenever no client has the port open. The terminal settings stay
    // with the terminal, between clients too.
    m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        throwErrno("open " + m_slavePath);
    }
    makeRaw(m_slave, m_slavePath);
    updateLink();
}

void PtyDevice::closePty() {
    if (m_master < 0) {
        return;
    }
    removeLink();
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    ::close(m_master);
    m_master = -1;
    m_slavePath.clear();
}

void PtyDevice::updateLink() {
    if (m_linkPath.empty()) {
        return;
    }
    struct stat info {};
    if (::lstat(m_linkPath.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        throw std::system_error(std::make_error_code(std::errc::file_exists),
                                m_linkPath + " exists and is not a symlink");
    }
    // A new link renamed over the old one: a client never finds the path missing.
    const std::string temporary = m_linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(m_slavePath.c_str(), temporary.c_str()) != 0) {
        throwErrno("symlink " + temporary);
    }
    if (::rename(temporary.c_str(), m_linkPath.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        throwErrno("rename " + m_linkPath);
    }
}

void PtyDevice::removeLink() {
    if (m_linkPath.empty()) {
        return;
    }
    // Only our own link: someone may have pointed the path elsewhere meanwhile.
    std::array<char, 256> target{};
    const ssize_t length = ::readlink(m_linkPath.c_str(), target.data(), target.size() - 1);
    if (length > 0 && std::string(target.data(), static_cast<std::size_t>(length)) == m_slavePath) {
        ::unlink(m_linkPath.c_str());
    }
}

void PtyDevice::wake() {
    const char byte = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite, &byte, 1);
}

void PtyDevice::request(Request what, std::unique_lock<std::mutex>& lock) {
    m_done.wait(lock, [this] { return m_request == Request::None; });
    m_request = what;
    const std::uint64_t ticket = ++m_requestsIssued;
    wake();
    m_done.wait(lock, [&] { return m_requestsDone >= ticket; });
    if (m_requestError && m_errorTicket == ticket) {
        std::rethrow_exception(std::exchange(m_requestError, nullptr));
    }
}

void PtyDevice::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_request == Request::Stop) {
            return;
        }
        if (m_request != Request::None) {
            try {
                closePty();
                if (m_request == Request::Reopen) {
                    openPty();
                }
            } catch (...) {
                closePty();
                m_requestError = std::current_exception();
                m_errorTicket = m_requestsDone + 1;
            }
            ++m_requestsDone;
            m_request = Request::None;
            m_done.notify_all();
        }

        const int timeout = static_cast<int>(m_device.msUntilDue(nowMs()));
        std::array<pollfd, 2> fds{};
        fds[0] = {m_wakeRead, POLLIN, 0};
        fds[1] = {m_master, POLLIN, 0};  // skipped while the line is closed (-1)

        // Only this thread opens and closes the master, so it stays valid while unlocked.
        lock.unlock();
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        lock.lock();

        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            std::array<char, 64> drain{};
            while (::read(m_wakeRead, drain.data(), drain.size()) > 0) {
            }
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            readMaster();
        }
        const std::string out = m_device.transmit(nowMs());
        if (!out.empty()) {
            writeMaster(out);
        }
    }
}

void PtyDevice::readMaster() {
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t got = ::read(m_master, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // EAGAIN: all read.
        if (got <= 0) {
            return;
        }
        std::string bytes(buffer.data(), static_cast<std::size_t>(got));
        if (m_receiveObserver) {
            m_receiveObserver(bytes);
        }
        m_device.receive(bytes, nowMs());
        if (m_received.size() == kMaxReceivedChunks) {
            m_received.pop_front();
        }
        m_received.push_back({std::chrono::steady_clock::now(), std::move(bytes)});
    }
}

void PtyDevice::writeMaster(const std::string& bytes) {
    if (m_master < 0) {
        m_bytesDiscarded += bytes.size();
        return;
    }
    int waiting = 0;
    if (::ioctl(m_slave, FIONREAD, &waiting) == 0 && waiting > kStaleLimit) {
        ::tcflush(m_slave, TCIFLUSH);
        m_bytesDiscarded += static_cast<std::uint64_t>(waiting);
    }
    ssize_t written;
    do {
        written = ::write(m_master, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    // A full terminal buffer takes no more; the line goes on regardless.
    const std::size_t taken = written > 0 ? static_cast<std::size_t>(written) : 0;
    m_bytesWritten += taken;
    m_bytesDiscarded += bytes.size() - taken;
}

std::string PtyDevice::slavePath() const {
    std::lock_guard lock(m_mutex);
    return m_slavePath;
}

bool PtyDevice::lineOpen() const {
    std::lock_guard lock(m_mutex);
    return m_master >= 0;
}

void PtyDevice::closeLine() {
    std::unique_lock lock(m_mutex);
    request(Request::Close, lock);
}

void PtyDevice::reopenLine() {
    std::unique_lock lock(m_mutex);
    request(Request::Reopen, lock);
}

std::vector<ReceivedChunk> PtyDevice::received() const {
    std::lock_guard lock(m_mutex);
    return {m_received.begin(), m_received.end()};
}

std::string PtyDevice::receivedBytes() const {
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const ReceivedChunk& chunk : m_received) {
        all += chunk.bytes;
    }
    return all;
}

void PtyDevice::clearReceived() {
    std::lock_guard lock(m_mutex);
    m_received.clear();
}

void PtyDevice::setReceiveObserver(ReceiveObserver observer) {
    std::lock_guard lock(m_mutex);
    m_receiveObserver = std::move(observer);
}

CommandCounts PtyDevice::commandCounts() const {
    std::lock_guard lock(m_mutex);
    return m_device.counts();
}

DeviceState PtyDevice::state() const {
    std::lock_guard lock(m_mutex);
    return m_device.state();
}

DeviceConfig PtyDevice::config() const {
    std::lock_guard lock(m_mutex);
    return m_device.config();
}

Faults PtyDevice::faults() const {
    std::lock_guard lock(m_mutex);
    return m_device.faults();
}

void PtyDevice::setFaults(Faults faults) {
    std::lock_guard lock(m_mutex);
    m_device.setFaults(std::move(faults));
    wake();
}

unsigned PtyDevice::broadcastRate() const {
    std::lock_guard lock(m_mutex);
    return m_device.broadcastRate();
}

void PtyDevice::setBroadcastRate(unsigned perSecond) {
    std::lock_guard lock(m_mutex);
    m_device.setBroadcastRate(perSecond);
    wake();
}

void PtyDevice::setPosition(std::uint8_t position) {
    std::lock_guard lock(m_mutex);
    m_device.setPosition(position);
}

void PtyDevice::setStatus(std::uint8_t status) {
    std::lock_guard lock(m_mutex);
    m_device.setStatus(status);
}

BusInputs PtyDevice::busInputs() const {
    std::lock_guard lock(m_mutex);
    BusInputs inputs;
    const DeviceState& state = m_device.state();
    const DeviceConfig& config = m_device.config();
    inputs.position = state.position;
    inputs.productId = m_device.faults().productIdOverride.value_or(config.productId);
    inputs.serialNumber = config.serialNumber;
    inputs.vinStyle = state.vinStyle;
    inputs.canBaudCode = state.canBaudCode;
    inputs.clockText = link::clockText(m_device.clockAt(nowMs()));
    inputs.faults = m_canFaults;
    return inputs;
}

CanFaults PtyDevice::canFaults() const {
    std::lock_guard lock(m_mutex);
    return m_canFaults;
}

void PtyDevice::setCanFaults(CanFaults faults) {
    std::lock_guard lock(m_mutex);
    m_canFaults = std::move(faults);
}

std::uint64_t PtyDevice::bytesWritten() const {
    std::lock_guard lock(m_mutex);
    return m_bytesWritten;
}

std::uint64_t PtyDevice::bytesDiscarded() const {
    std::lock_guard lock(m_mutex);
    return m_bytesDiscarded;
}

}  // namespace orvale::sim
