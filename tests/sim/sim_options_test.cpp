#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace orvale::sim {
namespace {

ParsedOptions parse(std::vector<std::string_view> args) { return parseOptions(args); }

TEST(SimOptions, FirmwareText) {
    struct Case {
        std::string_view text;
        std::optional<std::pair<int, char>> expected;  // version byte, revision
    };
    const Case cases[] = {
        {"0.3B", std::pair{2, 'B'}},
        {"0.3c", std::pair{2, 'C'}},
        {"0.1A", std::pair{0, 'A'}},
        {"10.0A", std::pair{99, 'A'}},
        {"25.6Z", std::pair{255, 'Z'}},
        {"0.0A", std::nullopt},  // version number 0 does not exist
        {"25.7A", std::nullopt},
        {"0.3", std::nullopt},
        {"3B", std::nullopt},
        {"0.3BB", std::nullopt},
        {"x.3B", std::nullopt},
        {"0.33", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto firmware = parseFirmware(c.text);
        ASSERT_EQ(firmware.has_value(), c.expected.has_value()) << c.text;
        if (firmware) {
            EXPECT_EQ(firmware->versionByte, c.expected->first) << c.text;
            EXPECT_EQ(firmware->revision, c.expected->second) << c.text;
        }
    }
}

TEST(SimOptions, FullCommandLine) {
    const auto parsed = parse({"--model",
                               "13",
                               "--serial",
                               "42",
                               "--firmware",
                               "0.3C",
                               "--rate=100",
                               "--link",
                               "/tmp/q",
                               "--clock",
                               "12:34:56",
                               "--can-baud",
                               "3",
                               "--vin-style",
                               "1",
                               "--wrong-id",
                               "20",
                               "--split",
                               "4",
                               "--garbage",
                               "--corrupt",
                               "1000",
                               "--seed",
                               "9",
                               "--lower-case",
                               "--bad-checksums",
                               "--silent",
                               "--no-settings-ack",
                               "--record",
                               "/tmp/q.rec",
                               "--record-times",
                               "/tmp/q.times",
                               "--control=/tmp/q.ctl"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const SimOptions& o = *parsed.options;
    EXPECT_EQ(o.device.productId, 13);
    EXPECT_EQ(o.device.serialNumber, 42u);
    EXPECT_EQ(o.device.versionByte, 2);
    EXPECT_EQ(o.device.revision, 'C');
    EXPECT_EQ(o.device.broadcastRate, 100u);
    EXPECT_EQ(o.linkPath, "/tmp/q");
    EXPECT_EQ(o.recordPath, "/tmp/q.rec");
    EXPECT_EQ(o.recordTimesPath, "/tmp/q.times");
    EXPECT_EQ(o.controlPath, "/tmp/q.ctl");
    EXPECT_EQ(o.device.clockStartMs, ((12u * 60 + 34) * 60 + 56) * 1000);
    EXPECT_TRUE(o.clockGiven);
    EXPECT_EQ(o.device.canBaudCode, 3);
    EXPECT_EQ(o.device.vinStyle, '1');
    EXPECT_FALSE(o.device.acknowledgeSettings);
    EXPECT_EQ(o.faults.productIdOverride, std::optional<std::uint8_t>(20));
    EXPECT_EQ(o.faults.splitPieceMax, 4u);
    EXPECT_EQ(o.faults.garbage, kDefaultGarbage);
    EXPECT_EQ(o.faults.corruptOneIn, 1000u);
    EXPECT_EQ(o.faults.seed, 9u);
    EXPECT_TRUE(o.faults.lowerCase && o.faults.badChecksums && o.faults.silent);
}

TEST(SimOptions, RefusedArguments) {
    const std::vector<std::vector<std::string_view>> cases = {
        {"--bogus"},        {"--model"},          {"--model", "256"},
        {"--rate", "822"},  {"--silent=1"},       {"--firmware", "0.3"},
        {"--serial", "-1"}, {"--can-baud", "5"},  {"--clock", "24:00:00"},
        {"--split", "0"},   {"--vin-style", "2"}, {"--position", "101"},
        {"positional"},     {"--record"},         {"--control="},
        {"--record-times"}, {"--record-times="},
    };
    for (const auto& args : cases) {
        const auto parsed = parse(args);
        EXPECT_FALSE(parsed.options) << args[0];
        EXPECT_FALSE(parsed.error.empty()) << args[0];
    }
}

TEST(SimOptions, HelpStopsTheParsing) {
    EXPECT_TRUE(parse({"--model", "13", "--help", "--bogus"}).help);
}

// The lines of `text` that start with the product ID, as a reader looks it up.
std::vector<std::string> linesForId(const std::string& text, int id) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto first = line.find_first_not_of(' ');
        if (first != std::string::npos &&
            line.substr(first).starts_with(std::to_string(id) + "  ")) {
            found.push_back(line);
        }
    }
    return found;
}

TEST(SimOptions, HelpListsTheModelsAndWhichCanBeRemoteControlled) {
    const struct {
        int id;
        const char* model;
        bool remote;
    } models[] = {
        {8, "Quennet Basic", false},  {9, "Quennet Basic Plus", true},
        {10, "Quennet Truck", false}, {11, "Quennet Truck Plus", true},
        {12, "Quennet Bus", false},   {13, "Quennet Bus Plus", true},
        {14, "Quennet Duo", false},   {15, "Quennet Duo Plus", true},
    };
    const std::string help = usage("quennet-sim");
    for (const auto& m : models) {
        const auto lines = linesForId(help, m.id);
        ASSERT_EQ(lines.size(), 1u) << m.id << " in\n" << help;
        EXPECT_NE(lines[0].find(m.model), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].find("remote-controllable") != std::string::npos, m.remote) << lines[0];
    }
    EXPECT_TRUE(linesForId(help, 7).empty() && linesForId(help, 16).empty());
    EXPECT_NE(help.find("\"Wrong ID\""), std::string::npos);
}

TEST(SimOptions, UnusualDeviceNoteSaysWhatTheWindowWillShow) {
    const std::string wrongId = ", which Orvale shows as \"Wrong ID\" and drops";
    const std::string identityOnly =
        ": Orvale shows its identity only, with the message that it needs 0.3B or 0.3C";
    const struct {
        std::uint8_t id;
        std::uint8_t versionByte;
        char revision;
        std::string note;
    } cases[] = {
        {15, 2, 'B', ""},
        {8, 2, 'B', ""},  // identity only, as that model always is: nothing unusual
        {20, 2, 'B', "the simulated device reports product ID 20" + wrongId},
        {7, 2, 'B', "the simulated device reports product ID 7" + wrongId},
        {0, 0, 'A', "the simulated device reports product ID 0" + wrongId},  // the ID wins
        {13, 2, 'A', "the simulated Quennet Bus Plus reports firmware 0.3A" + identityOnly},
        {10, 3, 'B', "the simulated Quennet Truck reports firmware 0.4B" + identityOnly},
        {15, 99, 'C', "the simulated Quennet Duo Plus reports firmware 10.0C" + identityOnly},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unusualDeviceNote(c.id, c.versionByte, c.revision), c.note)
            << int{c.id} << " " << int{c.versionByte} << c.revision;
    }
}

}  // namespace
}  // namespace orvale::sim
