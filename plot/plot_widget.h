#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QStaticText>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "plot/axes.h"
#include "plot/cursor_readout.h"
#include "plot/decimation.h"
#include "plot/series_store.h"

namespace orvale::plot {

/// The plot: the visible series of a SeriesStore over a time range, drawn with QPainter from
/// their per-column extents (decimate), with a y axis per unit (planAxes) and a time axis.
///
/// Mouse: the wheel zooms the time around the pointer; a drag draws a box and zooms to it;
/// Shift+drag or a drag with the middle button pans; a click places cursor A, a right-click
/// cursor B. Keys: + and - zoom, Left and Right pan, Home fits the data, Delete clears the
/// cursors. While following (live), the range ends at the data's end; a zoom by the wheel
/// keeps following, any other move of the view stops it (followingChanged).
/// Texts drawn again and again (tick labels, axis titles) laid out once: shaping a text costs
/// far more than drawing it. Bounded: emptied when it grows past a few hundred texts.
class TextCache {
public:
    /// Draws `text` in `box` as QPainter::drawText(box, alignment, text) would place one line.
    void draw(QPainter& painter, const QRect& box, int alignment, const QString& text);
    void clear() { m_texts.clear(); }

private:
    QHash<QString, QStaticText> m_texts;
};

class PlotWidget final : public QWidget {
    Q_OBJECT

public:
    explicit PlotWidget(const SeriesStore& store, QWidget* parent = nullptr);

    void setSeriesVisible(std::size_t series, bool visible);
    [[nodiscard]] bool isSeriesVisible(std::size_t series) const;
    /// The visible series, in the order they were shown.
    [[nodiscard]] const std::vector<std::size_t>& visibleSeries() const { return m_visible; }
    /// The series' colour while it is visible (kept for it when it is hidden again).
    [[nodiscard]] QColor colour(std::size_t series) const;

    /// Live: the range is the last span() of the data, and moves with it.
    void setFollowing(bool following);
    [[nodiscard]] bool following() const { return m_following; }
    /// The length of the range in ms. While following, the range is the last `span` ms;
    /// otherwise the range keeps its right edge.
    void setSpan(double spanMs);
    [[nodiscard]] double span() const { return m_following ? m_span : m_range.span(); }
    /// Shows `range`; stops following.
    void setRange(TimeRange range);
    [[nodiscard]] TimeRange range() const;
    /// Every point held, the whole height: the range from the first point to the data's end.
    void fitToData();
    /// New data or time has passed: repaints when that shows (a new point, the range moved by
    /// a pixel or more). Call it once per screen refresh at most.
    void refresh();

    /// Cursor 0 is A, cursor 1 is B: a time in ms since the epoch, or none.
    [[nodiscard]] std::optional<double> cursor(int which) const;
    void setCursorTime(int which, std::optional<double> time);
    [[nodiscard]] Readout readout() const;

    /// Where the curves are drawn, in the widget's coordinates.
    [[nodiscard]] QRect plotArea() const;
    /// The time at widget x-coordinate `x`.
    [[nodiscard]] double timeAt(int x) const;

    [[nodiscard]] QSize sizeHint() const override { return {640, 400}; }
    [[nodiscard]] QSize minimumSizeHint() const override { return {240, 160}; }

signals:
    /// The user moved the view away from live (or a call stopped following).
    void followingChanged(bool following);
    void cursorsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, Box, Pan };
    struct YZoom {
        double low = 0;  // fractions of each axis' own range
        double high = 1;
    };

    void stopFollowing();
    void zoomTime(double factor, double anchor);
    void updateDescription();
    [[nodiscard]] QRect plotAreaFor(int leftAxes, int rightAxes) const;
    [[nodiscard]] int axisWidth() const;
    void changeEvent(QEvent* event) override;

    /// Widths and heights of the font that every repaint needs, measured once per font.
    struct Metrics {
        int axisWidth = 0;
        int halfClock = 0;    // half the width of "00:00:00"
        int tickSpacing = 0;  // the width of "00:00:00.000" and a gap
        int height = 0;
        int ascent = 0;
    };
    const Metrics& metrics() const;

    const SeriesStore& m_store;
    std::vector<std::size_t> m_visible;
    std::array<QColor, kSeriesCount> m_colours{};
    bool m_following = true;
    double m_span = 60'000;
    TimeRange m_range{0, 60'000};  // when not following
    YZoom m_yZoom;
    std::array<std::optional<double>, 2> m_cursors{};

    Drag m_drag = Drag::None;
    QPoint m_pressAt;
    QPoint m_dragTo;
    TimeRange m_rangeAtPress;
    bool m_moved = false;

    // What the last paint showed: refresh() repaints only when that changed.
    std::uint64_t m_paintedRevision = ~std::uint64_t{0};
    TimeRange m_paintedRange;
    std::vector<std::vector<ColumnExtent>> m_columns;  // per visible series, reused
    QImage m_curves;                                   // the curves' pixels, reused
    mutable std::optional<Metrics> m_metrics;
    TextCache m_texts;
    int m_noteWidth = -1;  // the normalised curves' note, elided to this width
    QString m_note;
};

}  // namespace orvale::plot
