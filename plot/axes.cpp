#include "plot/axes.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "plot/series_catalogue.h"

namespace orvale::plot {
namespace {

// The smallest of 1, 2, 5 x 10^n not below `rough`.
double niceStep(double rough) {
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        // A hair of tolerance: 0.1 / 1 is not quite 0.1 in binary.
        if (factor * magnitude >= rough * (1 - 1e-9)) return factor * magnitude;
    }
    return 10 * magnitude;
}

int decimalsFor(double step) {
    if (step >= 1) return 0;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 15);
}

}  // namespace

Ticks niceTicks(double low, double high, int maxTicks) {
    maxTicks = std::max(maxTicks, 2);
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) {
        return {low, 1, std::isfinite(low) ? 1 : 0, 0};
    }
    double step = niceStep((high - low) / maxTicks);
    double first = std::ceil(low / step - 1e-9) * step;
    int count = static_cast<int>(std::floor((high - first) / step + 1e-9)) + 1;
    while (count > maxTicks) {
        step = niceStep(step * 1.01);
        first = std::ceil(low / step - 1e-9) * step;
        count = static_cast<int>(std::floor((high - first) / step + 1e-9)) + 1;
    }
    return {first, step, count, decimalsFor(step)};
}

AxisRange axisRange(double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high)) return {0, 1};
    if (high <= low) {
        const double pad = std::max(1.0, std::abs(low) * 0.1);
        return {low - pad, high + pad};
    }
    const double pad = (high - low) * 0.05;
    return {low - pad, high + pad};
}

double niceTimeStep(double spanMs, int maxTicks) {
    static constexpr std::array<double, 22> kSteps = {
        1,       2,       5,       10,      20,        50,       100,    200,
        500,     1'000,   2'000,   5'000,   10'000,    15'000,   30'000, 60'000,
        120'000, 300'000, 600'000, 900'000, 1'800'000, 3'600'000};
    const double rough = spanMs / std::max(maxTicks, 1);
    for (const double step : kSteps) {
        if (step >= rough) return step;
    }
    return std::ceil(rough / 3'600'000) * 3'600'000;
}

AxisPlan planAxes(std::span<const std::size_t> series) {
    AxisPlan plan;
    for (const std::size_t s : series) {
        const std::string units(seriesInfo(s).units);
        const auto at = std::find(plan.units.begin(), plan.units.end(), units);
        plan.axisOf.push_back(static_cast<std::size_t>(at - plan.units.begin()));
        if (at == plan.units.end()) plan.units.push_back(units);
    }
    if (plan.units.size() > kMaxUnitAxes) {
        plan.normalised = true;
        plan.units.assign(1, "% of range");
        std::fill(plan.axisOf.begin(), plan.axisOf.end(), 0);
    }
    return plan;
}

}  // namespace orvale::plot
