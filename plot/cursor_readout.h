#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "plot/series_store.h"

namespace orvale::plot {

/// The values of the visible series at the two cursors, and their differences, as text.
struct ReadoutLine {
    std::size_t series = 0;
    std::string name;  ///< the series' label
    std::string atA;   ///< "1200.000 rpm"; "-" where nothing is known (or no cursor)
    std::string atB;
    std::string difference;  ///< B - A at the display's decimals, with units; LEDs "same" or
                             ///< "changed"; "-" unless both values are known
};

struct Readout {
    std::string timeA;  ///< local time "15:30:01.123"; empty without that cursor
    std::string timeB;
    std::string interval;  ///< B - A, "2.500 s"; empty unless both cursors are placed
    std::vector<ReadoutLine> lines;
};

/// The readout for cursors at `a` and `b` (ms since the epoch), for `series` in that order.
[[nodiscard]] Readout cursorReadout(const SeriesStore& store, std::span<const std::size_t> series,
                                    std::optional<double> a, std::optional<double> b);

/// The readout as lines of plain text, for a label, the clipboard or a screen reader.
[[nodiscard]] std::string readoutText(const Readout& readout);

}  // namespace orvale::plot
