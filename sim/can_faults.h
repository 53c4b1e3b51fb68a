#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fms/encoder.h"
#include "model/control_ids.h"

/// Misbehaviour of the simulated device on its CAN bus, for tests of whatever checks the bus:
/// applied to the frames the device would send, after encoding. Plain C++.
namespace orvale::sim {

/// One packet of a broadcast left out each time the broadcast goes out.
struct DroppedPacket {
    fms::GroupId group{};     ///< VI or DI
    std::uint8_t packet = 1;  ///< the TP.DT sequence number, 1..255

    friend bool operator==(const DroppedPacket&, const DroppedPacket&) = default;
};

/// Most frames a second the extra traffic of other senders may add.
inline constexpr std::uint32_t kMaxExtraPerSecond = 20'000;

/// All off by default.
struct CanFaults {
    /// The display whose bus field(s) carry another value: still a plain valid one (never
    /// "error" or "not available"), so that a check sees a mismatch, not a missing value.
    std::optional<model::ControlId> wrongDisplay;
    /// A group not sent at all.
    std::optional<fms::GroupId> silencedGroup;
    std::optional<DroppedPacket> droppedPacket;
    /// Frames a second from senders the device is not (see ExtraTraffic); 0 for none.
    std::uint32_t extraPerSecond = 0;

    friend bool operator==(const CanFaults&, const CanFaults&) = default;
};

/// The display named by its label ("Engine speed", any case) or its control ID ("1022"), when
/// the device puts it on the bus at all; nothing otherwise (PTO State is never sent).
[[nodiscard]] std::optional<model::ControlId> busDisplayOfName(std::string_view labelOrId);

/// The group named by its name ("EEC1", any case) or its PGN ("61444", "0xF004").
[[nodiscard]] std::optional<fms::GroupId> groupOfName(std::string_view nameOrPgn);

/// True for the groups whose long texts go out as a broadcast of packets (VI, DI).
[[nodiscard]] bool isMultiPacket(fms::GroupId group) noexcept;

/// The value a field of `length` bits carries instead of `raw` when it is sent wrong: raw with
/// its lowest bit flipped, or one less where that would leave the plain values (above 0xFA of a
/// byte, 0xFAFF of two, "error" or "not available" of a state); 0 for a raw that is no plain
/// value itself.
[[nodiscard]] std::uint32_t otherPlainValue(std::uint32_t raw, std::uint8_t length) noexcept;

/// A text box's content sent wrong: its last character before "*" changed (a digit to the next
/// digit, a letter to the next letter), or "0" for an empty text; the "*" stays.
[[nodiscard]] std::string otherText(std::string_view box);

/// Applies the wrong display, the silenced group and the dropped packet to `frames`, which
/// fms::encode made from `state`. The extra traffic is not part of the device's frames.
void applyCanFaults(const CanFaults& faults, const fms::DeviceState& state,
                    fms::EncodedFrames& frames);

/// Traffic of other nodes on the bus: frames from source addresses the device never uses (0x42
/// first), some with the device's own PGNs carrying other values, some with PGNs the device never
/// sends (a request among them). A check of the device's frames must not be confused by them;
/// at high rates they load the bus. Plain C++ over the caller's millisecond clock.
class ExtraTraffic {
public:
    /// Appends to `out` the frames due by `nowMs` at `perSecond` frames a second. After a stall
    /// at most 100 ms of frames come at once; a rate of 0 sends nothing and starts afresh.
    void due(std::uint32_t perSecond, std::uint64_t nowMs, std::vector<fms::CanFrame>& out);

    /// Source addresses the extra frames come from.
    [[nodiscard]] static std::vector<std::uint8_t> sourceAddresses();

private:
    [[nodiscard]] fms::CanFrame next();

    bool m_started = false;
    std::uint64_t m_lastMs = 0;
    std::uint64_t m_credit = 0;  // frames x 1000
    std::size_t m_template = 0;
    std::uint32_t m_count = 0;
};

}  // namespace orvale::sim
