#include "link/framer.h"

#include <algorithm>
#include <cstring>

namespace orvale::link {
namespace {

bool sameLetter(char c, char upper) { return c == upper || c == static_cast<char>(upper + 32); }

bool endsWithHeader(const char* last4, char a, char b, char c) {
    return sameLetter(last4[0], a) && sameLetter(last4[1], b) && sameLetter(last4[2], c) &&
           last4[3] == ' ';
}

}  // namespace

void Framer::restartWith(std::string_view header) {
    std::memcpy(m_buffer.data(), header.data(), header.size());
    m_count = header.size();
}

std::optional<std::string_view> Framer::push(std::uint8_t byte) {
    const char c = static_cast<char>(byte);
    if (m_count == kCapacity) {
        std::memmove(m_buffer.data(), m_buffer.data() + 1, kCapacity - 1);
        m_buffer[kCapacity - 1] = c;
    } else {
        m_buffer[m_count++] = c;
    }

    if (m_count >= 5) {
        // A header in the last four characters restarts the buffer, unless the buffer already
        // starts with the other header; each of its first four characters is compared on its
        // own, exactly as the device's original host did, so a single stray character in front
        // of "ACK " is enough to lose that frame.
        const char* last4 = m_buffer.data() + m_count - 4;
        const auto& b = m_buffer;
        if (endsWithHeader(last4, 'A', 'C', 'K') &&
            !(b[0] == 'B' || b[1] == 'R' || b[2] == 'C' || b[3] == ' ')) {
            restartWith("ACK ");
            return std::nullopt;
        }
        if (endsWithHeader(last4, 'B', 'R', 'C') &&
            !(b[0] == 'A' || b[1] == 'C' || b[2] == 'K' || b[3] == ' ')) {
            restartWith("BRC ");
            return std::nullopt;
        }
    }

    if (m_count >= 6 && m_buffer[m_count - 2] == '\r' && m_buffer[m_count - 1] == '\n') {
        // Moved out before anyone acts on it: whatever arrives while the frame's effects run
        // (a message box runs a nested event loop) starts a frame of its own.
        const std::size_t length = m_count;
        std::copy_n(m_buffer.begin(), length, m_frame.begin());
        m_count = 0;
        return std::string_view{m_frame.data(), length};
    }
    return std::nullopt;
}

}  // namespace orvale::link
