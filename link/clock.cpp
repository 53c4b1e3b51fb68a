#include "link/clock.h"

#include <algorithm>

#if defined(__unix__)
#include <time.h>
#else
#include <chrono>
#include <thread>
#endif

namespace orvale::link {

#if defined(__unix__)

namespace {

// One reading for both counts, so that now() and microseconds() never disagree, and on the
// clock that clock_nanosleep() sleeps on, so that a deadline taken from microseconds() means
// the same instant to the sleep.
std::uint64_t monotonicMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000;
}

}  // namespace

std::uint32_t SteadyMillisecondClock::now() {
    return static_cast<std::uint32_t>(monotonicMicroseconds() / 1000);
}

std::uint64_t SteadyMillisecondClock::microseconds() { return monotonicMicroseconds(); }

void SteadyMillisecondClock::sleepUntilMicroseconds(std::uint64_t deadline) {
    // An absolute deadline: a sleep cut short by a signal and started again, or started late
    // because the thread was preempted, still ends at the same instant. A signal ends it early
    // (EINTR); the waits read the clock again and sleep on. The thread's timer slack (50 us by
    // default on Linux) is left alone: it keeps a 2.5 ms pause well short of the device's 3 ms,
    // and the rarer wake-ups later than that come from a processor waking from idle, which a
    // smaller slack does not shorten.
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline / 1'000'000);
    ts.tv_nsec = static_cast<long>(deadline % 1'000'000 * 1000);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

#else

std::uint32_t SteadyMillisecondClock::now() {
    return static_cast<std::uint32_t>(microseconds() / 1000);
}

std::uint64_t SteadyMillisecondClock::microseconds() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

void SteadyMillisecondClock::sleepUntilMicroseconds(std::uint64_t deadline) {
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::microseconds(static_cast<std::int64_t>(deadline)))));
}

#endif

// The waits sleep between readings: while a device is silent the identify command goes out at
// every watchdog tick, and reading the clock through its eight pauses kept a fifth of a
// processor busy. Sleeping also leaves the processor to the kernel's pseudo-terminal worker,
// which hands each written byte on to the other side.
void busyWaitMicroseconds(MillisecondClock& clock, std::uint64_t microseconds) {
    const std::uint64_t start = clock.microseconds();
    for (;;) {
        const std::uint64_t t = clock.microseconds();
        if (t - start >= microseconds || t < start) {
            return;
        }
        clock.sleepUntilMicroseconds(start + microseconds);
    }
}

void busyWait(MillisecondClock& clock, std::uint32_t milliseconds) {
    // The millisecond count is taken from the microsecond one, so that each reading also says
    // where within its millisecond the clock stands: the sleep then ends as the count ticks
    // over to the target, as the reading loop would have, not up to a millisecond later.
    const std::uint32_t start = static_cast<std::uint32_t>(clock.microseconds() / 1000);
    // Compared in 64 bits: a target past 2^32 is reached only through the wrap.
    const std::uint64_t target = std::uint64_t{start} + milliseconds;
    // The wrap ends the wait, so no sleep may reach past it.
    const std::uint64_t end = std::min<std::uint64_t>(target, std::uint64_t{1} << 32);
    for (;;) {
        const std::uint64_t us = clock.microseconds();
        const std::uint32_t t = static_cast<std::uint32_t>(us / 1000);
        if (t >= target || t < start) {
            return;
        }
        clock.sleepUntilMicroseconds((us / 1000 + (end - t)) * 1000);
    }
}

}  // namespace orvale::link
