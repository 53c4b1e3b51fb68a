#include "bus/frame_schedule.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "fms/choices.h"
#include "fms/encoder.h"
#include "tests/fms/fms_test_support.h"

namespace orvale::bus {
namespace {

struct Sent {
    std::uint64_t dueMs;
    fms::CanFrame frame;
};

std::vector<Sent> runUntil(FrameSchedule& schedule, std::uint64_t fromMs, std::uint64_t toMs) {
    std::vector<Sent> sent;
    for (std::uint64_t t = fromMs; t <= toMs; ++t) {
        schedule.run(t, [&](const fms::CanFrame& frame, std::uint64_t due) {
            sent.push_back({due, frame});
        });
    }
    return sent;
}

fms::EncodedFrames encoded(std::uint8_t position, std::uint8_t product = 15) {
    const fms::test::Device device(position, product);
    fms::EncodedFrames frames;
    fms::encode(device.state, frames);
    return frames;
}

std::uint32_t pgn(const fms::CanFrame& f) { return fms::pgnOf(f.id); }

TEST(FrameSchedule, EveryGroupGoesOutAtItsPeriodFromTheStart) {
    const fms::EncodedFrames frames = encoded(80);
    FrameSchedule schedule;
    schedule.set(frames, 1000);
    const std::vector<Sent> sent = runUntil(schedule, 1000, 1000 + 10'000 - 1);

    // Per group: how often its first frame went out and when.
    std::map<std::uint32_t, std::vector<std::uint64_t>> starts;
    for (const fms::GroupFrames& g : frames.groups) {
        const fms::CanFrame& first = frames.framesOf(g)[0];
        for (const Sent& s : sent) {
            if (s.frame == first) starts[static_cast<std::uint32_t>(g.group)].push_back(s.dueMs);
        }
        const auto& times = starts[static_cast<std::uint32_t>(g.group)];
        SCOPED_TRACE(fms::kGroups[fms::indexOf(g.group)].name);
        ASSERT_EQ(times.size(), 10'000 / g.periodMs);
        for (std::size_t i = 0; i < times.size(); ++i) {
            EXPECT_EQ(times[i], 1000 + i * g.periodMs);
        }
    }
    // Sent in the order they fell due.
    for (std::size_t i = 1; i < sent.size(); ++i) ASSERT_LE(sent[i - 1].dueMs, sent[i].dueMs);
}

TEST(FrameSchedule, ABroadcastUnderWayFinishesWithTheTextItBeganWith) {
    // Position 80 sends the whole VIN as a broadcast; 81 changes its characters.
    const fms::EncodedFrames before = encoded(80);
    const fms::EncodedFrames after = encoded(81);
    const auto vinFrames = [](const fms::EncodedFrames& e) {
        for (const fms::GroupFrames& g : e.groups) {
            if (g.group == fms::GroupId::kVi) {
                auto span = e.framesOf(g);
                return std::vector<fms::CanFrame>(span.begin(), span.end());
            }
        }
        return std::vector<fms::CanFrame>{};
    };
    const auto oldVin = vinFrames(before);
    const auto newVin = vinFrames(after);
    ASSERT_GT(oldVin.size(), 2U);
    ASSERT_NE(oldVin, newVin);

    FrameSchedule schedule;
    schedule.set(before, 0);
    std::vector<Sent> sent = runUntil(schedule, 0, 60);  // the announcement and packet 1 are out
    schedule.set(after, 60);
    const std::vector<Sent> rest = runUntil(schedule, 61, 10'000 + 500);
    sent.insert(sent.end(), rest.begin(), rest.end());

    std::vector<fms::CanFrame> vin;
    for (const Sent& s : sent) {
        const std::uint32_t p = pgn(s.frame);
        if ((p == fms::kTpCmPgn || p == fms::kTpDtPgn) &&
            fms::sourceAddressOf(s.frame.id) ==
                fms::choice::kGroups[fms::indexOf(fms::GroupId::kVi)].sourceAddress) {
            vin.push_back(s.frame);
        }
    }
    ASSERT_EQ(vin.size(), oldVin.size() + newVin.size());
    EXPECT_EQ(std::vector(vin.begin(), vin.begin() + static_cast<std::ptrdiff_t>(oldVin.size())),
              oldVin);
    EXPECT_EQ(std::vector(vin.begin() + static_cast<std::ptrdiff_t>(oldVin.size()), vin.end()),
              newVin);

    // Single-frame groups take the new frames at their next period.
    const fms::CanFrame oldEec1 = before.frames[before.groups[0].first];
    const fms::CanFrame newEec1 = after.frames[after.groups[0].first];
    ASSERT_NE(oldEec1, newEec1);
    for (const Sent& s : sent) {
        if (pgn(s.frame) != 0xF004) continue;
        EXPECT_EQ(s.frame, s.dueMs <= 60 ? oldEec1 : newEec1) << "at " << s.dueMs;
    }
}

TEST(FrameSchedule, AScheduleLeftBehindSkipsThePeriodsItMissed) {
    FrameSchedule schedule;
    schedule.set(encoded(40), 0);
    std::size_t eec1 = 0;
    schedule.run(0, [&](const fms::CanFrame& f, std::uint64_t) { eec1 += pgn(f) == 0xF004; });
    ASSERT_EQ(eec1, 1U);
    eec1 = 0;
    std::uint64_t lastDue = 0;
    schedule.run(5'000, [&](const fms::CanFrame& f, std::uint64_t due) {
        if (pgn(f) == 0xF004) {
            ++eec1;
            lastDue = due;
        }
    });
    EXPECT_EQ(eec1, 1U) << "a stalled schedule must not send a burst of old periods";
    EXPECT_EQ(lastDue, 5'000U);
    EXPECT_EQ(schedule.nextDue(), 5'020U);
}

TEST(FrameSchedule, GroupsLeftOutStopAndClearStopsAll) {
    FrameSchedule schedule;
    EXPECT_FALSE(schedule.nextDue());
    // A Duo sends the truck and the bus groups; a Basic neither.
    schedule.set(encoded(40, 15), 0);
    runUntil(schedule, 0, 100);
    schedule.set(encoded(40, 8), 101);
    bool doors = false;
    for (const Sent& s : runUntil(schedule, 101, 3000)) doors |= pgn(s.frame) == 0xFE4E;
    EXPECT_FALSE(doors);
    schedule.clear();
    EXPECT_FALSE(schedule.nextDue());
    EXPECT_TRUE(runUntil(schedule, 3001, 4000).empty());
}

}  // namespace
}  // namespace orvale::bus
