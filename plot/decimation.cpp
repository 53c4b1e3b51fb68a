#include "plot/decimation.h"

#include <algorithm>
#include <cmath>

namespace orvale::plot {

void decimate(const SeriesBuffer& series, TimeRange range, double dataEnd,
              std::span<ColumnExtent> out) {
    std::fill(out.begin(), out.end(), ColumnExtent{});
    const std::size_t columns = out.size();
    if (columns == 0 || !(range.to > range.from)) return;
    const double width = range.span() / static_cast<double>(columns);
    const double known = std::min(range.to, dataEnd);

    std::size_t next = series.upperBound(range.from);
    // The value held when the range starts, shown in the first column.
    bool holding = next > 0 && std::isfinite(series[next - 1].value);
    double held = holding ? series[next - 1].value : 0;
    const std::size_t size = series.size();

    for (std::size_t k = 0; k < columns; ++k) {
        const double start = range.from + static_cast<double>(k) * width;
        if (start >= known) break;
        const double stop = range.from + static_cast<double>(k + 1) * width;
        ColumnExtent& column = out[k];
        if (holding) column = {true, held, held, held, held};
        for (; next < size && static_cast<double>(series[next].time) < stop; ++next) {
            const double value = series[next].value;
            holding = std::isfinite(value);
            if (!holding) continue;
            held = value;
            if (!column.present) {
                column = {true, value, value, value, value};
                continue;
            }
            column.min = std::min(column.min, value);
            column.max = std::max(column.max, value);
            column.last = value;
        }
    }
}

std::vector<ColumnExtent> decimate(const SeriesBuffer& series, TimeRange range, double dataEnd,
                                   std::size_t columns) {
    std::vector<ColumnExtent> out(columns);
    decimate(series, range, dataEnd, out);
    return out;
}

std::optional<ValueExtent> extentOf(std::span<const ColumnExtent> columns) {
    std::optional<ValueExtent> extent;
    for (const ColumnExtent& column : columns) {
        if (!column.present) continue;
        if (!extent) {
            extent = ValueExtent{column.min, column.max};
        } else {
            extent->min = std::min(extent->min, column.min);
            extent->max = std::max(extent->max, column.max);
        }
    }
    return extent;
}

}  // namespace orvale::plot
