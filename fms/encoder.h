#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fms/can_frame.h"
#include "fms/fields.h"
#include "model/presentation.h"

namespace orvale::fms {

/// The frames of one group as they go out each period.
struct GroupFrames {
    GroupId group{};
    std::uint32_t periodMs = 0;   ///< the whole set repeats this often
    std::uint32_t spacingMs = 0;  ///< between consecutive frames of the set: BAM packets, else 0
    std::uint16_t first = 0;      ///< index of its first frame in EncodedFrames::frames
    std::uint16_t count = 0;
};

/// What the device puts on the bus at one moment, group by group. Reused from one encoding to
/// the next it stops allocating once its vectors have grown to their working size.
struct EncodedFrames {
    std::vector<CanFrame> frames;
    std::vector<GroupFrames> groups;

    [[nodiscard]] std::span<const CanFrame> framesOf(const GroupFrames& g) const noexcept {
        return {frames.data() + g.first, g.count};
    }
};

/// Replaces `out` with the frames a device in `state` sends: every group its model carries, in
/// the order of kGroups; each ordinary frame 8 bytes with every bit the model does not fill set;
/// one VW frame per axle location and one FMS1 frame per tell-tale block; VI and DI as one frame
/// when their text fits 8 bytes, else as a broadcast announce message (TP.CM then TP.DT
/// packets of 7 bytes, the last filled with 0xFF). A text group longer than the transport
/// protocol can carry (1785 bytes) is not sent.
void encode(const DeviceState& state, EncodedFrames& out);

/// "hh:mm:ss" as the device's clock reports it; nothing for any other text.
[[nodiscard]] std::optional<ClockTime> parseClock(std::string_view text) noexcept;

/// The device state of one evaluation: the raw set it was made from and the VIN and driver ID
/// boxes of `shown`. The views point into `shown`, which must outlive the state.
[[nodiscard]] DeviceState deviceStateOf(const model::RawParameters& raw, std::uint8_t productId,
                                        const model::Presentation& shown,
                                        std::string_view swVersion,
                                        std::optional<ClockTime> clock) noexcept;

/// A frame at the time it goes out.
struct TimedFrame {
    std::uint64_t timeMs = 0;
    CanFrame frame;
};

/// The frames of `encoded` as a device sends them from `startMs` on: each group at startMs,
/// startMs + period, ... while before startMs + durationMs (durationMs 0: each group once), its
/// frames `spacingMs` apart. Sorted by time; frames due at the same moment keep group order.
[[nodiscard]] std::vector<TimedFrame> schedule(const EncodedFrames& encoded, std::uint64_t startMs,
                                               std::uint64_t durationMs);

}  // namespace orvale::fms
