#include "sim/record_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace orvale::sim
