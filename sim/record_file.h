#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvale::sim {

/// A file that takes the bytes a device receives, each chunk written through to the file at
/// once, so that another process reading it sees everything received so far.
class RecordFile {
public:
    /// Creates or empties the file. Throws std::system_error when it cannot be opened.
    explicit RecordFile(std::string path);
    ~RecordFile();

    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    /// Appends `bytes` whole. Throws std::system_error when the file takes no more.
    void append(std::string_view bytes);

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    int m_fd = -1;
};

/// The system's monotonic clock (CLOCK_MONOTONIC) in microseconds: the clock that other
/// processes on the machine read too, so a test can set a record's times beside its own.
std::int64_t monotonicMicroseconds();

/// One line of a timed record: `microseconds`, a blank, `bytes` as upper-case hex pairs in
/// ordinary order (high nibble first, unlike the device's own hex pairs) and LF.
/// (123, "AT") gives "123 4154\n".
std::string timedRecordLine(std::int64_t microseconds, std::string_view bytes);

}  // namespace orvale::sim
