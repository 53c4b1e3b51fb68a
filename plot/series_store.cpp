#include "plot/series_store.h"

#include <algorithm>
#include <utility>

namespace orvale::plot {
namespace {

template <std::size_t... I>
std::array<SeriesBuffer, kSeriesCount> makeBuffers(std::size_t capacity,
                                                   std::index_sequence<I...> /*indices*/) {
    return {((void)I, SeriesBuffer(capacity))...};
}

}  // namespace

SeriesStore::SeriesStore(std::size_t capacityPerSeries)
    : m_series(makeBuffers(capacityPerSeries, std::make_index_sequence<kSeriesCount>{})) {}

void SeriesStore::record(TimeMs time, std::span<const double, model::kNumericDisplayCount> numbers,
                         std::span<const bool, model::kLedCount> leds) {
    for (std::size_t i = 0; i < numbers.size(); ++i) m_series[i].record(time, numbers[i]);
    for (std::size_t i = 0; i < leds.size(); ++i) {
        m_series[kFirstLedSeries + i].record(time, leds[i] ? 1.0 : 0.0);
    }
    extendTo(time);
    ++m_revision;
}

void SeriesStore::record(TimeMs time, std::size_t series, double value) {
    m_series.at(series).record(time, value);
    extendTo(time);
    ++m_revision;
}

void SeriesStore::extendTo(TimeMs time) {
    if (m_end && *m_end >= time) return;
    m_end = time;
}

std::optional<TimeMs> SeriesStore::begin() const {
    std::optional<TimeMs> first;
    for (const SeriesBuffer& buffer : m_series) {
        if (!buffer.empty() && (!first || buffer.front().time < *first))
            first = buffer.front().time;
    }
    return first;
}

std::size_t SeriesStore::memoryBytes() const {
    std::size_t bytes = sizeof(*this);
    for (const SeriesBuffer& buffer : m_series) bytes += buffer.memoryBytes();
    return bytes;
}

void SeriesStore::shrinkToFit() {
    for (SeriesBuffer& buffer : m_series) buffer.shrinkToFit();
}

}  // namespace orvale::plot
