#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/control_ids.h"

/// The plot window's data and its logic: plain C++, tested and benchmarked without a screen.
namespace orvale::plot {

/// What can be plotted: the 41 numeric displays, then the 4 LEDs (as 0/1 steps). Series i is
/// model::kNumericDisplays[i] for i < 41 and model::kLeds[i - 41] after that.
inline constexpr std::size_t kSeriesCount = model::kNumericDisplayCount + model::kLedCount;
inline constexpr std::size_t kFirstLedSeries = model::kNumericDisplayCount;

/// One plottable display, as the main window shows it.
struct SeriesInfo {
    model::ControlId id = 0;
    std::string_view label;  ///< the display's label ("Service brake air pressure #1")
    std::string_view units;  ///< without its leading blank ("kPa"); empty for an LED
    model::DisplayGroup group = model::DisplayGroup::Common;
    int decimals = 0;  ///< the display's own decimals (the default resolved); 0 for an LED
    bool led = false;
};

[[nodiscard]] const SeriesInfo& seriesInfo(std::size_t series);
/// The series of display `id`; nothing for a text box or any other control.
[[nodiscard]] std::optional<std::size_t> seriesOf(model::ControlId id);

/// The series' column in a recording: its label with '#' left out, then its units in
/// parentheses ("Service brake air pressure 1 (kPa)"); an LED's label alone ("Brake").
[[nodiscard]] std::string columnName(std::size_t series);

/// The series a user names: its label or its column name, in any letter case, with or
/// without '#' and surrounding blanks ("engine speed", "Engine speed (rpm)").
[[nodiscard]] std::optional<std::size_t> findSeries(std::string_view name);

/// Series named in a comma-separated list ("Engine speed,Wheel based Speed"). Labels that hold
/// a comma themselves ("Retarder Selection, non-engine") are recognised whole: the longest run
/// of pieces that names a series wins. Each series is listed once, in the order first named.
struct SeriesList {
    std::vector<std::size_t> series;
    std::string error;  ///< empty, or "no parameter is called "...""
};
[[nodiscard]] SeriesList parseSeriesList(std::string_view text);

/// `value` as the display shows it, with its units: "1200.000 rpm", "on" or "off" for an LED.
[[nodiscard]] std::string formatValue(std::size_t series, double value);

}  // namespace orvale::plot
