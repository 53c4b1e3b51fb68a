// The frames a device sends, byte for byte, against frames worked out by hand from the J1939 and
// FMS layouts: position 80 on a Duo Plus (which carries every group) unless a row says otherwise.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "fms/encoder.h"
#include "tests/fms/fms_test_support.h"

namespace orvale::fms {
namespace {

using test::describe;
using test::Device;

struct Worked {
    std::string_view what;
    GroupId group;
    std::vector<std::string_view> frames;  ///< "ID: data"; all of the group's, in order
    std::uint8_t position = 80;
    std::uint8_t product = 15;
    std::string_view clock = "12:34:56";
    std::string_view vinStyle = "Variable";
    std::uint32_t serial = 0;
};

const std::vector<Worked> kWorked = {
    {"EEC1", GroupId::kEec1, {"0CF00400: FF FF C8 CC C8 FF FF FF"}},
    {"EEC2 with the truck group", GroupId::kEec2, {"0CF00300: FF C8 64 FF FF FF FF FF"}},
    {"EEC2 of a Basic: no engine load",
     GroupId::kEec2,
     {"0CF00300: FF C8 FF FF FF FF FF FF"},
     80,
     8},
    // PTO State bits 11111 as the model builds the cruise byte.
    {"CCVS1", GroupId::kCcvs1, {"18FEF100: F3 CC C8 1D FF FF 1F FF"}},
    {"TCO1", GroupId::kTco1, {"0CFE6CEE: 43 50 C0 00 FF FF CC C8"}},
    {"DD1", GroupId::kDd1, {"18FEFC17: FF C8 FF FF FF FF C7 FF"}},
    {"AT1T1I", GroupId::kAt1t1i, {"18FE5600: C8 FF FF FF FF FF FF FF"}},
    {"EBC1", GroupId::kEbc1, {"18F0010B: FF C8 FF FF FF FF FF FF"}},
    {"ERC1", GroupId::kErc1, {"18F00010: F0 C8 FF FF FF FF C8 FF"}},
    {"ET1", GroupId::kEt1, {"18FEEE00: C8 FF FF FF FF FF FF FF"}},
    {"AIR1", GroupId::kAir1, {"18FEAE30: FF FF C8 C8 FF FF FF FF"}},
    {"AMB", GroupId::kAmb, {"18FEF500: FF FF FF 20 3B FF FF FF"}},
    {"LFE1", GroupId::kLfe1, {"18FEF200: BE 11 86 4C FF FF FF FF"}},
    {"LFC1", GroupId::kLfc1, {"18FEE900: FF FF FF FF D0 07 00 00"}},
    {"GFC", GroupId::kGfc, {"1CFEAF00: FF FF FF FF D0 07 00 00"}},
    {"HRLFC", GroupId::kHrlfc, {"18FD0900: FF FF FF FF 40 42 0F 00"}},
    {"VDHR", GroupId::kVdhr, {"18FEC1EE: 80 1A 06 00 FF FF FF FF"}},
    {"HOURS", GroupId::kHours, {"18FEE500: 20 4E 00 00 FF FF FF FF"}},
    {"CVW", GroupId::kCvw, {"18FE700B: FF FF CC C8 FF FF FF FF"}},
    {"SERV", GroupId::kServ, {"18FEC017: FF CC C8 FF FF FF FF FF"}},
    {"VW, one frame per axle location",
     GroupId::kVw,
     {"18FEEA2F: 00 20 4E FF FF FF FF FF", "18FEEA2F: 01 2A 4E FF FF FF FF FF",
      "18FEEA2F: 10 34 4E FF FF FF FF FF", "18FEEA2F: 11 3E 4E FF FF FF FF FF",
      "18FEEA2F: 12 48 4E FF FF FF FF FF", "18FEEA2F: 13 52 4E FF FF FF FF FF",
      "18FEEA2F: 20 5C 4E FF FF FF FF FF", "18FEEA2F: 21 66 4E FF FF FF FF FF",
      "18FEEA2F: 22 70 4E FF FF FF FF FF", "18FEEA2F: 23 7A 4E FF FF FF FF FF"}},
    {"ASC4", GroupId::kAsc4, {"18FE582F: CC C8 CC C8 CC C8 CC C8"}},
    {"VEP4", GroupId::kVep4, {"18FCB7EF: CC C8 FF FF FF FF FF FF"}},
    {"VDC2", GroupId::kVdc2, {"18F0090B: CC C8 FF FF FF FF FF FF"}},
    {"ETC2", GroupId::kEtc2, {"18F00503: C8 FF FF C8 FF FF FF FF"}},
    {"AS", GroupId::kAs, {"18FED500: FF FF 55 FF FF FF FF FF"}},
    {"DC1", GroupId::kDc1, {"18FE4EEC: 02 FF FF FF FF FF FF FF"}},
    {"DC2", GroupId::kDc2, {"18FDA5EC: 55 55 55 55 55 55 55 F5"}},
    {"DC2 at p = 3", GroupId::kDc2, {"18FDA5EC: 55 55 55 55 55 55 55 F5"}, 3},
    {"PTODE", GroupId::kPtode, {"18FDA400: FF FF FF FF FF FF FC FF"}},
    {"EEC14", GroupId::kEec14, {"18FDC200: FF FF FF FF FF FF 04 FF"}},
    // The one displayed status in all 15 slots of every block, the reserved bits set.
    {"FMS1, every block",
     GroupId::kFms1,
     {"18FD7D17: 80 88 88 88 88 88 88 88", "18FD7D17: 81 88 88 88 88 88 88 88",
      "18FD7D17: 82 88 88 88 88 88 88 88", "18FD7D17: 83 88 88 88 88 88 88 88",
      "18FD7D17: 84 88 88 88 88 88 88 88"}},
    {"FMS1 at p = 1 (condition red)",
     GroupId::kFms1,
     {"18FD7D17: 90 99 99 99 99 99 99 99", "18FD7D17: 91 99 99 99 99 99 99 99",
      "18FD7D17: 92 99 99 99 99 99 99 99", "18FD7D17: 93 99 99 99 99 99 99 99",
      "18FD7D17: 94 99 99 99 99 99 99 99"},
     1},
    {"FMS of a Duo Plus", GroupId::kFms, {"1CFDD127: F0 30 34 30 34 FF FF FF"}},
    {"FMS of a Truck: no version", GroupId::kFms, {"1CFDD127: F0 FF FF FF FF FF FF FF"}, 80, 10},
    {"TD at p = 10, 12:34:56", GroupId::kTd, {"18FEE6EE: E0 22 0C 02 10 19 FF FF"}, 10},
    {"TD before the clock is known",
     GroupId::kTd,
     {"18FEE6EE: FF FF FF 02 10 19 FF FF"},
     10,
     15,
     ""},
    {"VI as a broadcast",
     GroupId::kVi,
     {"1CECFF00: 20 12 00 03 FF EC FE 00", "1CEBFF00: 01 31 4D 38 47 44 4D 39",
      "1CEBFF00: 02 41 58 4B 50 30 34 32", "1CEBFF00: 03 37 38 38 2A FF FF FF"},
     80,
     15,
     "12:34:56",
     "Fixed",
     42788},
    // A variable VIN is short over the first positions: one frame, padded with 0xFF.
    {"VI of 8 characters", GroupId::kVi, {"18FEEC00: 50 30 34 32 30 30 37 2A"}, 7},
    {"VI of 1 character", GroupId::kVi, {"18FEEC00: 2A FF FF FF FF FF FF FF"}, 0},
    {"DI, both drivers",
     GroupId::kDi,
     {"1CECFFEE: 20 28 00 06 FF 6B FE 00", "1CEBFFEE: 01 44 45 5F 34 30 38 34",
      "1CEBFFEE: 02 38 35 32 33 37 30 39", "1CEBFFEE: 03 39 32 30 30 30 2A 46",
      "1CEBFFEE: 04 52 5F 35 33 32 34 33", "1CEBFFEE: 05 32 39 39 32 31 35 34",
      "1CEBFFEE: 06 36 30 30 30 2A FF FF"}},
    {"DI, driver 1 only",
     GroupId::kDi,
     {"1CECFFEE: 20 15 00 03 FF 6B FE 00", "1CEBFFEE: 01 44 45 5F 34 30 38 34",
      "1CEBFFEE: 02 38 35 32 33 37 30 39", "1CEBFFEE: 03 39 32 30 30 30 2A 2A"},
     1},
    {"DI, driver 2 only",
     GroupId::kDi,
     {"1CECFFEE: 20 15 00 03 FF 6B FE 00", "1CEBFFEE: 01 2A 46 52 5F 35 33 32",
      "1CEBFFEE: 02 34 33 32 39 39 32 31", "1CEBFFEE: 03 35 34 36 30 30 30 2A"},
     2},
    {"DI, no driver: one frame, padded", GroupId::kDi, {"18FE6BEE: 2A 2A FF FF FF FF FF FF"}, 0},
};

TEST(FmsWorkedFrames, EncoderSendsTheWorkedFramesByteForByte) {
    for (const Worked& w : kWorked) {
        SCOPED_TRACE(std::string(w.what));
        const Device device(w.position, w.product, w.clock, w.vinStyle, w.serial);
        EncodedFrames encoded;
        encode(device.state, encoded);
        const auto set = std::find_if(encoded.groups.begin(), encoded.groups.end(),
                                      [&](const GroupFrames& g) { return g.group == w.group; });
        ASSERT_NE(set, encoded.groups.end());
        std::vector<std::string> expected;
        for (const auto text : w.frames) expected.push_back(describe(test::frame(text)));
        EXPECT_EQ(describe(encoded.framesOf(*set)), expected);
    }
}

// Which groups each kind of model sends: the truck group only with it, the bus group only with it.
TEST(FmsWorkedFrames, ModelsSendOnlyTheGroupsTheyCarry) {
    const std::vector<GroupId> truckOnly{GroupId::kCvw, GroupId::kServ, GroupId::kVw,
                                         GroupId::kPtode};
    const std::vector<GroupId> busOnly{GroupId::kAsc4, GroupId::kVep4, GroupId::kVdc2,
                                       GroupId::kEtc2, GroupId::kTd,   GroupId::kAs,
                                       GroupId::kDc1,  GroupId::kDc2};
    struct Case {
        std::uint8_t product;
        bool truck;
        bool bus;
    };
    for (const Case c : {Case{8, false, false}, Case{9, false, false}, Case{10, true, false},
                         Case{11, true, false}, Case{12, false, true}, Case{13, false, true},
                         Case{14, true, true}, Case{15, true, true}, Case{0, true, true}}) {
        SCOPED_TRACE(c.product);
        const Device device(50, c.product);
        EncodedFrames encoded;
        encode(device.state, encoded);
        const auto sends = [&](GroupId g) {
            return std::any_of(encoded.groups.begin(), encoded.groups.end(),
                               [g](const GroupFrames& s) { return s.group == g; });
        };
        for (const GroupId g : truckOnly) EXPECT_EQ(sends(g), c.truck) << kGroups[indexOf(g)].name;
        for (const GroupId g : busOnly) EXPECT_EQ(sends(g), c.bus) << kGroups[indexOf(g)].name;
        EXPECT_EQ(encoded.groups.size(),
                  kGroupCount - (c.truck ? 0 : truckOnly.size()) - (c.bus ? 0 : busOnly.size()));
    }
}

// One second of traffic: each group as often as its period says, broadcast packets 50 ms apart
// after their announcement.
TEST(FmsWorkedFrames, ScheduleSendsEachGroupAtItsPeriodAndSpacesBroadcastPackets) {
    const Device device(80);
    EncodedFrames encoded;
    encode(device.state, encoded);
    const std::vector<TimedFrame> second = schedule(encoded, 5000, 1000);
    ASSERT_TRUE(std::is_sorted(
        second.begin(), second.end(),
        [](const TimedFrame& a, const TimedFrame& b) { return a.timeMs < b.timeMs; }));
    const auto count = [&](std::uint32_t id) {
        return std::count_if(second.begin(), second.end(),
                             [id](const TimedFrame& t) { return t.frame.id == id; });
    };
    EXPECT_EQ(count(0x0CF00400), 50);  // EEC1, 20 ms
    EXPECT_EQ(count(0x18FEF100), 10);  // CCVS1, 100 ms
    EXPECT_EQ(count(0x18FEEA2F), 10);  // VW: ten locations once
    EXPECT_EQ(count(0x1CECFF00), 1);   // VI announced once
    std::vector<std::uint64_t> diTimes;
    for (const TimedFrame& t : second) {
        if (sourceAddressOf(t.frame.id) == 0xEE && pgnOf(t.frame.id) >= kTpDtPgn &&
            pgnOf(t.frame.id) <= kTpCmPgn) {
            diTimes.push_back(t.timeMs);
        }
    }
    EXPECT_EQ(diTimes, (std::vector<std::uint64_t>{5000, 5050, 5100, 5150, 5200, 5250, 5300}));
    // Each group once, all at the start.
    const std::vector<TimedFrame> once = schedule(encoded, 0, 0);
    EXPECT_EQ(once.size(), encoded.frames.size());
}

}  // namespace
}  // namespace orvale::fms
