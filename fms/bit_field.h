#pragma once

#include <array>
#include <cstdint>

namespace orvale::fms {

/// A field of an 8-byte J1939 payload in DBC terms: unsigned little-endian ("Intel", @1+),
/// `start` the 0-based bit of its least significant bit (byte-1)*8 + (bit-1), `length` 1 to 32.
struct BitField {
    std::uint8_t start = 0;
    std::uint8_t length = 0;

    /// True when the field lies inside the first `dlc` bytes.
    [[nodiscard]] constexpr bool fitsIn(std::uint8_t dlc) const noexcept {
        return start + length <= dlc * 8;
    }
};

/// The 8 bytes as one little-endian word: byte 1 in the lowest bits, as J1939 numbers them.
constexpr std::uint64_t toWord(const std::array<std::uint8_t, 8>& bytes) noexcept {
    std::uint64_t word = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        word = (word << 8) | bytes[i];
    }
    return word;
}

constexpr std::array<std::uint8_t, 8> toBytes(std::uint64_t word) noexcept {
    std::array<std::uint8_t, 8> bytes{};
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(word & 0xFFU);
        word >>= 8;
    }
    return bytes;
}

constexpr std::uint64_t maskOf(std::uint8_t length) noexcept {
    return length >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
}

/// Writes the low `field.length` bits of `value` into `word`; the other bits keep what they
/// were (all ones in a fresh payload: J1939 sends what it does not fill as "not available").
constexpr void pack(std::uint64_t& word, BitField field, std::uint32_t value) noexcept {
    const std::uint64_t mask = maskOf(field.length) << field.start;
    word = (word & ~mask) | ((std::uint64_t{value} << field.start) & mask);
}

constexpr std::uint32_t unpack(std::uint64_t word, BitField field) noexcept {
    return static_cast<std::uint32_t>((word >> field.start) & maskOf(field.length));
}

}  // namespace orvale::fms
