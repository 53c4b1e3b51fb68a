#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvale::fms {

/// The parameter groups that carry the device's displays, in the order of kGroups.
enum class GroupId : std::uint8_t {
    kEec1,
    kEec2,
    kCcvs1,
    kTco1,
    kDd1,
    kAt1t1i,
    kEbc1,
    kErc1,
    kEt1,
    kAir1,
    kAmb,
    kLfe1,
    kLfc1,
    kGfc,
    kHrlfc,
    kVdhr,
    kHours,
    kCvw,
    kServ,
    kVw,
    kAsc4,
    kVep4,
    kVdc2,
    kEtc2,
    kTd,
    kAs,
    kDc1,
    kDc2,
    kPtode,
    kFms1,
    kFms,
    kVi,
    kDi,
    kEec14,
};
inline constexpr std::size_t kGroupCount = 34;

constexpr std::size_t indexOf(GroupId id) noexcept { return static_cast<std::size_t>(id); }

/// How a group's payload is laid out.
enum class Layout : std::uint8_t {
    kSingle,       ///< one 8-byte frame
    kSelector,     ///< one 8-byte frame per value of a selector field (axle location, block ID)
    kMultiPacket,  ///< variable length, "*"-delimited texts: one frame up to 8 bytes, else BAM
};

/// What J1939 fixes about a group. Priority, source address and period are the encoder's
/// choices (fms/choices.h).
struct Group {
    std::string_view name;
    std::uint32_t pgn;
    Layout layout = Layout::kSingle;
    /// kSelector only: the field whose value says which displays the frame carries.
    std::uint8_t selectorStart = 0;
    std::uint8_t selectorLength = 0;
};

/// In the order of GroupId.
inline constexpr std::array<Group, kGroupCount> kGroups{{
    {"EEC1", 0xF004},
    {"EEC2", 0xF003},
    {"CCVS1", 0xFEF1},
    {"TCO1", 0xFE6C},
    {"DD1", 0xFEFC},
    {"AT1T1I", 0xFE56},
    {"EBC1", 0xF001},
    {"ERC1", 0xF000},
    {"ET1", 0xFEEE},
    {"AIR1", 0xFEAE},
    {"AMB", 0xFEF5},
    {"LFE1", 0xFEF2},
    {"LFC1", 0xFEE9},
    {"GFC", 0xFEAF},
    {"HRLFC", 0xFD09},
    {"VDHR", 0xFEC1},
    {"HOURS", 0xFEE5},
    {"CVW", 0xFE70},
    {"SERV", 0xFEC0},
    // Byte 1 is the axle location: front to back in the high nibble, left to right in the low.
    {"VW", 0xFEEA, Layout::kSelector, 0, 8},
    {"ASC4", 0xFE58},
    // Named HSS2 in later editions of the J1939 digital annex; same PGN.
    {"VEP4", 0xFCB7},
    {"VDC2", 0xF009},
    {"ETC2", 0xF005},
    {"TD", 0xFEE6},
    {"AS", 0xFED5},
    {"DC1", 0xFE4E},
    {"DC2", 0xFDA5},
    {"PTODE", 0xFDA4},
    // Byte 1 bits 1-4 are the block ID; each block carries 15 tell-tales.
    {"FMS1", 0xFD7D, Layout::kSelector, 0, 4},
    {"FMS", 0xFDD1},
    {"VI", 0xFEEC, Layout::kMultiPacket},
    {"DI", 0xFE6B, Layout::kMultiPacket},
    {"EEC14", 0xFDC2},
}};

/// J1939-21 transport protocol: connection management (TP.CM) and data transfer (TP.DT). Both are
/// PDU1; a broadcast announce message (BAM) goes to the global address.
inline constexpr std::uint32_t kTpCmPgn = 0xEC00;
inline constexpr std::uint32_t kTpDtPgn = 0xEB00;
/// TP.CM control byte of a broadcast announce message.
inline constexpr std::uint8_t kBamControl = 32;
/// Payload bytes in one TP.DT packet (after its sequence number).
inline constexpr std::size_t kBytesPerPacket = 7;
/// Largest payload the transport protocol carries: 255 packets of 7 bytes.
inline constexpr std::size_t kMaxTransportPayload = 255 * kBytesPerPacket;
/// J1939-21 T1: a receiver gives a broadcast up when the next packet is later than this.
inline constexpr std::uint32_t kBamTimeoutMs = 750;

/// The group with this PGN, or kGroupCount.
constexpr std::size_t groupOfPgn(std::uint32_t pgn) noexcept {
    for (std::size_t i = 0; i < kGroups.size(); ++i) {
        if (kGroups[i].pgn == pgn) return i;
    }
    return kGroupCount;
}

}  // namespace orvale::fms
