#pragma once

#include <array>
#include <cstdint>

namespace orvale::fms {

/// A classic CAN frame as the FMS interface carries it.
struct CanFrame {
    /// The identifier: 29 bits for an extended frame, 11 for a standard one.
    std::uint32_t id = 0;
    /// Data length code 0 to 8. A DLC of 9 to 15 on the wire still carries 8 bytes and is read so.
    std::uint8_t dlc = 8;
    /// Bytes beyond the DLC are not part of the frame.
    std::array<std::uint8_t, 8> data{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    /// Every J1939 frame is extended; a standard frame is never decoded.
    bool extended = true;

    friend bool operator==(const CanFrame&, const CanFrame&) = default;
};

/// Largest 29-bit identifier.
inline constexpr std::uint32_t kExtendedIdMask = 0x1FFFFFFF;
/// PF values from here on are PDU2: the PS byte is part of the PGN (no destination).
inline constexpr std::uint8_t kFirstPdu2Format = 0xF0;
/// Destination of a broadcast (the global address).
inline constexpr std::uint8_t kGlobalAddress = 0xFF;

/// The 29-bit identifier: priority (3 bits) << 26 | PGN << 8 | source address. For a PDU1
/// group (PF below 0xF0) the PS byte of `pgn` is its destination.
constexpr std::uint32_t makeId(std::uint8_t priority, std::uint32_t pgn,
                               std::uint8_t sourceAddress) noexcept {
    return (static_cast<std::uint32_t>(priority & 0x7U) << 26) | ((pgn & 0x3FFFFU) << 8) |
           sourceAddress;
}

/// The parameter group of an identifier: data page, PF and, for PDU2, PS. The destination of a
/// PDU1 group is not part of it, nor are priority and source address, which vary by vehicle.
constexpr std::uint32_t pgnOf(std::uint32_t id) noexcept {
    const std::uint32_t pgn = (id >> 8) & 0x3FFFFU;
    const auto format = static_cast<std::uint8_t>(pgn >> 8);
    return format < kFirstPdu2Format ? pgn & 0x3FF00U : pgn;
}

constexpr std::uint8_t sourceAddressOf(std::uint32_t id) noexcept {
    return static_cast<std::uint8_t>(id & 0xFFU);
}

/// The PS byte: the destination address of a PDU1 group.
constexpr std::uint8_t destinationOf(std::uint32_t id) noexcept {
    return static_cast<std::uint8_t>((id >> 8) & 0xFFU);
}

constexpr std::uint8_t priorityOf(std::uint32_t id) noexcept {
    return static_cast<std::uint8_t>((id >> 26) & 0x7U);
}

}  // namespace orvale::fms
