#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvale::plot {

/// Tick values on an axis: first, first + step, ... up to last, each a multiple of step, which
/// is 1, 2 or 5 times a power of ten. `decimals` is what a label needs to tell them apart.
struct Ticks {
    double first = 0;
    double step = 1;
    int count = 0;
    int decimals = 0;

    [[nodiscard]] double value(int i) const { return first + step * i; }
};

/// Ticks within [low, high], at most `maxTicks` of them (at least 2 asked for).
[[nodiscard]] Ticks niceTicks(double low, double high, int maxTicks);

/// The range an axis shows for data between `low` and `high`: 5 % of room above and below, so
/// that no curve lies on the plot's frame (where a flat series at 0 or 100 % would vanish). A
/// flat series gets a range around its value (+-1, or +-10 % of it when it is large), never an
/// empty one.
struct AxisRange {
    double low = 0;
    double high = 1;
};
[[nodiscard]] AxisRange axisRange(double low, double high);

/// A step for time ticks over `spanMs` with at most `maxTicks` ticks: 1, 2 or 5 ms up to
/// 500 ms, then 1, 2, 5, 10, 15 and 30 s, 1, 2, 5, 10, 15 and 30 min, then whole hours.
[[nodiscard]] double niceTimeStep(double spanMs, int maxTicks);

/// The y axes for the visible series. The rule: series with the same units share an axis,
/// the LEDs share one of their own (off and on); with up to kMaxUnitAxes different units each
/// gets its axis (the first on the left, the second on the right, the third on the left again,
/// outside the first), so every curve reads in its own units. With more, axes side by side
/// would leave no room for the curves: each curve is then normalised to its own least and
/// greatest visible value (0 % to 100 %), on one axis, and the cursor readout gives the values
/// in their units.
inline constexpr std::size_t kMaxUnitAxes = 3;

struct AxisPlan {
    bool normalised = false;
    /// The units of each axis, in the order above; "" stands for the LEDs' axis.
    std::vector<std::string> units;
    /// For each visible series (in the order given), the axis it is drawn against.
    std::vector<std::size_t> axisOf;
};

/// `series` are series indices (see series_catalogue.h).
[[nodiscard]] AxisPlan planAxes(std::span<const std::size_t> series);

}  // namespace orvale::plot
