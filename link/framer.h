#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orvale::link {

/// Gathers received bytes into "ACK " and "BRC " frames, byte by byte, in a fixed 50-character
/// buffer. A frame ends at CR LF (6 characters at least). While no header starts the buffer, a
/// header arriving later restarts it; a run longer than 50 characters rolls, losing its oldest
/// characters, and so cannot be recognised.
class Framer {
public:
    static constexpr std::size_t kCapacity = 50;

    /// Feeds one byte. When it completes a frame, the frame is moved out of the receive buffer
    /// (which is empty again) and returned; the view stays valid until the next frame completes.
    std::optional<std::string_view> push(std::uint8_t byte);

    /// The characters held for the frame in progress.
    [[nodiscard]] std::string_view pending() const { return {m_buffer.data(), m_count}; }
    /// Forgets the frame in progress.
    void reset() noexcept { m_count = 0; }

private:
    void restartWith(std::string_view header);

    std::array<char, kCapacity> m_buffer{};
    std::size_t m_count = 0;
    std::array<char, kCapacity> m_frame{};
};

}  // namespace orvale::link
