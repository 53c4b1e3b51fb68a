#include "plot/csv_export.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "model/display_format.h"
#include "plot/iso_time.h"

namespace orvale::plot {
namespace {

void appendCell(std::string& line, std::string_view cell) {
    // Quoted as the recorder quotes, '#' included (pandas' comment='#').
    if (cell.find_first_of(",\"\r\n#") == std::string_view::npos) {
        line.append(cell);
        return;
    }
    line.push_back('"');
    for (const char c : cell) {
        if (c == '"') line.push_back('"');
        line.push_back(c);
    }
    line.push_back('"');
}

}  // namespace

std::string exportCsv(const SeriesStore& store, std::span<const std::size_t> series,
                      TimeRange range) {
    std::string out = "time";
    for (const std::size_t s : series) {
        out.push_back(',');
        appendCell(out, columnName(s));
    }
    out += "\r\n";
    if (!store.end() || series.empty()) return out;

    // From the first value held within the range: rows of empty cells would say nothing.
    TimeMs time = static_cast<TimeMs>(std::ceil(range.from));
    if (const auto begin = store.begin()) time = std::max(time, *begin);
    const TimeMs last = std::min(static_cast<TimeMs>(std::floor(range.to)), *store.end());
    // For each series the next point to pass: the rows are the merge of their times.
    std::vector<std::size_t> next;
    for (const std::size_t s : series) {
        next.push_back(store.series(s).upperBound(static_cast<double>(time)));
    }
    while (time <= last) {
        out += isoLocalTime(time);
        for (std::size_t i = 0; i < series.size(); ++i) {
            const SeriesBuffer& buffer = store.series(series[i]);
            out.push_back(',');
            if (next[i] == 0) continue;
            const double value = buffer[next[i] - 1].value;
            if (seriesInfo(series[i]).led) {
                out.push_back(value != 0 ? '1' : '0');
            } else {
                model::appendFixed(out, value, seriesInfo(series[i]).decimals);
            }
        }
        out += "\r\n";
        TimeMs following = std::numeric_limits<TimeMs>::max();
        for (std::size_t i = 0; i < series.size(); ++i) {
            const SeriesBuffer& buffer = store.series(series[i]);
            if (next[i] < buffer.size()) following = std::min(following, buffer[next[i]].time);
        }
        if (following > last) break;
        time = following;
        for (std::size_t i = 0; i < series.size(); ++i) {
            const SeriesBuffer& buffer = store.series(series[i]);
            while (next[i] < buffer.size() && buffer[next[i]].time <= time) ++next[i];
        }
    }
    return out;
}

}  // namespace orvale::plot
