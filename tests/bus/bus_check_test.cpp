// The bus check against frames the encoder makes: a device that sends what the window shows
// matches everywhere; every rule that makes a row differ is driven by changing what is sent, or
// what is shown, on a fake millisecond clock.

#include "bus/bus_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fms/choices.h"
#include "fms/encoder.h"
#include "model/display_format.h"
#include "tests/bus/bus_test_support.h"
#include "tests/fms/fms_test_support.h"

namespace orvale::bus {
namespace {

namespace c = model::control;
using test::feed;
using test::Shown;
using test::traffic;

bool notModelled(model::ControlId id, std::uint8_t product) {
    const model::DisplayGroup group = fms::displayGroupOf(id);
    return id == c::kPtoState ||
           (group == model::DisplayGroup::TruckOnly && !model::carriesTruckGroup(product)) ||
           (group == model::DisplayGroup::BusOnly && !model::carriesBusGroup(product));
}

TEST(BusCheck, EveryDisplayMatchesTheDeviceThatSendsIt) {
    for (std::uint8_t product = 8; product <= 15; ++product) {
        for (const int position : {0, 1, 2, 3, 7, 10, 30, 31, 41, 50, 51, 80, 99, 100}) {
            const auto p = static_cast<std::uint8_t>(position);
            SCOPED_TRACE(testing::Message() << "product " << +product << ", p = " << +p);
            const Shown shown(p, product);
            BusCheck check;
            check.expect(shown.expectation, shown.displays, 0);
            feed(check, traffic(shown.expectation, 0, 1000));
            check.refresh(1000);
            for (const BusRow& row : check.rows()) {
                SCOPED_TRACE(row.label);
                if (notModelled(row.id, product)) {
                    EXPECT_EQ(row.state, RowState::kNotModelled);
                    continue;
                }
                EXPECT_EQ(row.state, RowState::kMatch) << row.difference;
                EXPECT_FALSE(row.settling);
                // The bus value reads as the display shows it.
                if (row.expected.kind == DisplayValue::Kind::kNumber) {
                    const std::size_t field = fms::fieldIndex(row.id);
                    EXPECT_NEAR(row.observed.number, row.expected.number,
                                fms::kFields[field].resolution / 4);
                    const auto* entry =
                        &model::kNumericDisplays[model::indexOf(model::kNumericDisplays, row.id)];
                    const int decimals = entry->decimals < 0 ? 1 : entry->decimals;
                    EXPECT_EQ(row.observedText, model::formatFixed(row.expected.number, decimals) +
                                                    std::string(row.units));
                } else {
                    EXPECT_EQ(row.observed, row.expected);
                }
            }
            const BusSummary& s = check.summary();
            EXPECT_EQ(s.count(RowState::kMismatch) + s.count(RowState::kMissing), 0U);
            EXPECT_EQ(s.otherSenders + s.shortFrames + s.bamDropped, 0U);
            if (testing::Test::HasFailure()) return;
        }
    }
}

// What a case changes: what the device sends, what the window expects, and single frames.
struct RuleCase {
    const char* what;
    model::ControlId id;
    std::function<void(Expectation& sent, Expectation& expected, session::Displays& shown)> change;
    RowState state;
    std::string_view difference;
    std::function<void(fms::CanFrame&)> patch = nullptr;
};

double& number(session::Displays& d, model::ControlId id) {
    return d.numbers[model::indexOf(model::kNumericDisplays, id)];
}
std::string& text(session::Displays& d, model::ControlId id) {
    return d.texts[model::indexOf(model::kTextDisplays, id)];
}
void setClock(Expectation& e, std::uint8_t h, std::uint8_t m, std::uint8_t s) {
    e.clock = fms::ClockTime{h, m, s};
}

// Product 15 at p = 80: 6425.5 rpm, 200.797 km/hr, 160 °C, fuel type 0x04, gear 75, doors
// locked, "2185/09/25/12:34:56".
TEST(BusCheck, MatchingRules) {
    using E = Expectation;
    using D = session::Displays;
    const std::vector<RuleCase> cases{
        {"half a step off", c::kEngineSpeed,
         [](E&, E&, D& d) { number(d, c::kEngineSpeed) += 0.0625; }, RowState::kMatch, ""},
        {"over half a step off", c::kEngineSpeed,
         [](E&, E&, D& d) { number(d, c::kEngineSpeed) += 0.07; }, RowState::kMismatch,
         "-0.070 rpm"},
        {"the bus faster", c::kWheelBasedSpeed,
         [](E&, E&, D& d) { number(d, c::kWheelBasedSpeed) -= 12.5; }, RowState::kMismatch,
         "+12.500 km/hr"},
        {"whole degrees", c::kEngineCoolantTemperature,
         [](E&, E&, D& d) { number(d, c::kEngineCoolantTemperature) += 0.5; }, RowState::kMatch,
         ""},
        {"a state code", c::kDriver1Card, [](E& s, E&, D&) { s.raw.driver1Card = 0; },
         RowState::kMismatch, "bus 00, expected 01"},
        {"an LED", c::kCruiseLed, [](E& s, E&, D&) { s.raw.cruiseActive = false; },
         RowState::kMismatch, "bus 00, expected 01"},
        {"fuel type", c::kFuelType, [](E& s, E&, D&) { s.raw.fuelType = 5; }, RowState::kMismatch,
         "bus 0x05, expected 0x04"},
        {"retarder torque mode", c::kRetarderTorqueMode,
         [](E& s, E&, D&) { s.raw.retarderTorqueMode = 0xF3; }, RowState::kMismatch,
         "bus 0011, expected 0000"},
        {"gear", c::kSelectedGear, [](E&, E&, D&) {}, RowState::kMismatch, "bus 76, expected 75",
         [](fms::CanFrame& f) {
             if (fms::pgnOf(f.id) == 0xF005) f.data[0] = 201;  // selected gear only
         }},
        {"one door of ten", c::kDoorsLockStatus, [](E&, E&, D&) {}, RowState::kMismatch,
         "copy 5 of 10: bus 00, expected 01",
         [](fms::CanFrame& f) {
             if (fms::pgnOf(f.id) == 0xFDA5) f.data[3] &= 0xFC;  // door 5 lock: bits 24-25
         }},
        {"the VIN", c::kVehicleIdentificationNumber,
         [](E& s, E&, D&) { s.vin = "1M8GDM9AXKP042081*"; }, RowState::kMismatch,
         R"(bus "1M8GDM9AXKP042081*", expected "1M8GDM9AXKP042080*")"},
        {"a driver ID", c::kDriver2Id, [](E& s, E&, D&) { s.driver2Id = "*"; }, RowState::kMismatch,
         R"(bus "*", expected "FR_5324329921546000*")"},
        {"SW version", c::kSwVersionSupported, [](E& s, E&, D&) { s.swVersion = "04.00"; },
         RowState::kMismatch, R"(bus "04.00", expected "04.04")"},
        {"clock 2 s ahead", c::kDateTime, [](E& s, E&, D&) { setClock(s, 12, 34, 58); },
         RowState::kMatch, ""},
        {"clock 2 s behind", c::kDateTime, [](E& s, E&, D&) { setClock(s, 12, 34, 54); },
         RowState::kMatch, ""},
        {"clock 3 s ahead", c::kDateTime, [](E& s, E&, D&) { setClock(s, 12, 34, 59); },
         RowState::kMismatch, "bus 2185/09/25/12:34:59, expected 2185/09/25/12:34:56"},
        {"clock over midnight", c::kDateTime,
         [](E& s, E& e, D& d) {
             setClock(s, 0, 0, 1);
             setClock(e, 23, 59, 59);
             text(d, c::kDateTime) = "2185/09/25/23:59:59";
         },
         RowState::kMatch, ""},
        {"a quarter day", c::kDateTime, [](E& s, E&, D&) { s.raw.dateDay += 1; },
         RowState::kMismatch,
         "bus 2185/09/25/12:34:56, expected 2185/09/25/12:34:56; day in quarter days: bus 101, "
         "expected 100"},
        {"the date", c::kDateTime, [](E& s, E&, D&) { s.raw.dateDay += 4; }, RowState::kMismatch,
         "bus 2185/09/26/12:34:56, expected 2185/09/25/12:34:56"},
    };
    const Shown base(80);
    for (const RuleCase& rule : cases) {
        SCOPED_TRACE(rule.what);
        Expectation sent = base.expectation;
        Expectation expected = base.expectation;
        session::Displays displays = base.displays;
        rule.change(sent, expected, displays);
        std::vector<fms::TimedFrame> frames = traffic(sent, 0, 25000);
        if (rule.patch) {
            for (fms::TimedFrame& t : frames) rule.patch(t.frame);
        }
        BusCheck check;
        check.expect(expected, displays, 0);
        feed(check, frames);
        check.refresh(25000);
        const BusRow& row = *check.row(rule.id);
        EXPECT_EQ(row.state, rule.state);
        EXPECT_EQ(row.difference, rule.difference);
        // Nothing else differs.
        EXPECT_EQ(check.summary().count(RowState::kMismatch),
                  rule.state == RowState::kMismatch ? 1U : 0U);
        const BusMark mark = check.mark(rule.id);
        EXPECT_EQ(mark.disagrees, rule.state == RowState::kMismatch);
        EXPECT_EQ(mark.busText, row.observedText);
    }
}

// The device follows a new position within a period or so: no alarm until two periods have
// passed with the old value on the bus; the same row then matches as soon as the frames change.
TEST(BusCheck, ADifferenceCountsOnceItOutlastsTwoPeriods) {
    const Shown before(40);
    const Shown after(41);
    std::vector<fms::TimedFrame> frames = traffic(before.expectation, 0, 5000);
    const std::vector<fms::TimedFrame> caughtUp = traffic(after.expectation, 5000, 1000);
    frames.insert(frames.end(), caughtUp.begin(), caughtUp.end());
    auto next = frames.begin();
    BusCheck check;
    const auto runUntil = [&](std::uint64_t nowMs) {
        for (; next != frames.end() && next->timeMs <= nowMs; ++next) {
            check.onFrame(next->frame, next->timeMs);
        }
        check.refresh(nowMs);
    };
    check.expect(before.expectation, before.displays, 0);
    runUntil(2000);
    EXPECT_EQ(check.summary().count(RowState::kMatch), BusCheck::kRowCount - 1);
    check.expect(after.expectation, after.displays, 2000);

    struct Step {
        std::uint64_t atMs;
        model::ControlId id;
        RowState state;
        bool settling;
    };
    // Wheel based Speed goes out every 100 ms, Fuel Level 1 every second; the drivers' working
    // states are the same at 40 and 41.
    const std::vector<Step> steps{{2200, c::kWheelBasedSpeed, RowState::kMatch, true},
                                  {2201, c::kWheelBasedSpeed, RowState::kMismatch, false},
                                  {4000, c::kFuelLevel1, RowState::kMatch, true},
                                  {4001, c::kFuelLevel1, RowState::kMismatch, false},
                                  {4001, c::kDriver1WorkingState, RowState::kMatch, false}};
    for (const Step& step : steps) {
        runUntil(step.atMs);
        const BusRow& row = *check.row(step.id);
        EXPECT_EQ(row.state, step.state) << step.atMs << " " << row.label;
        EXPECT_EQ(row.settling, step.settling) << step.atMs << " " << row.label;
    }
    runUntil(6000);
    EXPECT_EQ(check.summary().count(RowState::kMismatch), 0U);
}

TEST(BusCheck, TheBusMayLeadTheWindowByAPositionBroadcast) {
    // The device takes a new position and sends its frames at once; the window hears of it at
    // the next position broadcast. Until then the bus leads: no alarm for 300 ms, then one.
    const Shown before(50);
    const Shown after(51);
    struct Step {
        std::uint64_t untilMs;
        bool settling;
        RowState state;
    };
    BusCheck check;
    check.expect(before.expectation, before.displays, 0);
    feed(check, traffic(before.expectation, 0, 2000));
    std::uint64_t fromMs = 2000;
    for (const Step& step : {Step{2100, true, RowState::kMatch}, Step{2250, true, RowState::kMatch},
                             Step{2400, false, RowState::kMismatch}}) {
        SCOPED_TRACE(step.untilMs);
        feed(check, traffic(after.expectation, fromMs, step.untilMs - fromMs));
        fromMs = step.untilMs;
        check.refresh(step.untilMs);
        const BusRow* speed = check.row(c::kEngineSpeed);  // EEC1, every 20 ms
        EXPECT_EQ(speed->state, step.state);
        EXPECT_EQ(speed->settling, step.settling);
    }
    // Had the window caught up within the lead, all would match.
    check.expect(after.expectation, after.displays, 2400);
    feed(check, traffic(after.expectation, 2400, 200));
    check.refresh(2600);
    EXPECT_EQ(check.row(c::kEngineSpeed)->state, RowState::kMatch);
}

TEST(BusCheck, ADisplayNoFrameCarriesForThreePeriodsIsMissing) {
    const Shown shown(80);
    struct Step {
        std::uint64_t atMs;
        model::ControlId id;
        RowState state;
    };
    // Frames from 0 to 1000 ms: CCVS1 last at 900 (period 100), DD1 and TD at 0 (1 s), the VI
    // broadcast's last packet at 150 (10 s).
    BusCheck check;
    check.expect(shown.expectation, shown.displays, 0);
    feed(check, traffic(shown.expectation, 0, 1000));
    for (const Step& step :
         std::vector<Step>{{1200, c::kWheelBasedSpeed, RowState::kMatch},
                           {1201, c::kWheelBasedSpeed, RowState::kMissing},
                           {3000, c::kFuelLevel1, RowState::kMatch},
                           {3001, c::kFuelLevel1, RowState::kMissing},
                           {3001, c::kDateTime, RowState::kMissing},
                           {30150, c::kVehicleIdentificationNumber, RowState::kMatch},
                           {30151, c::kVehicleIdentificationNumber, RowState::kMissing}}) {
        check.refresh(step.atMs);
        EXPECT_EQ(check.row(step.id)->state, step.state) << step.atMs << " " << step.id;
    }
    EXPECT_EQ(check.row(c::kWheelBasedSpeed)->ageMs, std::optional<std::uint64_t>(29251));

    // Frames from before the expectation began count from its beginning; a display never seen
    // waits three periods, held at match.
    BusCheck late;
    feed(late, traffic(shown.expectation, 0, 1000));
    late.expect(shown.expectation, shown.displays, 5000);
    late.refresh(5300);
    EXPECT_EQ(late.row(c::kWheelBasedSpeed)->state, RowState::kMatch);
    late.refresh(5301);
    EXPECT_EQ(late.row(c::kWheelBasedSpeed)->state, RowState::kMissing);
    BusCheck silent;
    silent.expect(shown.expectation, shown.displays, 1000);
    silent.refresh(1060);
    EXPECT_EQ(silent.row(c::kEngineSpeed)->state, RowState::kMatch);
    EXPECT_TRUE(silent.row(c::kEngineSpeed)->settling);
    silent.refresh(1061);
    EXPECT_EQ(silent.row(c::kEngineSpeed)->state, RowState::kMissing);
}

// Another node on the bus sends the same groups from its own addresses, a broadcast of other
// driver IDs, a standard frame and a group the check does not read: none of them changes a
// value, and all are counted apart.
TEST(BusCheck, FramesOfOtherSendersAreCountedApartAndChangeNothing) {
    const Shown device(80);
    Expectation other = device.expectation;
    other.raw = model::computeRawParameters(20, 15);
    other.driver1Id = "NL_1111111111111111*";
    std::vector<fms::TimedFrame> foreign = traffic(other, 1, 1000);
    for (fms::TimedFrame& t : foreign) t.frame.id ^= 0x01;  // another source address
    foreign.push_back({500, fms::CanFrame{0x123, 8, {}, false}});
    foreign.push_back({600, fms::CanFrame{fms::makeId(6, 0xFEE0, 0x00)}});  // a group not read

    BusCheck check;
    check.expect(device.expectation, device.displays, 0);
    std::vector<fms::TimedFrame> all = traffic(device.expectation, 0, 1000);
    const std::size_t own = all.size();
    all.insert(all.end(), foreign.begin(), foreign.end());
    std::stable_sort(all.begin(), all.end(),
                     [](const auto& a, const auto& b) { return a.timeMs < b.timeMs; });
    feed(check, all);
    check.refresh(1000);

    const BusSummary& s = check.summary();
    EXPECT_EQ(s.count(RowState::kMatch), BusCheck::kRowCount - 1);  // PTO State is not sent
    EXPECT_EQ(s.frames, all.size());
    EXPECT_EQ(s.otherSenders, all.size() - own);
    EXPECT_EQ(s.framesPerSecond, all.size());
    EXPECT_EQ(s.bamCompleted, 2U);  // the device's VI and DI
    EXPECT_EQ(s.bamDropped, 0U);
}

TEST(BusCheck, FramesPerSecondCountsTheLastWholeSecond) {
    BusCheck check;
    for (std::uint64_t t = 0; t < 1000; t += 10) check.onFrame(fms::CanFrame{0x123}, t);
    for (const auto& [atMs, perSecond] : std::vector<std::pair<std::uint64_t, std::uint32_t>>{
             {999, 90}, {1000, 100}, {1099, 100}, {1100, 90}, {2000, 0}}) {
        check.refresh(atMs);
        EXPECT_EQ(check.summary().framesPerSecond, perSecond) << atMs;
    }
}

TEST(BusCheck, WithoutADeviceNothingIsModelledButTheBusIsStillRead) {
    const Shown shown(80);
    BusCheck check;
    feed(check, traffic(shown.expectation, 0, 1000));
    check.refresh(1000);
    EXPECT_EQ(check.summary().count(RowState::kNotModelled), BusCheck::kRowCount);
    EXPECT_EQ(check.row(c::kEngineSpeed)->observedText, "6425.500 rpm");
    EXPECT_EQ(check.row(c::kEngineSpeed)->expected.kind, DisplayValue::Kind::kNone);

    check.expect(shown.expectation, shown.displays, 1000);
    check.refresh(1000);
    EXPECT_EQ(check.summary().count(RowState::kNotModelled), 1U);  // PTO State
    check.expect(std::nullopt, shown.displays, 1000);
    check.refresh(1000);
    EXPECT_EQ(check.summary().count(RowState::kNotModelled), BusCheck::kRowCount);
    EXPECT_EQ(check.row(1002), nullptr);  // Connect is no display
}

TEST(BusCheck, WorstFirstKeepsCatalogueOrderWithinAState) {
    // Driver 1 card and the Cruise LED differ; DD1 (both fuel levels) never comes.
    const Shown shown(80);
    Expectation sent = shown.expectation;
    sent.raw.driver1Card = 0;
    sent.raw.cruiseActive = false;
    std::vector<fms::TimedFrame> frames = traffic(sent, 0, 4000);
    std::erase_if(frames, [](const auto& t) { return fms::pgnOf(t.frame.id) == 0xFEFC; });
    BusCheck check;
    check.expect(shown.expectation, shown.displays, 0);
    feed(check, frames);
    check.refresh(4000);

    const auto& worst = check.worstFirst();
    std::vector<model::ControlId> head;
    for (std::size_t k = 0; k < 4; ++k) head.push_back(check.rows()[worst[k]].id);
    EXPECT_EQ(head, (std::vector<model::ControlId>{c::kCruiseLed, c::kDriver1Card, c::kFuelLevel1,
                                                   c::kFuelLevel2}));
    EXPECT_TRUE(std::is_sorted(worst.begin() + 4, worst.end() - 1));
    EXPECT_EQ(check.rows()[worst.back()].id, c::kPtoState);
    const BusSummary& s = check.summary();
    EXPECT_EQ(s.count(RowState::kMismatch), 2U);
    EXPECT_EQ(s.count(RowState::kMissing), 2U);
    EXPECT_EQ(s.count(RowState::kNotModelled), 1U);
}

}  // namespace
}  // namespace orvale::bus
