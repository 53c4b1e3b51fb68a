#include <gtest/gtest.h>

#include <vector>

#include "plot/axes.h"
#include "plot/series_catalogue.h"

namespace orvale::plot {
namespace {

TEST(PlotAxes, TicksAreRoundNumbersWithinTheRange) {
    const struct {
        double low, high;
        int maxTicks;
        std::vector<double> ticks;
        int decimals;
    } cases[] = {
        {0, 100, 6, {0, 20, 40, 60, 80, 100}, 0},
        {0, 100, 11, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 0},
        {0.31, 0.72, 5, {0.4, 0.5, 0.6, 0.7}, 1},
        {-3, 7, 3, {0, 5}, 0},
        {1180, 1240, 4, {1180, 1200, 1220, 1240}, 0},
        {0.001, 0.004, 4, {0.001, 0.002, 0.003, 0.004}, 3},
        {-2.5e6, 2.5e6, 6, {-2e6, -1e6, 0, 1e6, 2e6}, 0},
    };
    for (const auto& c : cases) {
        const Ticks ticks = niceTicks(c.low, c.high, c.maxTicks);
        std::vector<double> values;
        for (int i = 0; i < ticks.count; ++i) values.push_back(ticks.value(i));
        ASSERT_EQ(values.size(), c.ticks.size()) << c.low << " to " << c.high;
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_NEAR(values[i], c.ticks[i], 1e-9 * std::max(1.0, std::abs(c.ticks[i])))
                << c.low << " to " << c.high;
        }
        EXPECT_EQ(ticks.decimals, c.decimals) << c.low << " to " << c.high;
        EXPECT_LE(ticks.count, c.maxTicks);
    }
}

TEST(PlotAxes, RangesLeaveRoomAroundTheCurvesAndAFlatSeriesGetsSome) {
    const struct {
        double low, high;
        double wantLow, wantHigh;
    } cases[] = {
        {0, 100, -5, 105},
        {1180, 1240, 1177, 1243},
        {0, 0, -1, 1},                     // flat at zero
        {40'000, 40'000, 36'000, 44'000},  // flat and large: +-10 %
        {-5.5, -5.5, -6.5, -4.5},
    };
    for (const auto& c : cases) {
        const AxisRange range = axisRange(c.low, c.high);
        EXPECT_DOUBLE_EQ(range.low, c.wantLow) << c.low << " to " << c.high;
        EXPECT_DOUBLE_EQ(range.high, c.wantHigh) << c.low << " to " << c.high;
    }
}

TEST(PlotAxes, TimeStepsAreClockSteps) {
    const struct {
        double span;
        int maxTicks;
        double step;
    } cases[] = {
        {10'000, 10, 1'000},         {60'000, 8, 10'000},     {60'000, 5, 15'000},
        {3'600'000, 8, 600'000},     {3'600'000, 4, 900'000}, {800, 8, 100},
        {86'400'000, 6, 14'400'000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(niceTimeStep(c.span, c.maxTicks), c.step) << c.span << " / " << c.maxTicks;
    }
}

TEST(PlotAxes, OneAxisPerUnitUpToThreeThenNormalised) {
    const auto series = [](std::initializer_list<model::ControlId> ids) {
        std::vector<std::size_t> out;
        for (const auto id : ids) out.push_back(*seriesOf(id));
        return out;
    };
    namespace c = model::control;
    const struct {
        const char* name;
        std::vector<std::size_t> series;
        bool normalised;
        std::vector<std::string> units;
        std::vector<std::size_t> axisOf;
    } cases[] = {
        {"one series", series({c::kEngineSpeed}), false, {"rpm"}, {0}},
        {"two speeds share km/hr",
         series({c::kWheelBasedSpeed, c::kTachographVehicleSpeed}),
         false,
         {"km/hr"},
         {0, 0}},
        {"speed, rpm and an LED",
         series({c::kWheelBasedSpeed, c::kEngineSpeed, c::kBrakeLed, c::kTachographVehicleSpeed}),
         false,
         {"km/hr", "rpm", ""},
         {0, 1, 2, 0}},
        {"LEDs share their axis", series({c::kBrakeLed, c::kClutchLed}), false, {""}, {0, 0}},
        {"four units are normalised",
         series({c::kWheelBasedSpeed, c::kEngineSpeed, c::kFuelLevel1, c::kFuelRate}),
         true,
         {"% of range"},
         {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const AxisPlan plan = planAxes(c.series);
        EXPECT_EQ(plan.normalised, c.normalised) << c.name;
        EXPECT_EQ(plan.units, c.units) << c.name;
        EXPECT_EQ(plan.axisOf, c.axisOf) << c.name;
    }
}

}  // namespace
}  // namespace orvale::plot
