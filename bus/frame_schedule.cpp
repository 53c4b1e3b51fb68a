#include "bus/frame_schedule.h"

#include <algorithm>

namespace orvale::bus {

void FrameSchedule::set(const fms::EncodedFrames& frames, std::uint64_t nowMs) {
    std::array<bool, fms::kGroupCount> present{};
    for (const fms::GroupFrames& g : frames.groups) {
        const std::size_t i = fms::indexOf(g.group);
        present[i] = true;
        Slot& slot = m_slots[i];
        const auto sent = frames.framesOf(g);
        slot.frames.assign(sent.begin(), sent.end());
        slot.periodMs = std::max<std::uint32_t>(g.periodMs, 1);
        slot.spacingMs = g.spacingMs;
        if (!slot.active) {
            slot.active = true;
            slot.setStartMs = nowMs;
            slot.dueMs = nowMs;
            beginSet(slot);
        } else if (slot.next == 0) {
            // Between sets: the next one already sends the new frames.
            beginSet(slot);
        }
        if (slot.sending.empty()) slot.active = false;
    }
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (!present[i]) m_slots[i].active = false;
    }
}

void FrameSchedule::clear() noexcept {
    for (Slot& slot : m_slots) slot.active = false;
}

std::optional<std::uint64_t> FrameSchedule::nextDue() const noexcept {
    std::optional<std::uint64_t> due;
    for (const Slot& slot : m_slots) {
        if (slot.active && (!due || slot.dueMs < *due)) due = slot.dueMs;
    }
    return due;
}

FrameSchedule::Slot* FrameSchedule::earliestDue(std::uint64_t nowMs) noexcept {
    Slot* earliest = nullptr;
    for (Slot& slot : m_slots) {
        if (slot.active && slot.dueMs <= nowMs &&
            (earliest == nullptr || slot.dueMs < earliest->dueMs)) {
            earliest = &slot;
        }
    }
    return earliest;
}

void FrameSchedule::beginSet(Slot& slot) {
    slot.sending = slot.frames;
    slot.next = 0;
}

void FrameSchedule::advance(Slot& slot) {
    if (++slot.next < slot.sending.size()) {
        slot.dueMs += slot.spacingMs;
        return;
    }
    slot.setStartMs += slot.periodMs;
    slot.dueMs = slot.setStartMs;
    beginSet(slot);
}

void FrameSchedule::catchUp(std::uint64_t nowMs) noexcept {
    for (Slot& slot : m_slots) {
        if (!slot.active || slot.next != 0 || slot.setStartMs + slot.periodMs > nowMs) continue;
        // A whole period late: resume at the latest start the rhythm gives, not with a burst
        // of sets nobody would have seen on time.
        slot.setStartMs += (nowMs - slot.setStartMs) / slot.periodMs * slot.periodMs;
        slot.dueMs = slot.setStartMs;
    }
}

}  // namespace orvale::bus
