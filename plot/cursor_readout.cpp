#include "plot/cursor_readout.h"

#include <cmath>

#include "model/display_format.h"
#include "plot/iso_time.h"

namespace orvale::plot {
namespace {

constexpr const char* kUnknown = "-";

std::optional<double> knownAt(const SeriesStore& store, std::size_t series,
                              std::optional<double> time) {
    if (!time || !store.end() || *time > static_cast<double>(*store.end())) return std::nullopt;
    return store.series(series).valueAt(*time);
}

// "15:30:01.123": the date and offset are the same for both cursors nearly always.
std::string timeOfDay(double time) {
    const std::string iso = isoLocalTime(static_cast<TimeMs>(std::floor(time)));
    return iso.substr(11, 12);
}

}  // namespace

Readout cursorReadout(const SeriesStore& store, std::span<const std::size_t> series,
                      std::optional<double> a, std::optional<double> b) {
    Readout readout;
    if (a) readout.timeA = timeOfDay(*a);
    if (b) readout.timeB = timeOfDay(*b);
    if (a && b) readout.interval = model::formatFixed((*b - *a) / 1000, 3) + " s";
    for (const std::size_t s : series) {
        const SeriesInfo& info = seriesInfo(s);
        ReadoutLine line{s, std::string(info.label), kUnknown, kUnknown, kUnknown};
        const auto valueA = knownAt(store, s, a);
        const auto valueB = knownAt(store, s, b);
        if (valueA) line.atA = formatValue(s, *valueA);
        if (valueB) line.atB = formatValue(s, *valueB);
        if (valueA && valueB) {
            if (info.led) {
                line.difference = *valueA == *valueB ? "same" : "changed";
            } else {
                line.difference = formatValue(s, *valueB - *valueA);
                if (*valueB - *valueA > 0) line.difference.insert(0, "+");
            }
        }
        readout.lines.push_back(std::move(line));
    }
    return readout;
}

std::string readoutText(const Readout& readout) {
    if (readout.timeA.empty() && readout.timeB.empty()) {
        return "No cursor: click the plot for cursor A, right-click for cursor B.";
    }
    std::string text = "A " + (readout.timeA.empty() ? std::string(kUnknown) : readout.timeA) +
                       ", B " + (readout.timeB.empty() ? std::string(kUnknown) : readout.timeB);
    if (!readout.interval.empty()) text += ", B - A " + readout.interval;
    for (const ReadoutLine& line : readout.lines) {
        text +=
            "\n" + line.name + ": A " + line.atA + ", B " + line.atB + ", B - A " + line.difference;
    }
    return text;
}

}  // namespace orvale::plot
