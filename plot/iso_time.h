#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "plot/series_buffer.h"

namespace orvale::plot {

/// "2026-12-08T15:30:01.123+01:00" (or "...Z") as milliseconds since the epoch; nothing when
/// it is not exactly that form (recordings write nothing else) or names no real time.
[[nodiscard]] std::optional<TimeMs> parseIsoTime(std::string_view text);

/// `time` as local time with milliseconds and offset ("2026-12-08T15:30:01.123+01:00"), the
/// form recordings use.
[[nodiscard]] std::string isoLocalTime(TimeMs time);

}  // namespace orvale::plot
