#include "plot/series_catalogue.h"

#include <cmath>

#include "model/display_format.h"

namespace orvale::plot {
namespace {

constexpr std::string_view withoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

constexpr std::array<SeriesInfo, kSeriesCount> makeTable() {
    std::array<SeriesInfo, kSeriesCount> table{};
    for (std::size_t i = 0; i < model::kNumericDisplayCount; ++i) {
        const model::DisplayEntry& entry = model::kNumericDisplays[i];
        table[i] = {entry.id,
                    entry.label,
                    withoutLeadingBlanks(entry.units),
                    entry.group,
                    model::shownDecimals(entry.decimals),
                    false};
    }
    for (std::size_t i = 0; i < model::kLedCount; ++i) {
        const model::DisplayEntry& entry = model::kLeds[i];
        table[kFirstLedSeries + i] = {entry.id, entry.label, {}, entry.group, 0, true};
    }
    return table;
}

constexpr std::array<SeriesInfo, kSeriesCount> kTable = makeTable();

// Letter case, '#' and runs of blanks do not tell names apart: "pressure #1" is typed as
// "pressure 1" after a look at a recording's header.
std::string normalised(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (c == '#') continue;
        if (c == ' ' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
            continue;
        }
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace

const SeriesInfo& seriesInfo(std::size_t series) { return kTable.at(series); }

std::optional<std::size_t> seriesOf(model::ControlId id) {
    for (std::size_t i = 0; i < kSeriesCount; ++i) {
        if (kTable[i].id == id) return i;
    }
    return std::nullopt;
}

std::string columnName(std::size_t series) {
    const SeriesInfo& info = seriesInfo(series);
    std::string name;
    for (const char c : info.label) {
        if (c == '#' || (c == ' ' && (name.empty() || name.back() == ' '))) continue;
        name.push_back(c);
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!info.units.empty()) {
        name += " (";
        name += info.units;
        name += ')';
    }
    return name;
}

std::optional<std::size_t> findSeries(std::string_view name) {
    const std::string wanted = normalised(name);
    if (wanted.empty()) return std::nullopt;
    for (std::size_t i = 0; i < kSeriesCount; ++i) {
        if (normalised(kTable[i].label) == wanted || normalised(columnName(i)) == wanted) return i;
    }
    return std::nullopt;
}

SeriesList parseSeriesList(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        pieces.push_back(
            text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    SeriesList list;
    for (std::size_t first = 0; first < pieces.size();) {
        std::size_t taken = 0;
        std::optional<std::size_t> found;
        // Longest first: "Retarder Selection, non-engine" before "Retarder Selection".
        for (std::size_t last = pieces.size(); last > first && !found; --last) {
            const std::size_t from = static_cast<std::size_t>(pieces[first].data() - text.data());
            const std::size_t to = static_cast<std::size_t>(pieces[last - 1].data() - text.data()) +
                                   pieces[last - 1].size();
            found = findSeries(text.substr(from, to - from));
            taken = last - first;
        }
        if (!found) {
            std::string_view piece = pieces[first];
            while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
            while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
            list.error = piece.empty() ? "an empty parameter name in \"" + std::string(text) + "\""
                                       : "no parameter is called \"" + std::string(piece) + "\"";
            list.series.clear();
            return list;
        }
        bool listed = false;
        for (const std::size_t s : list.series) listed = listed || s == *found;
        if (!listed) list.series.push_back(*found);
        first += taken;
    }
    return list;
}

std::string formatValue(std::size_t series, double value) {
    const SeriesInfo& info = seriesInfo(series);
    if (info.led) return value != 0 ? "on" : "off";
    std::string text = model::formatFixed(value, info.decimals);
    if (!info.units.empty() && std::isfinite(value)) {
        text.push_back(' ');
        text += info.units;
    }
    return text;
}

}  // namespace orvale::plot
