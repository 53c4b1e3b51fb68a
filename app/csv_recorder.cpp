#include "app/csv_recorder.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvale::app {
namespace {

// How long queued lines may wait before the thread writes and flushes them.
constexpr auto kFlushInterval = std::chrono::milliseconds(250);
// Past this much queued text the thread is woken at once.
constexpr std::size_t kEagerBytes = 256 * 1024;

}  // namespace

void appendCsvField(std::string& line, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
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
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int fdopenError = errno;
        ::close(fd);
        return refuse(std::strerror(fdopenError));
    }
    return std::unique_ptr<CsvRecorder>(new CsvRecorder(path, file));
}

CsvRecorder::CsvRecorder(std::string path, std::FILE* file)
    : m_path(std::move(path)), m_file(file), m_thread([this] { run(); }) {}

CsvRecorder::~CsvRecorder() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    std::fclose(m_file);
}

void CsvRecorder::writeLine(std::string_view line) {
    bool eager = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_failed) return;
        m_pending.append(line);
        m_pending.append("\r\n");
        ++m_queued;
        eager = m_pending.size() >= kEagerBytes;
    }
    if (eager) m_wake.notify_one();
}

void CsvRecorder::flushNow() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_queued;
    m_wake.notify_one();
    m_flushed.wait(lock, [&] { return m_written >= target || m_failed; });
}

bool CsvRecorder::healthy() const {
    std::lock_guard lock(m_mutex);
    return !m_failed;
}

void CsvRecorder::run() {
    std::string batch;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait_for(lock, kFlushInterval);
        batch.swap(m_pending);
        const std::uint64_t upTo = m_queued;
        const bool stop = m_stop;
        lock.unlock();
        bool ok = true;
        if (!batch.empty()) {
            ok = std::fwrite(batch.data(), 1, batch.size(), m_file) == batch.size();
            batch.clear();
        }
        ok = std::fflush(m_file) == 0 && ok;
        lock.lock();
        if (!ok) m_failed = true;
        m_written = upTo;
        m_flushed.notify_all();
        if (stop && m_pending.empty()) return;
    }
}

}  // namespace orvale::app
