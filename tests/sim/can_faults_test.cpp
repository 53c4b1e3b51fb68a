#include "sim/can_faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fms/bit_field.h"
#include "fms/decoder.h"
#include "fms/fields.h"
#include "fms/fms_test_support.h"
#include "sim/device_bus.h"

namespace orvale::sim {
namespace {

namespace control = model::control;

BusInputs duoPlusAt(std::uint8_t position, CanFaults faults = {}) {
    BusInputs in;
    in.position = position;
    in.productId = 15;
    in.serialNumber = 271828;
    in.vinStyle = '0';
    in.clockText = "12:34:56";
    in.faults = faults;
    return in;
}

fms::EncodedFrames framesOf(const BusInputs& in) {
    fms::EncodedFrames out;
    encodeBusFrames(in, out);
    return out;
}

std::unique_ptr<fms::Decoder> decoded(const fms::EncodedFrames& frames) {
    auto decoder = std::make_unique<fms::Decoder>();
    for (const fms::CanFrame& f : frames.frames) decoder->onFrame(f, 0);
    // A broadcast that lost its last packet is given up when the next one is overdue.
    decoder->expire(fms::kBamTimeoutMs + 1);
    return decoder;
}

// J1939's plain values, written out on their own: states below "error", bytes up to 0xFA.
bool isPlain(std::uint32_t raw, std::uint8_t length) {
    if (length == 2) return raw < 2;
    if (length < 8) return raw < (1U << length) - 2U;
    if (length == 8) return raw <= 0xFA;
    if (length == 16) return raw <= 0xFAFF;
    return raw <= 0xFAFFFFFFU;
}

std::vector<fms::CanFrame> framesWithPgn(const fms::EncodedFrames& frames, std::uint32_t pgn) {
    std::vector<fms::CanFrame> out;
    std::copy_if(frames.frames.begin(), frames.frames.end(), std::back_inserter(out),
                 [pgn](const fms::CanFrame& f) { return fms::pgnOf(f.id) == pgn; });
    return out;
}

TEST(CanFaults, AWrongDisplayCarriesAnotherPlainValueAndNothingElseChanges) {
    const model::ControlId displays[] = {
        control::kEngineSpeed,        control::kParkingLed,   control::kDriver1WorkingState,
        control::kTellTaleId2,        control::kAxleWeight12, control::kDoorsLockStatus,
        control::kSwVersionSupported, control::kDateTime,     control::kVehicleIdentificationNumber,
        control::kDriver1Id,          control::kDriver2Id,
    };
    for (const std::uint8_t position : {std::uint8_t{0}, std::uint8_t{2}, std::uint8_t{64}}) {
        const auto clean = decoded(framesOf(duoPlusAt(position)));
        for (const model::ControlId display : displays) {
            SCOPED_TRACE("position " + std::to_string(position) + ", display " +
                         std::to_string(display));
            CanFaults faults;
            faults.wrongDisplay = display;
            const fms::EncodedFrames faulty = framesOf(duoPlusAt(position, faults));
            const auto wrong = decoded(faulty);
            EXPECT_EQ(wrong->counters().bamDropped, 0U);
            for (std::size_t i = 0; i < fms::kFields.size(); ++i) {
                const fms::Field& f = fms::kFields[i];
                if (!fms::isSent(i, 15)) continue;
                ASSERT_TRUE(wrong->value(i).received) << "row " << i;
                const bool texty =
                    f.kind == fms::FieldKind::kText || f.kind == fms::FieldKind::kVersion;
                if (f.display != display) {
                    EXPECT_EQ(wrong->value(i).raw, clean->value(i).raw) << "row " << i;
                    EXPECT_EQ(wrong->text(i), clean->text(i)) << "row " << i;
                    continue;
                }
                if (texty) {
                    ASSERT_TRUE(wrong->text(i)) << "row " << i;
                    EXPECT_NE(wrong->text(i), clean->text(i)) << "row " << i;
                    continue;
                }
                EXPECT_NE(wrong->value(i).raw, clean->value(i).raw) << "row " << i;
                EXPECT_TRUE(isPlain(wrong->value(i).raw, f.bits.length)) << "row " << i;
                // Every copy of a repeated field carries it, so that no reader sees two values.
                const fms::Group& group = fms::kGroups[fms::indexOf(f.group)];
                for (const fms::CanFrame& frame : framesWithPgn(faulty, group.pgn)) {
                    const std::uint64_t word = fms::toWord(frame.data);
                    if (group.layout == fms::Layout::kSelector &&
                        fms::unpack(word, {group.selectorStart, group.selectorLength}) !=
                            f.selector) {
                        continue;
                    }
                    for (std::uint8_t c = 0; c < f.copies; ++c) {
                        const fms::BitField copy{
                            static_cast<std::uint8_t>(f.bits.start + c * f.stride), f.bits.length};
                        EXPECT_EQ(fms::unpack(word, copy), wrong->value(i).raw) << "copy " << +c;
                    }
                }
            }
        }
    }
}

TEST(CanFaults, ASilencedGroupIsNotSentAndTheOthersAreUntouched) {
    const fms::EncodedFrames clean = framesOf(duoPlusAt(64));
    for (const fms::GroupId group :
         {fms::GroupId::kEec1, fms::GroupId::kVw, fms::GroupId::kFms1, fms::GroupId::kVi}) {
        SCOPED_TRACE(std::string(fms::kGroups[fms::indexOf(group)].name));
        CanFaults faults;
        faults.silencedGroup = group;
        const fms::EncodedFrames faulty = framesOf(duoPlusAt(64, faults));
        ASSERT_EQ(faulty.groups.size() + 1, clean.groups.size());
        for (const fms::GroupFrames& g : faulty.groups) {
            EXPECT_NE(g.group, group);
            const auto before = std::find_if(clean.groups.begin(), clean.groups.end(),
                                             [&](const auto& c) { return c.group == g.group; });
            ASSERT_NE(before, clean.groups.end());
            EXPECT_EQ(fms::test::describe(faulty.framesOf(g)),
                      fms::test::describe(clean.framesOf(*before)));
            EXPECT_EQ(g.periodMs, before->periodMs);
            EXPECT_EQ(g.spacingMs, before->spacingMs);
        }
    }
}

TEST(CanFaults, ADroppedPacketLeavesItsBroadcastIncomplete) {
    struct Case {
        fms::GroupId group;
        std::uint8_t position;  // DI: 6 packets from 3 on; VI: 3 packets from 8 on
        std::uint8_t packet;
        bool dropsOne;
    };
    const Case cases[] = {
        {fms::GroupId::kDi, 5, 1, true},
        {fms::GroupId::kDi, 5, 3, true},
        {fms::GroupId::kDi, 5, 6, true},
        {fms::GroupId::kDi, 5, 7, false},
        {fms::GroupId::kVi, 64, 2, true},
        // A VIN short enough for one frame has no packets to lose.
        {fms::GroupId::kVi, 2, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(fms::kGroups[fms::indexOf(c.group)].name) + " packet " +
                     std::to_string(c.packet) + " at " + std::to_string(c.position));
        CanFaults faults;
        faults.droppedPacket = DroppedPacket{c.group, c.packet};
        const fms::EncodedFrames clean = framesOf(duoPlusAt(c.position));
        const fms::EncodedFrames faulty = framesOf(duoPlusAt(c.position, faults));
        EXPECT_EQ(faulty.frames.size() + (c.dropsOne ? 1 : 0), clean.frames.size());
        const auto decoder = decoded(faulty);
        EXPECT_EQ(decoder->counters().bamDropped, c.dropsOne ? 1U : 0U);
        const std::size_t text = c.group == fms::GroupId::kVi
                                     ? fms::fieldIndex(control::kVehicleIdentificationNumber)
                                     : fms::fieldIndex(control::kDriver1Id);
        EXPECT_EQ(decoder->value(text).received, !c.dropsOne);
    }
}

TEST(CanFaults, OtherPlainValueAndOtherText) {
    struct Number {
        std::uint32_t raw;
        std::uint8_t length;
        std::uint32_t wrong;
    };
    const Number numbers[] = {
        {0, 2, 1},
        {1, 2, 0},
        {2, 2, 0},
        {3, 2, 0},
        {4, 3, 5},
        {5, 3, 4},
        {7, 3, 0},
        {12, 4, 13},
        {13, 4, 12},
        {14, 4, 0},
        {0xF9, 8, 0xF8},
        {0xFA, 8, 0xF9},
        {0xFB, 8, 0},
        {0xFAFE, 16, 0xFAFF},
        {0xFAFF, 16, 0xFAFE},
        {0xFFFF, 16, 0},
        {0xFAFFFFFF, 32, 0xFAFFFFFE},
        {0xFFFFFFFF, 32, 0},
    };
    for (const Number& n : numbers) {
        EXPECT_EQ(otherPlainValue(n.raw, n.length), n.wrong) << n.raw << " in " << +n.length;
    }
    const std::pair<std::string_view, std::string_view> texts[] = {
        {"1M8GDM9AXKP042788*", "1M8GDM9AXKP042789*"},
        {"DE_4084852370992009*", "DE_4084852370992000*"},
        {"*", "0*"},
        {"ABZ*", "ABA*"},
        {"az*", "aa*"},
        {"A_*", "A0*"},
    };
    for (const auto& [box, wrong] : texts) EXPECT_EQ(otherText(box), wrong) << box;
}

TEST(CanFaults, NamesOfDisplaysAndGroups) {
    const std::pair<std::string_view, std::optional<model::ControlId>> displays[] = {
        {"Engine speed", control::kEngineSpeed},
        {"ENGINE SPEED", control::kEngineSpeed},
        {"1022", control::kEngineSpeed},
        {"Parking", control::kParkingLed},
        {"Vehicle Identification number", control::kVehicleIdentificationNumber},
        {"yy/mm/dd/hr/min/sec", control::kDateTime},
        {"PTO State", std::nullopt},  // a display the device never sends
        {"Engine", std::nullopt},
        {"1022x", std::nullopt},
        {"1000", std::nullopt},  // the Product ID box is no parameter
        {"", std::nullopt},
    };
    for (const auto& [name, id] : displays) EXPECT_EQ(busDisplayOfName(name), id) << name;

    const std::pair<std::string_view, std::optional<fms::GroupId>> groups[] = {
        {"EEC1", fms::GroupId::kEec1},
        {"eec1", fms::GroupId::kEec1},
        {"61444", fms::GroupId::kEec1},
        {"0xF004", fms::GroupId::kEec1},
        {"0xfeec", fms::GroupId::kVi},
        {"DI", fms::GroupId::kDi},
        {"0xEC00", std::nullopt},
        {"TP", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, group] : groups) EXPECT_EQ(groupOfName(name), group) << name;
}

TEST(ExtraTraffic, KeepsItsRateFromOtherSendersAfterAStallToo) {
    std::set<std::uint8_t> deviceSources;
    std::set<std::uint32_t> devicePgns;
    for (std::size_t g = 0; g < fms::kGroupCount; ++g) {
        deviceSources.insert(fms::choice::kGroups[g].sourceAddress);
        devicePgns.insert(fms::kGroups[g].pgn);
    }
    ExtraTraffic extra;
    std::vector<fms::CanFrame> out;
    for (std::uint64_t t = 0; t <= 2000; t += 5) extra.due(4000, t, out);
    EXPECT_EQ(out.size(), 8000U);
    std::size_t ownPgns = 0;
    for (const fms::CanFrame& f : out) {
        EXPECT_EQ(deviceSources.count(fms::sourceAddressOf(f.id)), 0U);
        ownPgns += devicePgns.count(fms::pgnOf(f.id));
    }
    EXPECT_GT(ownPgns, 0U);
    EXPECT_LT(ownPgns, out.size());
    EXPECT_EQ(fms::sourceAddressOf(out.front().id), 0x42);

    // Ten seconds late: a tenth of a second's frames, not ten seconds'.
    out.clear();
    extra.due(4000, 12'000, out);
    EXPECT_EQ(out.size(), 400U);
    out.clear();
    extra.due(0, 12'100, out);
    extra.due(4000, 12'200, out);
    EXPECT_TRUE(out.empty()) << "a rate of 0 starts afresh";
}

}  // namespace
}  // namespace orvale::sim
