#pragma once

#include <cstdint>

namespace orvale::link {

/// A millisecond count with `timeGetTime` semantics: 32 bits, wraps to 0 after about 49.7
/// days. Injected so that waits and a wrap can be tested without sleeping.
class MillisecondClock {
public:
    virtual ~MillisecondClock() = default;
    virtual std::uint32_t now() = 0;
    /// The same clock in microseconds, where the system has a finer count; by default the
    /// millisecond count times 1000 (it wraps with it). now() is the low 32 bits of this
    /// count divided by 1000.
    virtual std::uint64_t microseconds() { return std::uint64_t{now()} * 1000; }
    /// Gives the processor away until microseconds() shows `deadline`, or less long: a signal
    /// or the system may end the sleep early, so callers read the clock again afterwards. By
    /// default returns at once, which turns the waits below into plain reading loops (what a
    /// clock that only moves when read needs).
    virtual void sleepUntilMicroseconds(std::uint64_t deadline) { static_cast<void>(deadline); }
};

/// The system's monotonic clock, truncated to 32 bits; microseconds() is exact, and
/// sleepUntilMicroseconds() sleeps on the same clock.
class SteadyMillisecondClock final : public MillisecondClock {
public:
    std::uint32_t now() override;
    std::uint64_t microseconds() override;
    void sleepUntilMicroseconds(std::uint64_t deadline) override;
};

/// Waits until the clock shows at least `milliseconds` more than at the start, or less than
/// at the start (the count wrapped: the wait ends at once, as the device's own host did).
/// Nothing else of ours runs meanwhile: the device protocol is paced by this wait. The count
/// is read as microseconds() / 1000; the calling thread sleeps until the tick the wait ends
/// on, never past the wrap, where the clock can sleep.
void busyWait(MillisecondClock& clock, std::uint32_t milliseconds);

/// The same wait on the clock's microsecond count: ends once it shows at least `microseconds`
/// more than at the start, or less (wrapped).
void busyWaitMicroseconds(MillisecondClock& clock, std::uint64_t microseconds);

}  // namespace orvale::link
