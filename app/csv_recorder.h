#pragma once

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

namespace orvale::app {

/// Appends `field` to `line` as one CSV field: quoted when it holds a comma, a quote, CR or LF,
/// with quotes doubled. Opens in LibreOffice and pandas without options.
void appendCsvField(std::string& line, std::string_view field);

/// A CSV file written by a thread of its own: the window hands over whole lines and never waits
/// for the disk. What was handed over reaches the file within a second and on close.
class CsvRecorder {
public:
    /// Opens `path`, creating it or truncating it; only a regular file is accepted, and a FIFO
    /// or a device is refused at once ("... it is not a regular file"), never waited on.
    /// Nothing and a reason in `error` when it cannot be opened.
    static std::unique_ptr<CsvRecorder> open(const std::string& path, std::string* error);
    /// Writes what is queued, closes the file and stops the thread.
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    /// Queues one line; `line` carries no line end.
    void writeLine(std::string_view line);

    /// Lines queued and not yet written; for tests.
    void flushNow();

    [[nodiscard]] const std::string& path() const { return m_path; }
    /// False once a write to the file failed (disk full); later lines are dropped.
    [[nodiscard]] bool healthy() const;

private:
    CsvRecorder(std::string path, std::FILE* file);
    void run();

    std::string m_path;
    std::FILE* m_file;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_flushed;
    std::string m_pending;  // filled by the window's thread
    std::uint64_t m_queued = 0;
    std::uint64_t m_written = 0;
    bool m_stop = false;
    bool m_failed = false;
    std::thread m_thread;
};

}  // namespace orvale::app
