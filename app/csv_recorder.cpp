#include "app/csv_recorder.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvale::app {
namespace {

// How long queued lines may wait before the thread writes them and makes them durable: well
// within the second the recording promises.
constexpr auto kFlushInterval = std::chrono::milliseconds(250);
// Past this much queued text the thread is woken at once.
constexpr std::size_t kEagerBytes = std::size_t{256} * 1024;

std::string systemReason(int error) { return std::system_category().message(error); }

}  // namespace

void appendCsvField(std::string& line, std::string_view field) {
    // '#' is quoted for readers told that it starts a comment (pandas' comment='#').
    if (field.find_first_of(",\"\r\n#") == std::string_view::npos) {
        line.append(field);
        return;
    }
    line.push_back('"');
    for (const char c : field) {
        if (c == '"') line.push_back('"');
        line.push_back(c);
    }
    line.push_back('"');
}

std::unique_ptr<CsvRecorder> CsvRecorder::open(const std::string& path, std::string* error) {
    return open(path, error, Disk{});
}

std::unique_ptr<CsvRecorder> CsvRecorder::open(const std::string& path, std::string* error,
                                               Disk disk) {
    const auto refuse = [&](const std::string& reason) {
        if (error) *error = "Cannot open " + path + " for recording: " + reason;
        return nullptr;
    };
    // Opened without waiting and without truncating: a FIFO would hold up start-up until
    // something read it, and a recording goes only into a file of its own.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int openError = errno;
        struct stat info {};
        // A FIFO without a reader refuses a non-blocking writer (ENXIO); say what it is.
        if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return refuse("it is not a regular file");
        }
        return refuse(std::strerror(openError));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse("it is not a regular file");
    }
    // Writes may block from here on: a regular file never waits for long.
    const int flags = ::fcntl(fd, F_GETFL);
    if (::ftruncate(fd, 0) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int setUpError = errno;
        ::close(fd);
        return refuse(std::strerror(setUpError));
    }
    if (!disk.sync) disk.sync = [](int descriptor) { return ::fsync(descriptor); };
    return std::unique_ptr<CsvRecorder>(new CsvRecorder(path, fd, std::move(disk)));
}

CsvRecorder::CsvRecorder(std::string path, int fd, Disk disk)
    : m_path(std::move(path)), m_fd(fd), m_disk(std::move(disk)), m_thread([this] { run(); }) {}

CsvRecorder::~CsvRecorder() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    ::close(m_fd);
}

void CsvRecorder::writeLine(std::string_view line) {
    if (!healthy()) return;
    bool eager = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending.append(line);
        m_pending.append("\r\n");
        ++m_queued;
        eager = m_pending.size() >= kEagerBytes;
        m_urgent = m_urgent || eager;
    }
    if (eager) m_wake.notify_one();
}

void CsvRecorder::flushNow() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_queued;
    m_urgent = true;
    m_wake.notify_one();
    m_flushed.wait(lock, [&] { return m_written >= target || !healthy(); });
}

void CsvRecorder::setFailureLine(std::function<std::string(std::string_view reason)> line) {
    std::lock_guard lock(m_mutex);
    m_failureLine = std::move(line);
}

std::string CsvRecorder::failureReason() const {
    std::lock_guard lock(m_mutex);
    return m_failureReason;
}

void CsvRecorder::run() {
    std::string batch;
    std::unique_lock lock(m_mutex);
    for (;;) {
        // A wake-up given before the thread waited is not lost: the flag stays set.
        m_wake.wait_for(lock, kFlushInterval, [this] { return m_stop || m_urgent; });
        m_urgent = false;
        batch.swap(m_pending);
        const std::uint64_t upTo = m_queued;
        const bool stop = m_stop;
        lock.unlock();
        if (!batch.empty() && healthy()) {
            std::size_t written = 0;
            std::string reason = writeAll(batch, written);
            // Every batch goes to the disk at once: a batch is at most 250 ms old.
            if (reason.empty()) reason = sync();
            if (!reason.empty()) stopAfterFailure(batch, written, reason);
        }
        batch.clear();
        lock.lock();
        m_written = upTo;
        m_flushed.notify_all();
        if (stop && m_pending.empty()) return;
    }
}

std::string CsvRecorder::writeAll(std::string_view text, std::size_t& written) {
    written = 0;
    while (written < text.size()) {
        // At an explicit offset: after a failure the file is cut back, and what follows goes
        // right after its last whole line.
        const ssize_t n = ::pwrite(m_fd, text.data() + written, text.size() - written,
                                   static_cast<off_t>(m_fileSize + written));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return systemReason(errno);
        if (n == 0) return systemReason(EIO);
        written += static_cast<std::size_t>(n);
    }
    m_fileSize += written;
    return {};
}

std::string CsvRecorder::sync() {
    return m_disk.sync(m_fd) == 0 ? std::string() : systemReason(errno);
}

void CsvRecorder::stopAfterFailure(std::string_view batch, std::size_t written,
                                   const std::string& reason) {
    std::function<std::string(std::string_view)> makeLine;
    {
        std::lock_guard lock(m_mutex);
        m_failureReason = reason;
        makeLine = m_failureLine;
    }
    // A line cut short would leave a quote open for any reader: the file keeps whole lines only.
    const std::size_t lastEnd = batch.substr(0, written).rfind('\n');
    if (lastEnd != std::string_view::npos && written < batch.size()) {
        m_fileSize += lastEnd + 1;
    }
    if (::ftruncate(m_fd, static_cast<off_t>(m_fileSize)) == 0 && makeLine) {
        // The partial line freed a little room, often enough for a short last word.
        const std::string last = makeLine(reason) + "\r\n";
        std::size_t lastWritten = 0;
        if (writeAll(last, lastWritten).empty()) {
            static_cast<void>(sync());
        } else {
            static_cast<void>(::ftruncate(m_fd, static_cast<off_t>(m_fileSize)));
        }
    }
    m_failed.store(true, std::memory_order_release);
}

}  // namespace orvale::app
