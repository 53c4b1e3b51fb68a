#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace orvale::app {

/// Appends `field` to `line` as one CSV field: quoted when it holds a comma, a quote, CR, LF or
/// '#', with quotes doubled. Opens in LibreOffice and pandas without options, and in pandas with
/// `comment='#'` too (a quoted '#' starts no comment).
void appendCsvField(std::string& line, std::string_view field);

/// A CSV file written by a thread of its own: the window hands over whole lines and never waits
/// for the disk. What was handed over reaches the file and the disk (fsync) within a second, and
/// on close.
///
/// A write that fails (disk full, I/O error) stops the recording: the file is cut back to its
/// last whole line, the failure line (setFailureLine) is written after it when it still fits,
/// and later lines are dropped. The window's thread learns of it from healthy() and
/// failureReason(); the writer thread calls nothing of the window's.
class CsvRecorder {
public:
    /// The system calls through which the writer thread makes the file durable; tests count or
    /// fail them. An empty function stands for the system's own (::fsync).
    struct Disk {
        std::function<int(int fd)> sync;
    };

    /// Opens `path`, creating it or truncating it; only a regular file is accepted, and a FIFO
    /// or a device is refused at once ("... it is not a regular file"), never waited on.
    /// Nothing and a reason in `error` when it cannot be opened.
    static std::unique_ptr<CsvRecorder> open(const std::string& path, std::string* error);
    /// The same, with the disk's calls replaced.
    static std::unique_ptr<CsvRecorder> open(const std::string& path, std::string* error,
                                             Disk disk);
    /// Writes what is queued, makes it durable, closes the file and stops the thread.
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    /// Queues one line; `line` carries no line end. Dropped once the recording has failed.
    void writeLine(std::string_view line);

    /// Waits until every line queued so far is in the file and on the disk, or the recording
    /// has failed.
    void flushNow();

    /// The line written last when a write fails, made from the system's reason ("No space left
    /// on device"); it carries no line end. Called on the writer thread, so it must only format.
    /// None by default.
    void setFailureLine(std::function<std::string(std::string_view reason)> line);

    [[nodiscard]] const std::string& path() const { return m_path; }
    /// False once a write to the file failed (disk full); later lines are dropped.
    [[nodiscard]] bool healthy() const { return !m_failed.load(std::memory_order_acquire); }
    /// Why the recording stopped, as the system says it; empty while it is healthy.
    [[nodiscard]] std::string failureReason() const;

private:
    CsvRecorder(std::string path, int fd, Disk disk);
    void run();
    // Writer thread only: each returns the system's reason on failure, empty on success.
    std::string writeAll(std::string_view text, std::size_t& written);
    std::string sync();
    void stopAfterFailure(std::string_view batch, std::size_t written, const std::string& reason);

    std::string m_path;
    int m_fd;
    Disk m_disk;
    std::uint64_t m_fileSize = 0;  // the writer thread's; the file holds whole lines only
    std::atomic<bool> m_failed{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_flushed;
    std::string m_pending;  // filled by the window's thread
    std::uint64_t m_queued = 0;
    std::uint64_t m_written = 0;
    bool m_stop = false;
    bool m_urgent = false;  // a flush asked for, or much queued: write before the interval ends
    std::string m_failureReason;
    std::function<std::string(std::string_view reason)> m_failureLine;
    std::thread m_thread;
};

}  // namespace orvale::app
