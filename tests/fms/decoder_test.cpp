// The decoder on sequences of frames given as data: broadcasts (BAM) whole, broken and
// interleaved, and frames too short for their fields.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fms/decoder.h"
#include "tests/fms/fms_test_support.h"

namespace orvale::fms {
namespace {

using namespace model::control;
using test::frame;

constexpr std::uint32_t kVi = 0xFEEC;
constexpr std::uint32_t kDi = 0xFE6B;
constexpr std::string_view kVinA = "1M8GDM9AXKP042788*";
constexpr std::string_view kVinB = "WDB9634031L123456*";

CanFrame announce(std::uint8_t sa, std::uint16_t size, std::uint8_t packets,
                  std::uint32_t pgn = kVi, std::uint8_t control = kBamControl,
                  std::uint8_t destination = kGlobalAddress, std::uint8_t priority = 7) {
    CanFrame f{makeId(priority, kTpCmPgn | destination, sa)};
    f.data = {control,
              static_cast<std::uint8_t>(size & 0xFF),
              static_cast<std::uint8_t>(size >> 8),
              packets,
              0xFF,
              static_cast<std::uint8_t>(pgn & 0xFF),
              static_cast<std::uint8_t>((pgn >> 8) & 0xFF),
              static_cast<std::uint8_t>(pgn >> 16)};
    return f;
}

CanFrame announce(std::uint8_t sa, std::string_view payload, std::uint32_t pgn = kVi) {
    return announce(sa, static_cast<std::uint16_t>(payload.size()),
                    static_cast<std::uint8_t>((payload.size() + 6) / 7), pgn);
}

// Packet `seq` (1-based) of `payload` from `sa`, the tail filled with 0xFF.
CanFrame packet(std::uint8_t sa, std::string_view payload, std::uint8_t seq, std::uint8_t dlc = 8,
                std::uint8_t destination = kGlobalAddress, std::uint8_t priority = 7) {
    CanFrame f{makeId(priority, kTpDtPgn | destination, sa), dlc};
    f.data[0] = seq;
    for (std::size_t i = 0; i < 7; ++i) {
        const std::size_t at = (seq - 1U) * 7U + i;
        if (at < payload.size()) f.data[i + 1] = static_cast<std::uint8_t>(payload[at]);
    }
    return f;
}

// A frame `gapMs` after the one before it.
struct Step {
    CanFrame frame;
    std::uint64_t gapMs = 50;
};

struct Counts {
    std::uint64_t announced = 0;
    std::uint64_t completed = 0;
    std::uint64_t dropped = 0;
    std::uint64_t shortFrames = 0;
    std::uint64_t unknownPgn = 0;
};

struct BamCase {
    std::string_view what;
    std::vector<Step> steps;
    std::optional<std::string_view> vin;  ///< the VIN box afterwards; nothing: none taken
    Counts counts;
    std::size_t active = 0;
};

std::vector<BamCase> bamCases() {
    const auto a = [](std::uint8_t seq, std::uint8_t dlc = 8) {
        return packet(0x00, kVinA, seq, dlc);
    };
    const auto b = [](std::uint8_t seq) { return packet(0xEE, kVinB, seq); };
    const CanFrame cmA = announce(0x00, kVinA);
    const CanFrame cmB = announce(0xEE, kVinB);
    constexpr std::string_view kNoDelimiter = "ABCDEFGHIJ";
    return {
        {"whole message", {{cmA}, {a(1)}, {a(2)}, {a(3)}}, kVinA, {1, 1, 0, 0, 0}},
        {"lost packet", {{cmA}, {a(1)}, {a(3)}}, std::nullopt, {1, 0, 1, 0, 0}},
        {"repeated packet", {{cmA}, {a(1)}, {a(1)}, {a(2)}, {a(3)}}, std::nullopt, {1, 0, 1, 0, 0}},
        {"packets out of order", {{cmA}, {a(2)}, {a(1)}, {a(3)}}, std::nullopt, {1, 0, 1, 0, 0}},
        {"sequence number 0", {{cmA}, {a(0)}}, std::nullopt, {1, 0, 1, 0, 0}},
        {"packet after the last",
         {{cmA}, {a(1)}, {a(2)}, {a(3)}, {a(3)}, {a(4)}},
         kVinA,
         {1, 1, 0, 0, 0}},
        {"packets without announcement", {{a(1)}, {a(2)}, {a(3)}}, std::nullopt, {}},
        {"new announcement in the middle restarts",
         {{cmA}, {a(1)}, {cmA}, {a(1)}, {a(2)}, {a(3)}},
         kVinA,
         {2, 1, 1, 0, 0}},
        {"new announcement in the middle, old packets go on",
         {{cmA}, {a(1)}, {a(2)}, {cmA}, {a(3)}},
         std::nullopt,
         {2, 0, 2, 0, 0}},
        {"announced packet count does not match the size",
         {{announce(0x00, 18, 4)}, {a(1)}, {a(2)}, {a(3)}},
         std::nullopt,
         {1, 0, 1, 0, 0}},
        {"announced size of 8 bytes",
         {{announce(0x00, 8, 2)}, {a(1)}, {a(2)}},
         std::nullopt,
         {1, 0, 1, 0, 0}},
        {"announced size of 0 bytes", {{announce(0x00, 0, 0)}}, std::nullopt, {1, 0, 1, 0, 0}},
        {"announcement shorter than 8 bytes",
         {{[&] {
             CanFrame f = cmA;
             f.dlc = 7;
             return f;
         }()}},
         std::nullopt,
         {0, 0, 0, 1, 0}},
        {"packet too short", {{cmA}, {a(1, 5)}, {a(2)}, {a(3)}}, std::nullopt, {1, 0, 1, 0, 0}},
        {"empty packet", {{cmA}, {a(1, 0)}}, std::nullopt, {1, 0, 1, 0, 0}},
        // The last packet has 4 bytes left: a DLC of 5 carries them all.
        {"last packet just long enough",
         {{cmA}, {a(1)}, {a(2)}, {a(3, 5)}},
         kVinA,
         {1, 1, 0, 0, 0}},
        {"last packet one byte short",
         {{cmA}, {a(1)}, {a(2)}, {a(3, 4)}},
         std::nullopt,
         {1, 0, 1, 0, 0}},
        {"gaps of 750 ms", {{cmA}, {a(1), 750}, {a(2), 750}, {a(3), 750}}, kVinA, {1, 1, 0, 0, 0}},
        {"gap of 751 ms", {{cmA}, {a(1)}, {a(2), 751}, {a(3)}}, std::nullopt, {1, 0, 1, 0, 0}},
        {"gap of 751 ms before the first packet",
         {{cmA}, {a(1), 751}},
         std::nullopt,
         {1, 0, 1, 0, 0}},
        {"interleaved senders",
         {{cmA}, {cmB}, {a(1)}, {b(1)}, {a(2)}, {b(2)}, {a(3)}, {b(3)}},
         kVinB,
         {2, 2, 0, 0, 0}},
        {"interleaved senders, one loses a packet",
         {{cmB}, {cmA}, {b(1)}, {a(1)}, {b(3)}, {a(2)}, {a(3)}},
         kVinA,
         {2, 1, 1, 0, 0}},
        {"interleaved, one unfinished",
         {{cmA}, {cmB}, {a(1)}, {b(1)}, {a(2)}, {a(3)}},
         kVinA,
         {2, 1, 0, 0, 0},
         1},
        {"broadcast at priority 6",
         {{announce(0x00, 18, 3, kVi, kBamControl, kGlobalAddress, 6)},
          {packet(0x00, kVinA, 1, 8, kGlobalAddress, 6)},
          {packet(0x00, kVinA, 2, 8, kGlobalAddress, 6)},
          {packet(0x00, kVinA, 3, 8, kGlobalAddress, 6)}},
         kVinA,
         {1, 1, 0, 0, 0}},
        // Connection-mode transfers run between two other nodes.
        {"request to send is not read",
         {{announce(0x00, 18, 3, kVi, 16, 0x17)}, {packet(0x00, kVinA, 1, 8, 0x17)}},
         std::nullopt,
         {0, 0, 0, 0, 2}},
        {"connection-mode packet inside a broadcast",
         {{cmA}, {a(1)}, {packet(0x00, kVinB, 2, 8, 0x17)}, {a(2)}, {a(3)}},
         kVinA,
         {1, 1, 0, 0, 1}},
        {"broadcast of a group not read",
         {{announce(0x00, kVinA, 0xFECA)}, {a(1)}, {a(2)}, {a(3)}},
         std::nullopt,
         {0, 0, 0, 0, 1}},
        {"broadcast of a single-frame group",
         {{announce(0x00, kVinA, 0xFEF1)}, {a(1)}, {a(2)}, {a(3)}},
         std::nullopt,
         {0, 0, 0, 0, 1}},
        {"text without its delimiter",
         {{announce(0x00, kNoDelimiter)},
          {packet(0x00, kNoDelimiter, 1)},
          {packet(0x00, kNoDelimiter, 2)}},
         std::nullopt,
         {1, 1, 0, 1, 0}},
    };
}

TEST(FmsBam, SequencesOfFrames) {
    const std::size_t vinRow = fieldIndex(kVehicleIdentificationNumber);
    for (const BamCase& c : bamCases()) {
        SCOPED_TRACE(std::string(c.what));
        Decoder decoder;
        std::uint64_t time = 10000;
        for (const Step& step : c.steps) {
            time += step.gapMs;
            decoder.onFrame(step.frame, time);
        }
        EXPECT_EQ(decoder.text(vinRow), c.vin);
        const DecoderCounters& got = decoder.counters();
        EXPECT_EQ(got.frames, c.steps.size());
        EXPECT_EQ(got.bamAnnounced, c.counts.announced);
        EXPECT_EQ(got.bamCompleted, c.counts.completed);
        EXPECT_EQ(got.bamDropped, c.counts.dropped);
        EXPECT_EQ(got.shortFrames, c.counts.shortFrames);
        EXPECT_EQ(got.unknownPgn, c.counts.unknownPgn);
        EXPECT_EQ(decoder.activeSessions(), c.active);
        EXPECT_EQ(got.bamAnnounced, got.bamCompleted + got.bamDropped + decoder.activeSessions());
    }
}

// A broken message never replaces a whole one taken before it.
TEST(FmsBam, BrokenMessageKeepsTheLastWholeText) {
    Decoder decoder;
    std::uint64_t t = 0;
    for (std::uint8_t seq = 0; seq <= 3; ++seq) {
        decoder.onFrame(seq == 0 ? announce(0x00, kVinA) : packet(0x00, kVinA, seq), t += 50);
    }
    decoder.onFrame(announce(0x00, kVinB), t += 50);
    decoder.onFrame(packet(0x00, kVinB, 1), t += 50);
    decoder.onFrame(packet(0x00, kVinB, 3), t += 50);
    EXPECT_EQ(decoder.text(fieldIndex(kVehicleIdentificationNumber)), kVinA);
}

TEST(FmsBam, DriverIdentificationCarriesBothDrivers) {
    constexpr std::string_view kBoth = "DE_4084852370992000*FR_5324329921546000*";
    Decoder decoder;
    std::uint64_t t = 0;
    decoder.onFrame(announce(0xEE, kBoth, kDi), t += 50);
    for (std::uint8_t seq = 1; seq <= 6; ++seq) decoder.onFrame(packet(0xEE, kBoth, seq), t += 50);
    EXPECT_EQ(decoder.text(fieldIndex(kDriver1Id)), "DE_4084852370992000*");
    EXPECT_EQ(decoder.text(fieldIndex(kDriver2Id)), "FR_5324329921546000*");
    // Both cards pulled: one short frame.
    decoder.onFrame(frame("18FE6BEE: 2A 2A FF FF FF FF FF FF"), t += 50);
    EXPECT_EQ(decoder.text(fieldIndex(kDriver1Id)), "*");
    EXPECT_EQ(decoder.text(fieldIndex(kDriver2Id)), "*");
}

// At most kMaxSessions senders at once; a silent one makes room when it has timed out.
TEST(FmsBam, SessionsAreCappedAndStaleOnesMakeRoom) {
    Decoder decoder;
    for (std::size_t sa = 0; sa < Decoder::kMaxSessions; ++sa) {
        decoder.onFrame(announce(static_cast<std::uint8_t>(sa), kVinA), 1000);
    }
    EXPECT_EQ(decoder.activeSessions(), Decoder::kMaxSessions);
    decoder.onFrame(announce(0xF0, kVinA), 1500);
    EXPECT_EQ(decoder.activeSessions(), Decoder::kMaxSessions);
    EXPECT_EQ(decoder.counters().bamDropped, 1U);
    // The refused sender's packets join nothing.
    decoder.onFrame(packet(0xF0, kVinA, 1), 1550);
    EXPECT_EQ(decoder.counters().bamDropped, 1U);

    // 751 ms after the 64 announcements they have all timed out.
    decoder.onFrame(announce(0xF1, kVinB), 1751);
    EXPECT_EQ(decoder.activeSessions(), 1U);
    EXPECT_EQ(decoder.counters().bamDropped, 1U + Decoder::kMaxSessions);
    for (std::uint8_t seq = 1; seq <= 3; ++seq) decoder.onFrame(packet(0xF1, kVinB, seq), 1800);
    EXPECT_EQ(decoder.text(fieldIndex(kVehicleIdentificationNumber)), kVinB);
}

TEST(FmsBam, ExpireDropsOnlyBroadcastsSilentForMoreThan750Ms) {
    Decoder decoder;
    decoder.onFrame(announce(0x00, kVinA), 1000);
    decoder.onFrame(announce(0xEE, kVinB), 1100);
    decoder.expire(1750);
    EXPECT_EQ(decoder.activeSessions(), 2U);
    decoder.expire(1751);
    EXPECT_EQ(decoder.activeSessions(), 1U);
    EXPECT_EQ(decoder.counters().bamDropped, 1U);
    decoder.expire(1851);
    EXPECT_EQ(decoder.activeSessions(), 0U);
    EXPECT_EQ(decoder.counters().bamDropped, 2U);
}

TEST(FmsDecoder, ResetForgetsEverythingAsANewDecoder) {
    Decoder decoder;
    decoder.onFrame(frame("0CF00400: FF FF C8 CC C8 FF FF FF"), 1);
    decoder.onFrame(frame("18FEEC00: 41 42 2A"), 2);
    decoder.onFrame(announce(0x00, kVinA), 3);
    decoder.onFrame(packet(0x00, kVinA, 1), 4);
    decoder.reset();
    const Decoder fresh;
    EXPECT_EQ(decoder.counters(), fresh.counters());
    EXPECT_EQ(decoder.activeSessions(), 0U);
    for (std::size_t row = 0; row < kFieldCount; ++row) {
        EXPECT_FALSE(decoder.value(row).received) << row;
        EXPECT_EQ(decoder.text(row), std::nullopt) << row;
    }
    // The broadcast in progress is gone: its remaining packets complete nothing.
    decoder.onFrame(packet(0x00, kVinA, 2), 5);
    decoder.onFrame(packet(0x00, kVinA, 3), 6);
    EXPECT_EQ(decoder.text(fieldIndex(kVehicleIdentificationNumber)), std::nullopt);
    EXPECT_EQ(decoder.counters().bamCompleted, 0U);
}

// Frames shorter than their fields: the fields they carry whole are taken, the frame is counted.
struct ShortCase {
    std::string_view what;
    CanFrame frame;
    std::vector<std::pair<std::size_t, std::optional<std::uint32_t>>> raws = {};  ///< nothing: none
    std::vector<std::pair<std::size_t, std::optional<std::string_view>>> texts = {};
    std::uint64_t shortFrames = 0;
    std::uint64_t unknownPgn = 0;
};

CanFrame withDlc(CanFrame f, std::uint8_t dlc) {
    f.dlc = dlc;
    return f;
}

TEST(FmsDecoder, FramesShorterThanTheirFields) {
    const auto row = [](model::ControlId id) { return fieldIndex(id); };
    CanFrame standard = frame("123: 01 02");
    standard.extended = false;
    const std::vector<ShortCase> cases = {
        {"EEC1 of 4 bytes: torque whole, speed cut",
         frame("0CF00400: FF FF C8 CC"),
         {{row(kActualEngineTorque), 0xC8}, {row(kEngineSpeed), std::nullopt}},
         {},
         1},
        {"EEC1 with DLC 15 reads 8 bytes",
         withDlc(frame("0CF00400: FF FF C8 CC C8 FF FF FF"), 15),
         {{row(kActualEngineTorque), 0xC8}, {row(kEngineSpeed), 0xC8CC}}},
        {"AS of 3 bytes carries all four alternators",
         frame("18FED500: FF FF 55"),
         {{row(kAlternatorStatus), 1}}},
        {"DC2 of 7 bytes lacks door 10",
         frame("18FDA5EC: 55 55 55 55 55 55 55"),
         {{row(kDoorsLockStatus), 1}, {row(kDoorsOpenStatus), 1}, {row(kDoorsEnableStatus), 1}},
         {},
         1},
        {"FMS1 of 1 byte: status 1 of block 2 only",
         frame("18FD7D17: 92"),
         {{row(kTellTaleId2), 1}, {row(kTellTaleId0), std::nullopt}},
         {},
         1},
        {"FMS1 block 5 is not shown",
         frame("18FD7D17: 85 88 88 88 88 88 88 88"),
         {{row(kTellTaleId0), std::nullopt}, {row(kTellTaleId4), std::nullopt}}},
        {"VW without its location",
         frame("18FEEA2F:"),
         {{row(kAxleWeight00), std::nullopt}},
         {},
         1},
        {"VW of a location not shown",
         frame("18FEEA2F: 30 20 4E FF FF FF FF FF"),
         {{row(kAxleWeight00), std::nullopt}, {row(kAxleWeight23), std::nullopt}}},
        {"VW of location 0x23",
         frame("18FEEA2F: 23 20 4E FF FF FF FF FF"),
         {{row(kAxleWeight23), 0x4E20}, {row(kAxleWeight22), std::nullopt}}},
        {"VI of 3 bytes",
         frame("18FEEC00: 41 42 2A"),
         {},
         {{row(kVehicleIdentificationNumber), "AB*"}}},
        {"VI without data",
         frame("18FEEC00:"),
         {},
         {{row(kVehicleIdentificationNumber), std::nullopt}},
         1},
        {"DI with driver 1 only",
         frame("18FE6BEE: 2A FF FF FF FF FF FF FF"),
         {},
         {{row(kDriver1Id), "*"}, {row(kDriver2Id), std::nullopt}},
         1},
        {"FMS with the version not available",
         frame("1CFDD127: F0 FF FF FF FF FF FF FF"),
         {{row(kDiagnosticsSupported), 0}, {row(kRequestsSupported), 0}},
         {{row(kSwVersionSupported), std::nullopt}}},
        {"FMS with a version",
         frame("1CFDD127: F0 30 34 30 30 FF FF FF"),
         {},
         {{row(kSwVersionSupported), "04.00"}}},
        {"standard frame", standard, {}, {}, 0, 1},
        {"group not read", frame("18FECA00: 00 FF 00 00 00 00 FF FF"), {}, {}, 0, 1},
    };
    for (const ShortCase& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        Decoder decoder;
        decoder.onFrame(c.frame, 5);
        for (const auto& [r, raw] : c.raws) {
            EXPECT_EQ(decoder.value(r).received, raw.has_value()) << r;
            if (raw) {
                EXPECT_EQ(decoder.value(r).raw, *raw) << r;
                EXPECT_EQ(decoder.value(r).timeMs, 5U) << r;
            }
        }
        for (const auto& [r, text] : c.texts) EXPECT_EQ(decoder.text(r), text) << r;
        EXPECT_EQ(decoder.counters().shortFrames, c.shortFrames);
        EXPECT_EQ(decoder.counters().unknownPgn, c.unknownPgn);
    }
}

}  // namespace
}  // namespace orvale::fms
