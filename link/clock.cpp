#include "link/clock.h"

#include <chrono>
#include <thread>

namespace orvale::link {
namespace {

// Nothing of ours runs during a wait, but the system's own work may: on a pseudo-terminal the
// kernel hands each byte on from a worker thread, which a spinning caller on the same processor
// would hold back, delivering two bytes at once.
void yieldProcessor() { std::this_thread::yield(); }

}  // namespace

std::uint32_t SteadyMillisecondClock::now() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

std::uint64_t SteadyMillisecondClock::microseconds() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

void busyWaitMicroseconds(MillisecondClock& clock, std::uint64_t microseconds) {
    const std::uint64_t start = clock.microseconds();
    for (;;) {
        const std::uint64_t t = clock.microseconds();
        if (t - start >= microseconds || t < start) {
            return;
        }
        yieldProcessor();
    }
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
        yieldProcessor();
    }
}

}  // namespace orvale::link
