#include "link/connection.h"

#include <gtest/gtest.h>

#include <utility>

#include <algorithm>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "support/fakes.h"

namespace orvale::link {
namespace {

using Calls = std::vector<std::string>;

TEST(PortNumber, FromPortName) {
    const struct {
        const char* name;
        int number;
    } cases[] = {{"COM1", 1},   {"COM9", 9},   {"COM10", 10}, {"COM30", 30}, {"COM31", 31},
                 {"COM40", 40}, {"COM50", 50}, {"COM51", 1},  {"COM0", 1},   {"COM01", 1},
                 {"com5", 1},   {"", 1},       {"COM", 1},    {"COM5x", 1},  {"COM 5", 1},
                 {"COM123", 1}, {"XCOM5", 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(portNumber(c.name), c.number) << '"' << c.name << '"';
    }
}

class OpenPortTest : public ::testing::Test {
protected:
    test::FakeSerialControl serial;
    test::RecordingWindow window;
};

TEST_F(OpenPortTest, OpensInTheControlsOrder) {
    window.fields.portText = "COM12";
    openPort(serial, window.state, window.fields, window);
    EXPECT_EQ(serial.calls,
              (Calls{"PortOpen?", "CommPort=12", "PortOpen?", "PortOpen=1", "Settings=115200,n,8,1",
                     "InputMode=1", "RThreshold=1", "InputLen=0", "Input?"}));
    EXPECT_TRUE(window.state.portOpen);
    EXPECT_EQ(window.calls.front(), "pull") << "the port list's choice is pulled first";
}

TEST_F(OpenPortTest, ReopeningClosesFirst) {
    serial.open = true;
    window.state.portOpen = true;
    window.fields.portText = "COM3";
    openPort(serial, window.state, window.fields, window);
    EXPECT_EQ((Calls{serial.calls.begin(), serial.calls.begin() + 5}),
              (Calls{"PortOpen?", "PortOpen=0", "CommPort=3", "PortOpen?", "PortOpen=1"}));
    EXPECT_TRUE(window.state.portOpen);
}

TEST_F(OpenPortTest, StillOpenAfterCloseIsReportedAndTheSettingsStillRun) {
    serial.stuckOpen = true;
    window.state.portOpen = true;
    openPort(serial, window.state, window.fields, window);
    EXPECT_FALSE(window.state.portOpen);
    EXPECT_EQ(window.messages, std::vector<std::string>{"Cannot Open the selected Serial Port!"});
    EXPECT_EQ(serial.calls.back(), "Input?");
    EXPECT_NE(std::find(serial.calls.begin(), serial.calls.end(), "Settings=115200,n,8,1"),
              serial.calls.end());
    EXPECT_EQ(std::find(serial.calls.begin(), serial.calls.end(), "PortOpen=1"),
              serial.calls.end());
}

TEST_F(OpenPortTest, ARefusedOpenStopsThereWithTheFlagClear) {
    serial.failOn = "PortOpen=1";
    window.state.portOpen = true;
    EXPECT_THROW(openPort(serial, window.state, window.fields, window), SerialError);
    EXPECT_FALSE(window.state.portOpen);
    EXPECT_EQ(serial.calls.back(), "PortOpen=1");
}

// The port opened, then a later step of the open was refused (line settings the adapter cannot
// take): the caller sees a failed open, so the port must not stay held with the flag set.
TEST_F(OpenPortTest, RegressionARefusalAfterTheOpenLetsThePortGo) {
    for (const char* step : {"Settings", "InputMode", "RThreshold", "InputLen", "Input?"}) {
        test::FakeSerialControl s;
        test::RecordingWindow w;
        s.failOn = step;
        EXPECT_THROW(openPort(s, w.state, w.fields, w), SerialError) << step;
        EXPECT_FALSE(w.state.portOpen) << step;
        EXPECT_FALSE(s.open) << step;
        EXPECT_EQ(s.calls.back(), "PortOpen=0") << step;
    }
}

TEST_F(OpenPortTest, CloseOnlyClosesAnOpenPort) {
    window.state.portOpen = true;
    closePort(serial, window.state);
    EXPECT_EQ(serial.calls, Calls{"PortOpen?"});
    EXPECT_FALSE(window.state.portOpen);
    serial.open = true;
    closePort(serial, window.state);
    EXPECT_EQ(serial.calls.back(), "PortOpen=0");
}

TEST(SendPaced, OneByteAWriteAtLeastTwoMillisecondsApart) {
    test::SteppingClock clock(5000, 1);
    test::FakeSerialControl serial(&clock);
    sendPaced(serial, clock, identifyCommand());
    EXPECT_EQ(serial.written, "AT ID?\r\n");
    EXPECT_EQ(serial.writes, std::vector<std::size_t>(8, 1));
    for (std::size_t i = 1; i < serial.writeTimes.size(); ++i) {
        EXPECT_GT(serial.writeTimes[i] - serial.writeTimes[i - 1], kByteGapMs);
    }
    // The wait after the last byte is kept too: the clock moved on past the last write.
    EXPECT_GT(clock.peek() - serial.writeTimes.back(), kByteGapMs);
}

TEST(SendPaced, ARefusedWriteEndsTheSendAtThatByte) {
    test::SteppingClock clock;
    test::FakeSerialControl serial(&clock);
    int outputs = 0;
    serial.onRecord = [&] {
        if (serial.calls.back() == "Output" && ++outputs == 3) serial.failOn = "Output";
    };
    EXPECT_THROW(sendPaced(serial, clock, keyCommand(Key::Up)), SerialError);
    EXPECT_EQ(serial.written, "AT");
}

TEST(SendPaced, AMessageWithoutLfIsSentWholeAndNoFurther) {
    test::SteppingClock clock;
    test::FakeSerialControl serial(&clock);
    sendPaced(serial, clock, std::string_view("AB"));
    EXPECT_EQ(serial.written, "AB");
}

TEST(BusyWait, WaitsTheGivenMilliseconds) {
    const struct {
        std::uint32_t start, step, wait, minReads;
    } cases[] = {{1000, 1, 2, 3}, {1000, 1, 500, 501}, {0, 7, 500, 73}, {1000, 600, 500, 2}};
    for (const auto& c : cases) {
        test::SteppingClock clock(c.start, c.step);
        busyWait(clock, c.wait);
        EXPECT_EQ(clock.reads, c.minReads) << c.start << "+" << c.step << " wait " << c.wait;
    }
}

TEST(BusyWait, AClockWrapEndsTheWaitAtOnce) {
    const struct {
        std::uint32_t start, wait;
        unsigned reads;
    } cases[] = {
        {0xFFFFFFFEu, 500, 3},    // reads FFFFFFFE, FFFFFFFF, then 0 < start: done
        {0xFFFFFFFFu, 2, 2},      // target past 2^32 is reached only through the wrap
        {0xFFFFFF00u, 500, 257},  // 256 ms into a 500 ms wait
    };
    for (const auto& c : cases) {
        test::SteppingClock clock(c.start, 1);
        busyWait(clock, c.wait);
        EXPECT_EQ(clock.reads, c.reads) << std::hex << c.start;
    }
}

// A clock with a microsecond count that moves by `step` microseconds at every read, and a
// serial control that notes the count at every byte written.
class MicrosecondClock final : public MillisecondClock {
public:
    MicrosecondClock(std::uint64_t start, std::uint64_t step) : m_now(start), m_step(step) {}
    std::uint32_t now() override { return static_cast<std::uint32_t>(microseconds() / 1000); }
    std::uint64_t microseconds() override { return std::exchange(m_now, m_now + m_step); }
    [[nodiscard]] std::uint64_t peek() const { return m_now; }

private:
    std::uint64_t m_now;
    std::uint64_t m_step;
};

TEST(SendPaced, WithAFineClockEveryPauseIsBetweenTwoAndThreeMilliseconds) {
    // Starting anywhere within a millisecond, read often or seldom: the pause after each byte
    // lasts 2.5 ms, give or take one read of the clock.
    for (const std::uint64_t start : {0ULL, 999ULL, 123'456'789ULL}) {
        for (const std::uint64_t step : {1ULL, 37ULL, 400ULL}) {
            MicrosecondClock clock(start, step);
            test::FakeSerialControl serial;
            std::vector<std::uint64_t> at;
            serial.onRecord = [&] {
                if (serial.calls.back() == "Output") at.push_back(clock.peek());
            };
            sendPaced(serial, clock, identifyCommand());
            ASSERT_EQ(at.size(), 8U);
            at.push_back(clock.peek());
            for (std::size_t i = 1; i < at.size(); ++i) {
                const std::uint64_t gap = at[i] - at[i - 1];
                EXPECT_GE(gap, kBytePauseUs) << start << "+" << step << " byte " << i;
                EXPECT_LE(gap, kBytePauseUs + 2 * step) << start << "+" << step << " byte " << i;
            }
        }
    }
}

TEST(BusyWaitMicroseconds, ReadsAWholeMillisecondClockAsThreeCountsAndEndsOnAWrap) {
    const struct {
        std::uint32_t start;
        std::uint64_t wait;
        unsigned reads;
    } cases[] = {
        {1000, 2500, 4},         // 1000, 1001, 1002, 1003: three counts after the start
        {1000, 2000, 3},         // whole milliseconds: exactly two counts
        {0xFFFFFFFEu, 2500, 3},  // FFFFFFFE, FFFFFFFF, then 0: wrapped, done
    };
    for (const auto& c : cases) {
        test::SteppingClock clock(c.start, 1);
        busyWaitMicroseconds(clock, c.wait);
        EXPECT_EQ(clock.reads, c.reads) << std::hex << c.start << " wait " << std::dec << c.wait;
    }
}

TEST(SettleAndReconnect, WaitsFiveHundredMillisecondsThenConnects) {
    test::SteppingClock clock(100, 1);
    std::uint32_t connectedAt = 0;
    settleAndReconnect(clock, [&] { connectedAt = clock.peek(); });
    EXPECT_GE(connectedAt - 100, kSettleMs);
    EXPECT_LE(connectedAt - 100, kSettleMs + 2);
}

}  // namespace
}  // namespace orvale::link
