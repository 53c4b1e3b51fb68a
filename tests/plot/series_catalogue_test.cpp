#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plot/series_catalogue.h"

namespace orvale::plot {
namespace {

namespace c = model::control;

TEST(PlotSeriesCatalogue, NamesAreFoundAsUsersTypeThem) {
    const struct {
        const char* typed;
        std::optional<model::ControlId> id;
    } cases[] = {
        {"Engine speed", c::kEngineSpeed},
        {"engine SPEED", c::kEngineSpeed},
        {"  Engine speed (rpm) ", c::kEngineSpeed},
        {"Service brake air pressure #1", c::kServiceBrakeAirPressure1},
        {"Service brake air pressure 1 (kPa)", c::kServiceBrakeAirPressure1},
        {"Brake", c::kBrakeLed},
        {"Brake Pedal Position", c::kBrakePedalPosition},
        {"Ambient Air Temperature (\u00B0C)", c::kAmbientAirTemperature},
        {"Driver 1 Card", std::nullopt},  // a text box: nothing to plot
        {"Engine", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& t : cases) {
        const auto found = findSeries(t.typed);
        EXPECT_EQ(found ? std::optional(seriesInfo(*found).id) : std::nullopt, t.id) << t.typed;
    }
}

TEST(PlotSeriesCatalogue, ListsSplitOnCommasButKeepLabelsThatHoldOne) {
    const struct {
        const char* text;
        std::vector<model::ControlId> ids;
        std::string error;
    } cases[] = {
        {"Engine speed", {c::kEngineSpeed}, ""},
        {"Engine speed,Wheel based Speed", {c::kEngineSpeed, c::kWheelBasedSpeed}, ""},
        {"Retarder Selection, non-engine,Brake", {c::kRetarderSelection, c::kBrakeLed}, ""},
        {"Brake,Retarder Selection, non-engine (%)", {c::kBrakeLed, c::kRetarderSelection}, ""},
        {"Engine speed,engine speed", {c::kEngineSpeed}, ""},
        {"Engine speed,Warp drive", {}, "no parameter is called \"Warp drive\""},
        {"Engine speed,,Brake", {}, "an empty parameter name"},
    };
    for (const auto& t : cases) {
        const SeriesList list = parseSeriesList(t.text);
        std::vector<model::ControlId> ids;
        for (const std::size_t s : list.series) ids.push_back(seriesInfo(s).id);
        EXPECT_EQ(ids, t.ids) << t.text;
        EXPECT_TRUE(list.error.starts_with(t.error)) << t.text << ": " << list.error;
        EXPECT_EQ(list.error.empty(), t.error.empty()) << t.text;
    }
}

TEST(PlotSeriesCatalogue, ValuesReadAsTheDisplaysShowThem) {
    const struct {
        model::ControlId id;
        double value;
        const char* shown;
    } cases[] = {
        {c::kEngineSpeed, 1200, "1200.000 rpm"},
        {c::kFuelLevel1, 42.4, "42.4 %"},
        {c::kHrTotalVehicleDistance, 1234.6, "1235 m"},
        {c::kAmbientAirTemperature, -0.000001, "0.00000 \u00B0C"},
        {c::kClutchLed, 1, "on"},
        {c::kClutchLed, 0, "off"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(formatValue(*seriesOf(t.id), t.value), t.shown) << t.shown;
    }
    EXPECT_EQ(columnName(*seriesOf(c::kServiceBrakeAirPressure2)),
              "Service brake air pressure 2 (kPa)");
    EXPECT_EQ(kSeriesCount, 45u);
}

}  // namespace
}  // namespace orvale::plot
