#include "plot/series_buffer.h"

#include <algorithm>
#include <cmath>

namespace orvale::plot {
namespace {

bool sameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

SeriesBuffer::SeriesBuffer(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {}

void SeriesBuffer::record(TimeMs time, double value) {
    if (m_size == 0) {
        push({time, value});
        return;
    }
    Point& last = backRef();
    if (sameValue(last.value, value)) return;
    if (time - last.time >= kRefreshMs) {
        push({time, value});
        return;
    }
    // Within the refresh of the last change: only the refresh's latest value reaches the
    // screen. A change undone within it is no change at all.
    last.value = value;
    if (m_size >= 2 && sameValue((*this)[m_size - 2].value, value)) popBack();
}

std::size_t SeriesBuffer::upperBound(double time) const {
    std::size_t low = 0;
    std::size_t high = m_size;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (static_cast<double>((*this)[mid].time) <= time) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

std::optional<double> SeriesBuffer::valueAt(double time) const {
    const std::size_t after = upperBound(time);
    if (after == 0) return std::nullopt;
    return (*this)[after - 1].value;
}

void SeriesBuffer::shrinkToFit() {
    if (m_size == m_points.size() && m_head == 0) m_points.shrink_to_fit();
}

void SeriesBuffer::push(const Point& point) {
    if (m_points.size() < m_capacity) {
        // Still growing (the ring has never wrapped, so it starts at 0): no more than the
        // capacity is ever reserved, so a full ring holds exactly kHourAtBroadcastRate points.
        if (m_points.size() == m_points.capacity()) {
            m_points.reserve(std::min(m_capacity, std::max<std::size_t>(256, m_points.size() * 2)));
        }
        m_points.push_back(point);
        ++m_size;
        return;
    }
    if (m_size < m_points.size()) {
        const std::size_t slot = (m_head + m_size) % m_points.size();
        m_points[slot] = point;
        ++m_size;
        return;
    }
    m_points[m_head] = point;
    m_head = (m_head + 1) % m_points.size();
}

void SeriesBuffer::popBack() {
    if (m_points.size() < m_capacity) {
        m_points.pop_back();
    }
    --m_size;
}

Point& SeriesBuffer::backRef() {
    const std::size_t i = m_head + m_size - 1;
    return m_points[i < m_points.size() ? i : i - m_points.size()];
}

}  // namespace orvale::plot
