#include "link/clock.h"

#include <chrono>

namespace orvale::link {

std::uint32_t SteadyMillisecondClock::now() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void busyWait(MillisecondClock& clock, std::uint32_t milliseconds) {
    const std::uint32_t start = clock.now();
    // Compared in 64 bits: a target past 2^32 is reached only through the wrap.
    const std::uint64_t target = std::uint64_t{start} + milliseconds;
    for (;;) {
        const std::uint32_t t = clock.now();
        if (t >= target || t < start) {
            return;
        }
    }
}

}  // namespace orvale::link
