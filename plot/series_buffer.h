#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvale::plot {

/// Milliseconds since 1970-01-01T00:00:00Z.
using TimeMs = std::int64_t;

/// One change of a display: from `time` on it showed `value`.
struct Point {
    TimeMs time = 0;
    double value = 0;
};

/// The history of one display as a bounded ring of its changes. A display holds its value
/// until the next change, so a point is kept only when the value changes, and a series that
/// stands still costs one point however long it stands.
///
/// At the line's full rate a display changes up to 820 times a second while the window shows
/// at most one value per screen refresh: within kRefreshMs of the last point, a change replaces
/// that point's value (the latest value of the refresh wins, as on the screen), so a series
/// gains at most one point per refresh whatever the rate. When the ring is full the oldest
/// point goes.
///
/// Memory: sizeof(Point) (16 bytes) per point, allocated as the series grows, never more than
/// the capacity: 36,000 points (one hour of a change every broadcast at the device's 10 a
/// second, or ten minutes of a change every refresh) take 576,000 bytes.
class SeriesBuffer {
public:
    /// One hour at the device's broadcast rate, 10 a second.
    static constexpr std::size_t kHourAtBroadcastRate = 36'000;
    /// A screen refresh at 60 Hz, rounded up: at most one point per series in this time.
    static constexpr TimeMs kRefreshMs = 17;

    /// `capacity` points at most (at least 1).
    explicit SeriesBuffer(std::size_t capacity = kHourAtBroadcastRate);

    /// The display shows `value` from `time` on. A time before the last point's is taken as
    /// that point's (a wall clock set back). NaN equals NaN here: a display that shows "nan"
    /// keeps showing it.
    void record(TimeMs time, double value);

    [[nodiscard]] std::size_t size() const { return m_size; }
    [[nodiscard]] bool empty() const { return m_size == 0; }
    [[nodiscard]] std::size_t capacity() const { return m_capacity; }
    /// Point `i`, the oldest first; i < size().
    [[nodiscard]] const Point& operator[](std::size_t i) const {
        return m_points[m_head + i < m_points.size() ? m_head + i : m_head + i - m_points.size()];
    }
    [[nodiscard]] const Point& front() const { return (*this)[0]; }
    [[nodiscard]] const Point& back() const { return (*this)[m_size - 1]; }
    /// Index of the first point later than `time`, or size().
    [[nodiscard]] std::size_t upperBound(double time) const;
    /// The value shown at `time`: the last point at or before it; nothing before the first.
    [[nodiscard]] std::optional<double> valueAt(double time) const;
    /// Bytes held for points.
    [[nodiscard]] std::size_t memoryBytes() const { return m_points.capacity() * sizeof(Point); }
    /// Gives back what growth reserved beyond the points held (a recording fully read).
    void shrinkToFit();

private:
    void push(const Point& point);
    void popBack();
    Point& backRef();

    std::vector<Point> m_points;  // grows to m_capacity, then is a ring starting at m_head
    std::size_t m_capacity;
    std::size_t m_head = 0;
    std::size_t m_size = 0;
};

}  // namespace orvale::plot
