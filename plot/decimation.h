#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "plot/series_buffer.h"

namespace orvale::plot {

/// A time range in milliseconds since the epoch; fractional when zoomed in below a millisecond
/// per pixel.
struct TimeRange {
    double from = 0;
    double to = 0;

    [[nodiscard]] double span() const { return to - from; }
    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

/// What a series shows within one pixel column: the least and the greatest value shown there,
/// the value the column starts with and the one it ends with (so that the line from one column
/// to the next is drawn where the values were). Absent where nothing is known: before the
/// series' first point, after the data's end, across a value that is not a number.
struct ColumnExtent {
    bool present = false;
    double min = 0;
    double max = 0;
    double first = 0;
    double last = 0;
};

/// The series over `range` reduced to `out.size()` pixel columns; column k covers
/// [from + k w, from + (k + 1) w) with w = range.span() / out.size(). Every value shown in a
/// column counts toward its min and max, the value held from before the column included, so a
/// spike of a single point is never lost and steps and flat lines come out exact. Nothing is
/// known after `dataEnd`. Linear in the points within the range plus the columns.
void decimate(const SeriesBuffer& series, TimeRange range, double dataEnd,
              std::span<ColumnExtent> out);

/// The same, into a vector of `columns` extents.
[[nodiscard]] std::vector<ColumnExtent> decimate(const SeriesBuffer& series, TimeRange range,
                                                 double dataEnd, std::size_t columns);

/// The least and greatest value over the present columns; nothing when none is present.
struct ValueExtent {
    double min = 0;
    double max = 0;
};
[[nodiscard]] std::optional<ValueExtent> extentOf(std::span<const ColumnExtent> columns);

}  // namespace orvale::plot
