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
    /// millisecond count times 1000 (it wraps with it).
    virtual std::uint64_t microseconds() { return std::uint64_t{now()} * 1000; }
};

/// The system's monotonic clock, truncated to 32 bits; microseconds() is exact.
class SteadyMillisecondClock final : public MillisecondClock {
public:
    std::uint32_t now() override;
    std::uint64_t microseconds() override;
};

/// Reads the clock until it shows at least `milliseconds` more than at the start, or less than
/// at the start (the count wrapped: the wait ends at once, as the device's own host did).
/// Nothing else runs meanwhile: this is the busy-wait the device protocol is paced by.
void busyWait(MillisecondClock& clock, std::uint32_t milliseconds);

/// The same busy-wait on the clock's microsecond count: ends once it shows at least
/// `microseconds` more than at the start, or less (wrapped).
void busyWaitMicroseconds(MillisecondClock& clock, std::uint64_t microseconds);

}  // namespace orvale::link
