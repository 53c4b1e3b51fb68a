#include "link/clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <stdexcept>
#include <vector>

#include "link/connection.h"
#include "link/protocol.h"
#include "support/fakes.h"

#if defined(__unix__)
#include <time.h>
#endif

namespace orvale::link {
namespace {

constexpr std::uint64_t kWrapUs = (std::uint64_t{1} << 32) * 1000;

// A clock that moves only when slept on. Every sleep notes the deadline it was asked for and
// wakes the next scripted number of microseconds early (a signal), or at the deadline. A wait
// that reads without sleeping would never end: it is stopped after many reads.
class SleepingClock final : public MillisecondClock {
public:
    explicit SleepingClock(std::uint64_t start) : us(start) {}
    std::uint32_t now() override { return static_cast<std::uint32_t>(microseconds() / 1000); }
    std::uint64_t microseconds() override {
        if (++m_reads > 10'000) throw std::runtime_error("the wait spins");
        return us;
    }
    void sleepUntilMicroseconds(std::uint64_t deadline) override {
        m_reads = 0;
        deadlines.push_back(deadline);
        const std::uint64_t early = wakeEarly.empty() ? 0 : wakeEarly.front();
        if (!wakeEarly.empty()) wakeEarly.pop_front();
        us = std::max(us, deadline - early);
    }
    std::uint64_t us;
    std::deque<std::uint64_t> wakeEarly;
    std::vector<std::uint64_t> deadlines;

private:
    unsigned m_reads = 0;
};

TEST(SendPaced, SleepsUntilTwoAndAHalfMillisecondsAfterEachByte) {
    // The last start runs across the wrap of the millisecond count: the pauses do not see it.
    for (const std::uint64_t start :
         {std::uint64_t{0}, std::uint64_t{999}, std::uint64_t{123'456'789}, kWrapUs - 4000}) {
        SleepingClock clock(start);
        test::FakeSerialControl serial;
        std::vector<std::uint64_t> expected;
        serial.onRecord = [&] {
            if (serial.calls.back() == "Output") expected.push_back(clock.us + kBytePauseUs);
        };
        sendPaced(serial, clock, identifyCommand());
        EXPECT_EQ(clock.deadlines, expected) << start;
        EXPECT_EQ(clock.us, start + 8 * kBytePauseUs) << start;
    }
}

TEST(BusyWait, SleepsUntilTheTickItEndsOnAndNeverPastTheWrap) {
    const struct {
        std::uint64_t startMs, startUsIntoMs, deadlineMs;
        std::uint32_t wait;
    } cases[] = {
        {100, 0, 600, 500},
        {100, 400, 600, 500},  // the reading loop ended on the tick, too
        {(5ULL << 32) + 1000, 0, (5ULL << 32) + 1500, 500},  // the count is the low 32 bits
        {(3ULL << 32) + 0xFFFFFF00u, 7, 4ULL << 32, 500},    // the wrap ends the wait
        {0xFFFFFFFFu, 999, 1ULL << 32, 2},
    };
    for (const auto& c : cases) {
        SleepingClock clock(c.startMs * 1000 + c.startUsIntoMs);
        busyWait(clock, c.wait);
        EXPECT_EQ(clock.deadlines, std::vector<std::uint64_t>{c.deadlineMs * 1000}) << c.startMs;
    }
}

TEST(ClockWaits, AnEarlyWakeUpSleepsAgainUntilTheSameDeadline) {
    for (const std::deque<std::uint64_t>& early :
         {std::deque<std::uint64_t>{1000, 1}, std::deque<std::uint64_t>{100'000, 1}}) {
        SleepingClock paced(10'000'000);
        paced.wakeEarly = early;
        busyWaitMicroseconds(paced, kBytePauseUs);
        EXPECT_EQ(paced.deadlines, std::vector<std::uint64_t>(3, 10'002'500));
        SleepingClock settle(10'000'000);
        settle.wakeEarly = early;
        settleAndReconnect(settle, [] {});
        EXPECT_EQ(settle.deadlines, std::vector<std::uint64_t>(3, 10'500'000));
        EXPECT_EQ(settle.us, 10'500'000U);
    }
}

#if defined(__unix__)
// Regression: identifying a silent device spun a fifth of a processor in the byte pauses.
TEST(SteadyMillisecondClock, WaitsSleepOnTheClockTheyRead) {
    SteadyMillisecondClock clock;
    const auto cpu = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
    };
    const std::uint64_t start = clock.microseconds();
    const long long cpuStart = cpu();
    clock.sleepUntilMicroseconds(start + 20'000);
    EXPECT_GE(clock.microseconds(), start + 20'000);
    busyWaitMicroseconds(clock, 20'000);
    busyWait(clock, 20);
    EXPECT_GE(clock.microseconds() - start, 59'000U);
    EXPECT_LT(cpu() - cpuStart, 10'000'000) << "nanoseconds of processor time in 60 ms of waits";
}
#endif

}  // namespace
}  // namespace orvale::link
