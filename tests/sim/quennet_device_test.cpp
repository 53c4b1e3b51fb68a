#include "sim/quennet_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace orvale::sim {
namespace {

constexpr std::uint32_t kAt123455 = ((12 * 60 + 34) * 60 + 55) * 1000;

// The device of the documented identity example: a Quennet Truck Plus, serial 12345, 0.3B.
DeviceConfig truckPlus() {
    DeviceConfig config;
    config.productId = 11;
    config.serialNumber = 12345;
    config.versionByte = 2;
    config.revision = 'B';
    config.buildText = "0.3B 2019-07-01 build1";
    config.broadcastRate = 0;  // only what the commands cause, unless a test asks for more
    config.clockStartMs = kAt123455;
    return config;
}

const std::string kIdentifyAnswer =
    "ACK REVB\r\n"
    "ACK BN0.3B 2019-07-01 build1\r\n"
    "ACK CBRS=00\r\n"
    "ACK VIN=0\r\n"
    "ACK IDB0930300002012\r\n";

// Drives the device's clock: everything it transmits from `now` for `ms` milliseconds.
std::string run(QuennetDevice& device, std::uint32_t& now, std::uint32_t ms) {
    std::string out;
    for (std::uint32_t i = 0; i < ms; ++i) {
        out += device.transmit(now++);
    }
    return out;
}

// A device with its own clock, for conversations of several commands.
struct Driven {
    explicit Driven(DeviceConfig config) : device(std::move(config)) {}

    // Feeds `input` and returns what the device sends in the next 100 ms.
    std::string answer(std::string_view input) {
        device.receive(input, now);
        return run(device, now, 100);
    }

    QuennetDevice device;
    std::uint32_t now = 0;
};

std::vector<std::string> frames(std::string_view stream) {
    std::vector<std::string> out;
    while (!stream.empty()) {
        const std::size_t end = stream.find("\r\n");
        const std::size_t length = end == std::string_view::npos ? stream.size() : end + 2;
        out.emplace_back(stream.substr(0, length));
        stream.remove_prefix(length);
    }
    return out;
}

std::string upperCase(std::string text) {
    for (char& ch : text) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return text;
}

std::string lowerCase(std::string text) {
    for (char& ch : text) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return text;
}

TEST(QuennetDevice, IdentifyAnswersRevisionBuildSettingsAndIdentityInThatOrder) {
    Driven driven(truckPlus());
    EXPECT_EQ(driven.answer("AT ID?\r\n"), kIdentifyAnswer);
    EXPECT_EQ(driven.device.counts().identify, 1u);
}

struct CommandCase {
    const char* name;
    std::uint8_t position;
    std::uint8_t status;
    std::string input;
    std::string reply;
    std::uint8_t positionAfter;
    std::uint8_t statusAfter;
};

class Commands : public testing::TestWithParam<CommandCase> {};

TEST_P(Commands, ChangeTheStateAndAreAcknowledged) {
    const CommandCase& c = GetParam();
    DeviceConfig config = truckPlus();
    config.position = c.position;
    config.status = c.status;
    Driven driven(config);
    EXPECT_EQ(driven.answer(c.input), c.reply);
    EXPECT_EQ(driven.device.state().position, c.positionAfter);
    EXPECT_EQ(driven.device.state().status, c.statusAfter);
}

INSTANTIATE_TEST_SUITE_P(
    QuennetDevice, Commands,
    testing::Values(
        CommandCase{"Down", 50, 1, "AT KI1065\r\n", "ACK KI\r\n", 49, 1},
        CommandCase{"Up", 50, 1, "AT KI2055\r\n", "ACK KI\r\n", 51, 1},
        CommandCase{"UpStopsAt100", 100, 1, "AT KI2055\r\n", "ACK KI\r\n", 100, 1},
        CommandCase{"DownStopsAt0", 0, 1, "AT KI1065\r\n", "ACK KI\r\n", 0, 1},
        CommandCase{"DynamicOn", 50, 1, "AT KI2505\r\n", "ACK KI\r\n", 50, 3},
        CommandCase{"DynamicOff", 50, 3, "AT KI2505\r\n", "ACK KI\r\n", 50, 1},
        CommandCase{"QuietOn", 50, 1, "AT KI3405\r\n", "ACK KI\r\n", 50, 0},
        CommandCase{"QuietOff", 50, 2, "AT KI3405\r\n", "ACK KI\r\n", 50, 3},
        CommandCase{"UnknownKeyIsAcknowledged", 50, 1, link::keyCommand(7), "ACK KI\r\n", 50, 1},
        CommandCase{"Position0", 50, 1, "AT %006C\r\n", "ACK %\r\n", 0, 1},
        CommandCase{"Position50", 0, 1, "AT %231C\r\n", "ACK %\r\n", 50, 1},
        CommandCase{"Position100", 0, 1, "AT %46CB\r\n", "ACK %\r\n", 100, 1},
        CommandCase{"PositionAbove100IsCut", 0, 1, link::positionCommand(150), "ACK %\r\n", 100, 1},
        CommandCase{"PositionBadChecksum", 7, 1, "AT %231D\r\n", "", 7, 1},
        CommandCase{"KeyBadChecksum", 7, 1, "AT KI2056\r\n", "", 7, 1},
        CommandCase{"NoiseBeforeCommand", 7, 1, "\xff~xAT KI2055\r\n", "ACK KI\r\n", 8, 1},
        CommandCase{"HalfCommandThenCommand", 7, 1, "AT KI2AT KI2055\r\n", "ACK KI\r\n", 8, 1},
        CommandCase{"LfOnly", 0, 1, "AT %231C\n", "ACK %\r\n", 50, 1},
        CommandCase{"CrOnly", 0, 1, "AT %231C\r", "ACK %\r\n", 50, 1},
        CommandCase{"TwoInOneRead", 50, 1, "AT KI2055\r\nAT KI3405\r\n", "ACK KI\r\nACK KI\r\n", 51,
                    0},
        CommandCase{"UnknownCommand", 7, 1, "AT ZZ\r\n", "", 7, 1},
        CommandCase{"NotACommand", 7, 1, "hello\r\n", "", 7, 1},
        CommandCase{"LowerCaseIsNotACommand", 7, 1, "at ki2055\r\n", "", 7, 1}),
    [](const testing::TestParamInfo<CommandCase>& param) { return param.param.name; });

TEST(QuennetDevice, CommandSplitAcrossReadsIsAnsweredOnce) {
    QuennetDevice device(truckPlus());
    std::uint32_t now = 0;
    std::string out;
    for (const char c : std::string("AT KI2055\r\n")) {
        device.receive(std::string_view(&c, 1), now);
        out += run(device, now, 2);
    }
    out += run(device, now, 50);
    EXPECT_EQ(out, "ACK KI\r\n");
    EXPECT_EQ(device.counts().key, 1u);
}

TEST(QuennetDevice, SettingsAreAcknowledgedAndReportedAtTheNextIdentify) {
    Driven driven(truckPlus());
    EXPECT_EQ(driven.answer("AT CBRS=03\r\n"), "ACK CBRS=03\r\n");
    EXPECT_EQ(driven.answer("AT VIN=1\r\n"), "ACK VIN=1\r\n");
    // Out of range: ignored.
    EXPECT_EQ(driven.answer("AT CBRS=05\r\nAT VIN=2\r\n"), "");

    const auto identify = frames(driven.answer("AT ID?\r\n"));
    ASSERT_EQ(identify.size(), 5u);
    EXPECT_EQ(identify[2], "ACK CBRS=03\r\n");
    EXPECT_EQ(identify[3], "ACK VIN=1\r\n");
    const CommandCounts& counts = driven.device.counts();
    EXPECT_EQ(counts.canBaudRate, 1u);
    EXPECT_EQ(counts.vinStyle, 1u);
    EXPECT_EQ(counts.unknown, 2u);

    DeviceConfig quiet = truckPlus();
    quiet.acknowledgeSettings = false;
    Driven unacknowledged(quiet);
    EXPECT_EQ(unacknowledged.answer("AT CBRS=04\r\nAT VIN=1\r\n"), "");
    EXPECT_EQ(unacknowledged.device.state().canBaudCode, 4);
    EXPECT_EQ(unacknowledged.device.state().vinStyle, '1');
}

TEST(QuennetDevice, BroadcastsPositionEvery100MsAndTheClockEverySecond) {
    DeviceConfig config = truckPlus();
    config.broadcastRate = kDefaultBroadcastRate;
    config.position = 50;
    config.status = kStatusDynamicOn;
    QuennetDevice device(config);

    std::uint32_t now = 0;
    std::vector<std::uint32_t> frameStarts;
    std::string out;
    for (; now < 1050; ++now) {
        const std::string chunk = device.transmit(now);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (chunk[i] == 'B') {
                frameStarts.push_back(now);
            }
        }
        out += chunk;
    }
    std::vector<std::string> expected(10, "BRC %S2320AC\r\n");
    expected.push_back("BRC CLKC0220E3E\r\n");  // 12:34:56, one second after start
    EXPECT_EQ(frames(out), expected);
    ASSERT_EQ(frameStarts.size(), 11u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(frameStarts[i], 100 * (i + 1)) << "broadcast " << i;
    }
}

TEST(QuennetDevice, BroadcastsKeepTheirPeriodAcrossAClockWrap) {
    DeviceConfig config = truckPlus();
    config.broadcastRate = kDefaultBroadcastRate;
    QuennetDevice device(config);
    std::uint32_t now = 0xFFFF'FF00u;
    const auto out = frames(run(device, now, 1010));
    ASSERT_EQ(out.size(), 11u);
    EXPECT_EQ(std::count(out.begin(), out.end(), "BRC %S00100D\r\n"), 10);
    EXPECT_EQ(out.back(), "BRC CLKC0220E3E\r\n");
}

TEST(QuennetDevice, SaturatedLineCarriesNoMoreThan11520BytesPerSecond) {
    DeviceConfig config = truckPlus();
    config.broadcastRate = 5000;
    QuennetDevice device(config);
    EXPECT_EQ(device.broadcastRate(), kMaxBroadcastRate);

    std::uint32_t now = 0;
    run(device, now, 1000);
    std::size_t total = 0;
    for (int second = 0; second < 5; ++second) {
        const std::string out = run(device, now, 1000);
        total += out.size();
        const auto all = frames(out);
        const auto positions = std::count_if(
            all.begin(), all.end(), [](const std::string& f) { return f.rfind("BRC %S", 0) == 0; });
        EXPECT_GE(positions, kMaxBroadcastRate - 2) << "second " << second;
    }
    // What the line may have saved up before the first of these seconds: 64 bytes.
    EXPECT_LE(total, 5 * kLineBytesPerSecond + 64);
    EXPECT_GE(total, 5 * (kMaxBroadcastRate * 14 + 17) - 64);
    EXPECT_EQ(device.droppedBroadcasts(), 0u);
}

TEST(QuennetDevice, AnswerAfterAnIdleLineIsPacedFromTheFirstByte) {
    QuennetDevice device(truckPlus());
    std::uint32_t now = 0;
    run(device, now, 500);
    device.receive("AT ID?\r\n", now);
    std::size_t sent = 0;
    for (std::uint32_t ms = 0; ms < 20; ++ms) {
        sent += device.transmit(now + ms).size();
        // 11.52 bytes per ms, plus the byte an idle line starts at once.
        EXPECT_LE(sent, 1 + ms * kLineBytesPerSecond / 1000 + 1) << "after " << ms << " ms";
    }
    EXPECT_EQ(sent, kIdentifyAnswer.size());
}

TEST(QuennetDevice, OutputBacklogIsBounded) {
    DeviceConfig config = truckPlus();
    config.broadcastRate = kDefaultBroadcastRate;
    QuennetDevice device(config);
    std::string flood;
    for (int i = 0; i < 200; ++i) {
        flood += "AT ID?\r\n";
    }
    std::uint32_t now = 0;
    device.receive(flood, now);
    EXPECT_LE(device.pendingBytes(), 4096u);
    run(device, now, 200);
    EXPECT_GT(device.droppedBroadcasts(), 0u);
}

struct FaultCase {
    const char* name;
    Faults faults;
    std::string identifyAnswer;
};

Faults makeFaults(void (*edit)(Faults&)) {
    Faults faults;
    edit(faults);
    return faults;
}

class FaultsOnIdentify : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultsOnIdentify, ChangeTheAnswer) {
    Driven driven(truckPlus());
    driven.device.setFaults(GetParam().faults);
    EXPECT_EQ(driven.answer("AT ID?\r\n"), GetParam().identifyAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    QuennetDevice, FaultsOnIdentify,
    testing::Values(
        FaultCase{"None", {}, kIdentifyAnswer},
        FaultCase{"Silent", makeFaults([](Faults& f) { f.silent = true; }), ""},
        FaultCase{"BadChecksums", makeFaults([](Faults& f) { f.badChecksums = true; }),
                  "ACK REVB\r\nACK BN0.3B 2019-07-01 build1\r\nACK CBRS=00\r\nACK VIN=0\r\n"
                  "ACK IDB0930300002022\r\n"},
        FaultCase{"WrongProductId", makeFaults([](Faults& f) { f.productIdOverride = 20; }),
                  "ACK REVB\r\nACK BN0.3B 2019-07-01 build1\r\nACK CBRS=00\r\nACK VIN=0\r\n" +
                      link::device::identityAnswer({20, 12345, 2})},
        FaultCase{"LowerCase", makeFaults([](Faults& f) { f.lowerCase = true; }),
                  lowerCase(kIdentifyAnswer)},
        FaultCase{"Garbage", makeFaults([](Faults& f) { f.garbage = "~#"; }),
                  "~#ACK REVB\r\n~#ACK BN0.3B 2019-07-01 build1\r\n~#ACK CBRS=00\r\n"
                  "~#ACK VIN=0\r\n~#ACK IDB0930300002012\r\n"}),
    [](const testing::TestParamInfo<FaultCase>& param) { return param.param.name; });

TEST(QuennetDevice, BroadcastChecksumsUnderFaults) {
    struct Case {
        Faults faults;
        std::string clock;
        bool good;  // checksum of the upper-cased frame
    };
    const Case cases[] = {
        {makeFaults([](Faults& f) { f.lowerCase = true; }), "brc clkc0220e3e\r\n", true},
        {makeFaults([](Faults& f) { f.badChecksums = true; }), "BRC CLKC0220E4E\r\n", false},
    };
    for (const Case& c : cases) {
        DeviceConfig config = truckPlus();
        config.broadcastRate = kDefaultBroadcastRate;
        QuennetDevice device(config);
        device.setFaults(c.faults);
        std::uint32_t now = 0;
        const auto out = frames(run(device, now, 1010));
        ASSERT_EQ(out.size(), 11u);
        EXPECT_EQ(out.back(), c.clock);
        EXPECT_EQ(link::checksumGood(upperCase(out.front()), 10), c.good) << out.front();
        EXPECT_EQ(link::checksumGood(upperCase(out.back()), 13), c.good);
    }
}

TEST(QuennetDevice, SilentDeviceStillTakesCommands) {
    Driven driven(truckPlus());
    driven.device.setFaults(makeFaults([](Faults& f) { f.silent = true; }));
    EXPECT_EQ(driven.answer("AT %46CB\r\n"), "");
    EXPECT_EQ(driven.device.state().position, 100);
}

TEST(QuennetDevice, SplitFramesComeInSmallPiecesWithGaps) {
    QuennetDevice device(truckPlus());
    device.setFaults(makeFaults([](Faults& f) {
        f.splitPieceMax = 3;
        f.seed = 42;
    }));
    std::uint32_t now = 0;
    device.receive("AT ID?\r\n", now);
    std::string out;
    std::uint32_t lastPiece = 0;
    std::size_t pieces = 0;
    for (; now < 1000; ++now) {
        const std::string piece = device.transmit(now);
        if (piece.empty()) {
            continue;
        }
        EXPECT_LE(piece.size(), 3u);
        if (pieces > 0) {
            EXPECT_GE(now - lastPiece, 2u);
        }
        lastPiece = now;
        ++pieces;
        out += piece;
    }
    EXPECT_EQ(out, kIdentifyAnswer);
    EXPECT_GE(pieces, kIdentifyAnswer.size() / 3);
}

std::string corruptedIdentifies(std::uint32_t seed, std::uint32_t oneIn) {
    QuennetDevice device(truckPlus());
    Faults faults;
    faults.corruptOneIn = oneIn;
    faults.seed = seed;
    device.setFaults(faults);
    std::uint32_t now = 0;
    std::string out;
    for (int i = 0; i < 200; ++i) {
        device.receive("AT ID?\r\n", now);
        out += run(device, now, 20);
    }
    return out;
}

TEST(QuennetDevice, CorruptionHitsAboutOneByteInNAndRepeatsWithTheSeed) {
    const std::string clean = corruptedIdentifies(7, 0);
    const std::string a = corruptedIdentifies(7, 100);
    ASSERT_EQ(a.size(), clean.size());
    std::size_t damaged = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        damaged += a[i] != clean[i] ? 1u : 0u;
    }
    // About 17,000 bytes at 1 in 100: about 170.
    EXPECT_GT(damaged, 100u);
    EXPECT_LT(damaged, 300u);
    EXPECT_EQ(corruptedIdentifies(7, 100), a);
    EXPECT_NE(corruptedIdentifies(8, 100), a);
}

}  // namespace
}  // namespace orvale::sim

namespace orvale::sim {
namespace {

TEST(QuennetDevice, SweepMovesThePositionWithEveryBroadcastAndTurnsAtTheEnds) {
    DeviceConfig config = truckPlus();
    config.broadcastRate = 100;
    config.position = 98;
    config.sweep = true;
    QuennetDevice device(config);
    std::uint32_t now = 0;
    std::vector<int> positions;
    for (const auto& frame : frames(run(device, now, 60))) {
        if (frame.starts_with("BRC %S"))
            positions.push_back(link::decodePositionStatus(frame).position);
    }
    ASSERT_GE(positions.size(), 5u);
    EXPECT_EQ(std::vector<int>(positions.begin(), positions.begin() + 5),
              (std::vector<int>{99, 100, 99, 98, 97}));
}

}  // namespace
}  // namespace orvale::sim
