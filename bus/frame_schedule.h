#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "fms/encoder.h"
#include "fms/groups.h"

namespace orvale::bus {

/// Sends each group's frames at the group's period, as a device does: the frames of a set one
/// spacing apart (a broadcast's announcement, then its packets), the set again a period after it
/// began. The frames can change at any moment (the position moved); a group keeps its rhythm,
/// and a set under way finishes with the frames it began with, so that a broadcast is never
/// made of two texts. Plain C++ over a caller's clock: the file writer, the simulated device's
/// transmitter and the tests drive it alike.
class FrameSchedule {
public:
    /// From `nowMs` on, sends `frames`. A group new to the schedule starts at `nowMs`; a group
    /// missing from `frames` stops at once.
    void set(const fms::EncodedFrames& frames, std::uint64_t nowMs);
    /// Sends nothing until the next set().
    void clear() noexcept;

    /// Hands every frame due at or before `nowMs` to `send(const fms::CanFrame&, dueMs)`, in the
    /// order of their due times (groups due at the same moment in the order of fms::kGroups).
    /// A schedule left far behind (a stalled process) skips the periods it missed instead of
    /// sending them in a burst.
    template <class Send>
    void run(std::uint64_t nowMs, Send&& send) {
        catchUp(nowMs);
        for (;;) {
            Slot* slot = earliestDue(nowMs);
            if (slot == nullptr) return;
            send(slot->sending[slot->next], slot->dueMs);
            advance(*slot);
        }
    }

    /// When the next frame is due; nothing while nothing is scheduled.
    [[nodiscard]] std::optional<std::uint64_t> nextDue() const noexcept;

private:
    struct Slot {
        bool active = false;
        std::uint32_t periodMs = 0;
        std::uint32_t spacingMs = 0;
        std::vector<fms::CanFrame> frames;   // what the next set sends
        std::vector<fms::CanFrame> sending;  // the set under way
        std::size_t next = 0;                // its next frame
        std::uint64_t setStartMs = 0;
        std::uint64_t dueMs = 0;
    };

    Slot* earliestDue(std::uint64_t nowMs) noexcept;
    void advance(Slot& slot);
    void catchUp(std::uint64_t nowMs) noexcept;
    static void beginSet(Slot& slot);

    std::array<Slot, fms::kGroupCount> m_slots{};
};

}  // namespace orvale::bus
