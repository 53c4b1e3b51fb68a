#include "sim/control_channel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "sim/record_file.h"

namespace orvale::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + 10s;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = ::testing::TempDir() + "quennet-control-XXXXXX";
        m_path = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        for (const char* name : {"pipe", "file", "record"}) {
            ::unlink(path(name).c_str());
        }
        ::rmdir(m_path.c_str());
    }
    std::string path(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

bool isFifo(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

// Opens, writes and closes, as `echo LINE > FIFO` does.
void writeToPipe(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

TEST(ControlLine, ChangesTheRunningDevice) {
    PtyDevice device;
    struct Case {
        std::string_view line;
        std::function<bool(const PtyDevice&)> holds;
    };
    const Case cases[] = {
        {"silent on", [](const PtyDevice& d) { return d.faults().silent; }},
        {"silent off", [](const PtyDevice& d) { return !d.faults().silent; }},
        {"bad-checksums on", [](const PtyDevice& d) { return d.faults().badChecksums; }},
        {"bad-checksums off", [](const PtyDevice& d) { return !d.faults().badChecksums; }},
        {"lower-case on", [](const PtyDevice& d) { return d.faults().lowerCase; }},
        {"lower-case off", [](const PtyDevice& d) { return !d.faults().lowerCase; }},
        {"garbage on", [](const PtyDevice& d) { return d.faults().garbage == kDefaultGarbage; }},
        {"garbage off", [](const PtyDevice& d) { return d.faults().garbage.empty(); }},
        {"wrong-id 20",
         [](const PtyDevice& d) { return d.faults().productIdOverride == std::uint8_t{20}; }},
        {"wrong-id off", [](const PtyDevice& d) { return !d.faults().productIdOverride; }},
        {"position 150", [](const PtyDevice& d) { return d.state().position == 150; }},
        {"  position\t42 \r", [](const PtyDevice& d) { return d.state().position == 42; }},
        {"status 2", [](const PtyDevice& d) { return d.state().status == 2; }},
        {"rate 0", [](const PtyDevice& d) { return d.broadcastRate() == 0; }},
        {"rate 821", [](const PtyDevice& d) { return d.broadcastRate() == 821; }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(applyControlLine(device, c.line), "") << c.line;
        EXPECT_TRUE(c.holds(device)) << c.line;
    }
    // One fault switched leaves the others as they were.
    ASSERT_EQ(applyControlLine(device, "silent on"), "");
    ASSERT_EQ(applyControlLine(device, "wrong-id 9"), "");
    EXPECT_TRUE(device.faults().silent);
}

TEST(ControlLine, RefusedLinesChangeNothing) {
    PtyDevice device;
    const std::string_view refused[] = {
        "",           "silent",      "silent yes", "silent on off", "wrong-id 256",
        "wrong-id x", "position -1", "position",   "status 256",    "rate 822",
        "volume 3",   "POSITION 3",
    };
    for (const std::string_view line : refused) {
        EXPECT_NE(applyControlLine(device, line), "") << line;
    }
    EXPECT_FALSE(device.faults().silent);
    EXPECT_FALSE(device.faults().productIdOverride);
    EXPECT_EQ(device.state().position, 0);
    EXPECT_EQ(device.state().status, DeviceConfig{}.status);
    EXPECT_EQ(device.broadcastRate(), kDefaultBroadcastRate);
}

TEST(ControlChannel, HandsOverLinesFromWritersInTurnAndRemovesItsPipe) {
    TempDir dir;
    const std::string pipe = dir.path("pipe");
    std::mutex mutex;
    std::vector<std::string> lines;
    {
        ControlChannel channel(pipe, [&](std::string_view line) {
            std::lock_guard lock(mutex);
            lines.emplace_back(line);
        });
        ASSERT_TRUE(isFifo(pipe));
        writeToPipe(pipe, "silent on\n");
        writeToPipe(pipe, "\n  \r\nposition 5\r\nstat");
        writeToPipe(pipe, "us 1\n");
        ASSERT_TRUE(eventually([&] {
            std::lock_guard lock(mutex);
            return lines.size() == 3;
        }));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"silent on", "position 5", "status 1"}));
    EXPECT_FALSE(isFifo(pipe)) << "pipe left behind";
}

TEST(ControlChannel, UsesAnExistingPipeAndLeavesIt) {
    TempDir dir;
    const std::string pipe = dir.path("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    {
        std::mutex mutex;
        std::string seen;
        ControlChannel channel(pipe, [&](std::string_view line) {
            std::lock_guard lock(mutex);
            seen = line;
        });
        writeToPipe(pipe, "rate 5\n");
        ASSERT_TRUE(eventually([&] {
            std::lock_guard lock(mutex);
            return seen == "rate 5";
        }));
    }
    EXPECT_TRUE(isFifo(pipe));
}

TEST(ControlChannel, RefusesAPathHoldingAFile) {
    TempDir dir;
    const std::string file = dir.path("file");
    std::ofstream(file) << "keep me";
    EXPECT_THROW(ControlChannel(file, [](std::string_view) {}), std::system_error);
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
}

TEST(RecordFile, EmptiesTheFileThenHoldsEveryChunkAtOnce) {
    TempDir dir;
    const std::string path = dir.path("record");
    std::ofstream(path) << "old run";
    RecordFile record(path);
    const auto contents = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(contents(), "");
    record.append("AT ID?\r\n");
    // Read while the recorder is still open: nothing may wait in a buffer.
    EXPECT_EQ(contents(), "AT ID?\r\n");
    record.append(std::string_view("\0\xff", 2));
    EXPECT_EQ(contents(), std::string("AT ID?\r\n\0\xff", 10));
}

TEST(RecordFile, TimedLineIsTheTimeAndTheChunkInHex) {
    EXPECT_EQ(timedRecordLine(0, ""), "0 \n");
    EXPECT_EQ(timedRecordLine(123, "AT"), "123 4154\n");
    // Ordinary hex order, not the device's low-nibble-first pairs: 0x0F is "0F".
    EXPECT_EQ(timedRecordLine(9'000'000'000'123, "AT ID?\r\n"), "9000000000123 41542049443F0D0A\n");
    EXPECT_EQ(timedRecordLine(7, std::string_view("\0\x0f\xf0\xff", 4)), "7 000FF0FF\n");
}

TEST(RecordFile, TimesAreTheSystemsMonotonicClock) {
    // Another process sets the record's times beside its own CLOCK_MONOTONIC readings.
    const auto read = [] {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1'000;
    };
    const std::int64_t before = read();
    const std::int64_t taken = monotonicMicroseconds();
    const std::int64_t after = read();
    EXPECT_LE(before, taken);
    EXPECT_LE(taken, after);
}

TEST(RecordFile, ThrowsWhenTheFileCannotBeMade) {
    TempDir dir;
    EXPECT_THROW(RecordFile(dir.path("no-such-dir/record")), std::system_error);
}

}  // namespace
}  // namespace orvale::sim
