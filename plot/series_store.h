#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "plot/series_buffer.h"
#include "plot/series_catalogue.h"

namespace orvale::plot {

/// The history of every plottable display: one SeriesBuffer per series, and the time up to
/// which their values are known (the last report, or now while the displays still hold them).
///
/// Memory: at most kSeriesCount x capacity x 16 bytes; with the default capacity 45 x 576,000
/// = 25,920,000 bytes (24.7 MiB), reached only if every display changed at every broadcast for
/// an hour. Displays that stand still cost next to nothing.
class SeriesStore {
public:
    explicit SeriesStore(std::size_t capacityPerSeries = SeriesBuffer::kHourAtBroadcastRate);

    /// One report of the displays at `time`: every number, and every LED as 0 or 1.
    void record(TimeMs time, std::span<const double, model::kNumericDisplayCount> numbers,
                std::span<const bool, model::kLedCount> leds);
    /// Series `series` shows `value` from `time` on.
    void record(TimeMs time, std::size_t series, double value);
    /// The displays still show their values at `time` (no report since: nothing changed).
    void extendTo(TimeMs time);

    [[nodiscard]] const SeriesBuffer& series(std::size_t series) const {
        return m_series.at(series);
    }
    /// The earliest point held of any series; nothing while none is held.
    [[nodiscard]] std::optional<TimeMs> begin() const;
    /// The time up to which the values are known; nothing before the first record.
    [[nodiscard]] std::optional<TimeMs> end() const { return m_end; }
    /// Changes whenever a report is recorded (not when only the end moves): a view repaints
    /// for new data only then.
    [[nodiscard]] std::uint64_t revision() const { return m_revision; }
    [[nodiscard]] std::size_t memoryBytes() const;
    /// Gives back what growth reserved beyond the points held.
    void shrinkToFit();

private:
    std::array<SeriesBuffer, kSeriesCount> m_series;
    std::optional<TimeMs> m_end;
    std::uint64_t m_revision = 0;
};

}  // namespace orvale::plot
