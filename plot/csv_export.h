#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "plot/decimation.h"
#include "plot/series_store.h"

namespace orvale::plot {

/// The visible range as CSV: a header "time,<column name>..." (the names a recording uses),
/// then a row for the start of the range and one at each change of any of `series` within it,
/// every value as its display showed it at that time (empty where nothing was known yet). The
/// time is local, ISO 8601 with milliseconds and offset, as in a recording; lines end in CRLF.
[[nodiscard]] std::string exportCsv(const SeriesStore& store, std::span<const std::size_t> series,
                                    TimeRange range);

}  // namespace orvale::plot
