#include "profile/profile_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvale::profile {
namespace {

using link::Key;

Profile parsed(const std::string& text) {
    ProfileResult result = parseProfile(text, "drive.csv");
    EXPECT_TRUE(std::holds_alternative<Profile>(result));
    return std::get<Profile>(std::move(result));
}

const std::string kRamp = "time_s,position\n0,0\n10,100\n";

struct Sent {
    std::uint64_t atMs;
    int position;
    friend bool operator==(const Sent&, const Sent&) = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& s) {
    return out << s.position << "@" << s.atMs;
}

// The program around the player: a fake clock, a device that answers each position command
// after `answerAfterMs` (never when unset), and an event loop that ticks the player when it
// asks and after each answer.
class Bench : public ProfileTarget {
public:
    bool remoteControllable() const override { return controllable; }
    void sendPosition(int position) override {
        sent.push_back({now, position});
        log.push_back(std::to_string(now) + " position " + std::to_string(position));
        if (answerAfterMs) {
            answerAt = now + *answerAfterMs;
        }
    }
    void pressKey(Key key) override {
        log.push_back(std::to_string(now) + " key " + std::to_string(static_cast<int>(key)));
    }

    ProfilePlayer make(const std::string& text, PlayerOptions options = {}) {
        return ProfilePlayer(parsed(text), *this, options, [this](const Progress& p) {
            reports.push_back(p);
            if (onReport) onReport(p);
        });
    }
    // Runs the event loop until `untilMs`, or until the player needs no more ticks.
    void run(ProfilePlayer& player, std::uint64_t untilMs) {
        while (next || answerAt) {
            std::uint64_t at = std::min(next.value_or(UINT64_MAX), answerAt.value_or(UINT64_MAX));
            if (at > untilMs) {
                now = std::max(now, untilMs);
                return;
            }
            now = at;
            if (answerAt == at) {
                answerAt.reset();
                player.positionAcknowledged();
            }
            next = player.tick(now);
            if (next && *next <= now) {
                ADD_FAILURE() << "a tick at " << now << " asked for the next at " << *next;
                return;
            }
        }
    }
    void start(ProfilePlayer& player, std::uint64_t atMs) {
        now = atMs;
        next = player.start(now);
    }
    // A tick the event loop was late for, with the answer to the command out come meanwhile.
    void tickLate(ProfilePlayer& player, std::uint64_t atMs) {
        now = atMs;
        answerAt.reset();
        player.positionAcknowledged();
        next = player.tick(now);
    }

    bool controllable = true;
    std::optional<std::uint64_t> answerAfterMs = 0;
    std::uint64_t now = 0;
    std::optional<std::uint64_t> next;
    std::optional<std::uint64_t> answerAt;
    std::vector<Sent> sent;
    std::vector<std::string> log;
    std::vector<Progress> reports;
    std::function<void(const Progress&)> onReport;
};

TEST(ProfilePlayerTest, RampSendsTheCurrentWholePositionOneCommandAtATime) {
    struct Case {
        const char* name;
        std::string profile;
        std::optional<std::uint64_t> answerAfterMs;
        std::vector<Sent> sent;
        std::uint64_t missed;
        std::uint64_t finishedAtMs;
    };
    std::vector<Case> cases = {
        {"answered at once", kRamp, 0, {}, 0, 10000},
        {"answered after 250 ms: stale positions skipped", kRamp, 250, {}, 0, 10250},
        {"never answered: one command a second", kRamp, std::nullopt, {}, 11, 11000},
        // Truncated toward zero: 99.99 is already 99.
        {"down, answered at once", "time_s,position\n0,100\n10,0\n", 0, {}, 0, 10000},
    };
    for (int i = 0; i <= 100; ++i) {
        cases[0].sent.push_back({100U * static_cast<unsigned>(i), i});
        cases[3].sent.push_back({i == 0 ? 0U : 100U * static_cast<unsigned>(i) - 99, 100 - i});
    }
    for (int i = 0; i <= 40; ++i) {
        cases[1].sent.push_back({250U * static_cast<unsigned>(i), i * 5 / 2});
    }
    for (int i = 0; i <= 10; ++i) {
        cases[2].sent.push_back({1000U * static_cast<unsigned>(i), 10 * i});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.answerAfterMs = c.answerAfterMs;
        ProfilePlayer player = bench.make(c.profile);
        bench.start(player, 0);
        bench.run(player, 60000);
        EXPECT_EQ(bench.sent, c.sent);
        const Progress p = player.progress();
        EXPECT_EQ(p.state, PlayerState::Finished);
        EXPECT_EQ(p.positionCommands, c.sent.size());
        EXPECT_EQ(p.answersMissed, c.missed);
        ASSERT_FALSE(bench.reports.empty());
        EXPECT_EQ(bench.reports.back(), p);
        EXPECT_EQ(bench.next, std::nullopt);
        EXPECT_EQ(bench.now, c.finishedAtMs) << "the last tick asked for";
        std::vector<std::uint64_t> tenths;  // each once, at its time
        for (const Progress& r : bench.reports) {
            if (r.state == PlayerState::Playing) tenths.push_back(r.elapsedMs);
        }
        EXPECT_EQ(tenths, (std::vector<std::uint64_t>{1000, 2000, 3000, 4000, 5000, 6000, 7000,
                                                      8000, 9000}));
    }
}

TEST(ProfilePlayerTest, ProfileClockStandsStillWhileNotRemoteControllable) {
    struct Case {
        const char* name;
        std::uint64_t goneAtMs;  // set just after the tick at this time
        std::uint64_t backAtMs;
    };
    for (const Case c : {Case{"from the start", 0, 2000}, Case{"mid-drive", 3000, 8000}}) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ProfilePlayer player = bench.make(kRamp);
        bench.controllable = c.goneAtMs != 0;
        bench.start(player, 0);
        bench.run(player, c.goneAtMs);
        bench.controllable = false;
        bench.run(player, c.backAtMs - 1);
        EXPECT_EQ(player.progress().state, PlayerState::Waiting);
        EXPECT_EQ(player.progress().elapsedMs, c.goneAtMs);
        bench.controllable = true;
        bench.run(player, 60000);

        // Played time resumes where it stood, and the position goes afresh on the way back.
        std::vector<Sent> expected;
        for (unsigned t = 0; t <= 10000; t += 100) {
            if (c.goneAtMs != 0 && t <= c.goneAtMs) expected.push_back({t, int(t / 100)});
            if (t >= c.goneAtMs) expected.push_back({t + c.backAtMs - c.goneAtMs, int(t / 100)});
        }
        EXPECT_EQ(bench.sent, expected);
        std::vector<PlayerState> states;  // from waiting on, tenths left out
        for (const Progress& p : bench.reports) {
            if (p.state == PlayerState::Waiting || (!states.empty() && states.back() != p.state)) {
                states.push_back(p.state);
            }
        }
        EXPECT_EQ(states,
                  (std::vector{PlayerState::Waiting, PlayerState::Playing, PlayerState::Finished}));
    }
}

TEST(ProfilePlayerTest, KeysGoAtTheirTimesAfterTheirRowsPosition) {
    const std::string profile = "time_s,position,key\n0,0,dynamic\n2,0\n2.001,50,up\n4,50,down\n";
    struct Case {
        const char* name;
        std::vector<std::uint64_t> ticks;  // empty: as the player asks
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"ticked as asked",
         {},
         {"0 position 0", "0 key 82", "2001 position 50", "2001 key 2", "4000 key 1"}},
        {"ticked late: caught up in order",
         {5000},
         {"0 position 0", "0 key 82", "5000 position 50", "5000 key 2", "5000 key 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ProfilePlayer player = bench.make(profile);
        bench.start(player, 0);
        for (const std::uint64_t t : c.ticks) {
            bench.tickLate(player, t);
        }
        bench.run(player, 60000);
        EXPECT_EQ(bench.log, c.log);
        EXPECT_EQ(player.progress().keysPressed, 3U);
        EXPECT_EQ(player.progress().state, PlayerState::Finished);
    }
}

TEST(ProfilePlayerTest, LoopStartsOverAndPressesKeysAgain) {
    Bench bench;
    ProfilePlayer player = bench.make("time_s,position,key\n0,0,up\n1,10\n", {.loop = true});
    bench.start(player, 0);
    bench.run(player, 2500);
    std::vector<Sent> expected;
    for (unsigned t = 0; t <= 2500; t += 100) {
        expected.push_back({t, int(t % 1000 / 100)});
        if (t % 1000 == 0 && t > 0) expected.insert(expected.end() - 1, {t, 10});
    }
    EXPECT_EQ(bench.sent, expected);
    EXPECT_EQ(player.progress().loops, 2U);
    EXPECT_EQ(player.progress().keysPressed, 3U);
    EXPECT_EQ(player.progress().state, PlayerState::Playing);

    // Held up for three and a half loops: the missed ones are counted, not played.
    bench.tickLate(player, 6000);
    EXPECT_EQ(player.progress().loops, 6U);
    EXPECT_EQ(player.progress().keysPressed, 4U);
    EXPECT_EQ(player.progress().elapsedMs, 0U);
}

TEST(ProfilePlayerTest, StopEndsPlaybackAtOnceEvenFromItsOwnReport) {
    struct Case {
        const char* name;
        bool fromLoopReport;
        std::size_t sent;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"by the owner at 0.5 s", false, 6,
         "profile drive.csv: stopped at 50% (0.5 s of 1.0 s), 0 loops done: 6 position commands, "
         "0 answers missed, 1 key pressed"},
        {"from the report of the first loop's end", true, 11,
         "profile drive.csv: stopped at 100% (1.0 s of 1.0 s), 1 loop done: 11 position "
         "commands, 0 answers missed, 1 key pressed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ProfilePlayer player = bench.make("time_s,position,key\n0,0,up\n1,10\n", {.loop = true});
        if (c.fromLoopReport) {
            bench.onReport = [&player](const Progress& p) {
                if (p.loops == 1) player.stop();
            };
        }
        bench.start(player, 0);
        bench.run(player, c.fromLoopReport ? 60000 : 500);
        player.stop();
        bench.run(player, 60000);
        EXPECT_EQ(bench.sent.size(), c.sent);
        EXPECT_EQ(player.tick(5000), std::nullopt);
        EXPECT_EQ(bench.reports.back().state, PlayerState::Stopped);
        EXPECT_EQ(formatProgress("drive.csv", player.progress()), c.line);
    }
}

TEST(ProfilePlayerTest, TicksLateReportOnlyTheHighestTenthCrossed) {
    Bench bench;
    ProfilePlayer player = bench.make(kRamp);
    bench.start(player, 0);
    bench.tickLate(player, 3500);
    bench.tickLate(player, 10000);
    bench.tickLate(player, 10000);
    std::vector<std::uint64_t> reported;
    for (const Progress& p : bench.reports) reported.push_back(p.elapsedMs);
    EXPECT_EQ(reported, (std::vector<std::uint64_t>{3500, 10000, 10000}));
    EXPECT_EQ(bench.reports.back().state, PlayerState::Finished);
}

TEST(FormatProgressTest, LinesForStandardError) {
    const std::vector<std::pair<Progress, std::string>> cases = {
        {{PlayerState::Playing, 3050, 10000, false, 0, 31, 0, 0},
         "profile drive.csv: 30% (3.0 s of 10.0 s), 31 position commands, 0 answers missed"},
        {{PlayerState::Finished, 10000, 10000, false, 0, 101, 2, 0},
         "profile drive.csv: finished in 10.0 s: 101 position commands, 2 answers missed"},
        {{PlayerState::Waiting, 999, 1000, true, 1, 1, 1, 1},
         "profile drive.csv: waiting for remote control at 99% (0.9 s of 1.0 s), 1 loop done, 1 "
         "position command, 1 answer missed, 1 key pressed"},
    };
    for (const auto& [progress, line] : cases) {
        EXPECT_EQ(formatProgress("drive.csv", progress), line);
    }
}

}  // namespace
}  // namespace orvale::profile
