#include "sim/record_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

namespace orvale::sim {

RecordFile::RecordFile(std::string path) : m_path(std::move(path)) {
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        throw std::system_error(errno, std::generic_category(), "open " + m_path);
    }
}

RecordFile::~RecordFile() { ::close(m_fd); }

void RecordFile::append(std::string_view bytes) {
    // No buffer of our own: a reader polling the file must never miss a byte the device has
    // already answered.
    while (!bytes.empty()) {
        const ssize_t written = ::write(m_fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw std::system_error(errno, std::generic_category(), "write " + m_path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::int64_t monotonicMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1'000;
}

std::string timedRecordLine(std::int64_t microseconds, std::string_view bytes) {
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string line = std::to_string(microseconds);
    line += ' ';
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        line += kDigits[byte >> 4];
        line += kDigits[byte & 0xF];
    }
    line += '\n';
    return line;
}

}  // namespace orvale::sim
