#include "plot/plot_widget.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "model/display_format.h"

namespace orvale::plot {
namespace {

// Tableau's ten: told apart on a light and on a dark background.
constexpr std::array<QRgb, 10> kPalette = {0x4E79A7, 0xF28E2B, 0xE15759, 0x76B7B2, 0x59A14F,
                                           0xEDC948, 0xB07AA1, 0xFF9DA7, 0x9C755F, 0xBAB0AC};

// The shortest and the longest time range shown, in ms.
constexpr double kMinSpan = 10;
constexpr double kMaxSpan = 7 * 24 * 3'600'000.0;
// A drag shorter than this is a click.
constexpr int kClickSlop = 4;
// LEDs are drawn between off and on with a little room above and below.
constexpr AxisRange kLedRange{-0.1, 1.1};

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// y for `value` on `axis` within `area`, kept within a range QPainter's integers take.
int yFor(double value, const AxisRange& axis, const QRect& area) {
    const double fraction = (value - axis.low) / (axis.high - axis.low);
    const double y = area.bottom() - fraction * (area.height() - 1);
    return static_cast<int>(std::lround(std::clamp(y, -1e5, 1e5)));
}

// Text alignment as drawText takes it: an int.
int aligned(bool right, Qt::AlignmentFlag vertical) {
    return static_cast<int>(right ? Qt::AlignLeft : Qt::AlignRight) | static_cast<int>(vertical);
}

QString tickText(double value, int decimals) {
    return QString::fromStdString(model::formatFixed(value, decimals));
}

struct Axis {
    AxisRange range;
    bool led = false;
    QString title;
};

// The axes of a plan over the columns shown, and the range each visible series is drawn
// against (its axis', or with normalised curves its own), zoomed to [zoomLow, zoomHigh] of
// their height.
struct Scales {
    std::vector<Axis> axes;
    std::vector<AxisRange> ofSeries;
};

AxisRange zoomed(const AxisRange& range, double zoomLow, double zoomHigh) {
    const double length = range.high - range.low;
    return {range.low + length * zoomLow, range.low + length * zoomHigh};
}

Scales scaleAxes(const AxisPlan& plan, const std::vector<std::size_t>& visible,
                 const std::vector<std::vector<ColumnExtent>>& columns, double zoomLow,
                 double zoomHigh) {
    Scales scales;
    scales.axes.resize(plan.units.size());
    scales.ofSeries.resize(visible.size());
    for (std::size_t a = 0; a < scales.axes.size(); ++a) {
        std::optional<ValueExtent> extent;
        for (std::size_t i = 0; i < visible.size(); ++i) {
            if (plan.axisOf[i] != a) continue;
            const auto own = extentOf(columns[i]);
            if (plan.normalised) {
                scales.ofSeries[i] = seriesInfo(visible[i]).led ? kLedRange
                                     : own                      ? axisRange(own->min, own->max)
                                                                : AxisRange{};
                scales.ofSeries[i] = zoomed(scales.ofSeries[i], zoomLow, zoomHigh);
            } else if (own) {
                extent = extent ? ValueExtent{std::min(extent->min, own->min),
                                              std::max(extent->max, own->max)}
                                : *own;
            }
        }
        Axis& axis = scales.axes[a];
        axis.led = !plan.normalised && plan.units[a].empty();
        axis.title = axis.led ? PlotWidget::tr("off/on") : fromUtf8(plan.units[a]);
        if (plan.normalised) {
            axis.range = axisRange(0, 100);
        } else if (axis.led) {
            axis.range = kLedRange;
        } else {
            axis.range = extent ? axisRange(extent->min, extent->max) : AxisRange{};
        }
        axis.range = zoomed(axis.range, zoomLow, zoomHigh);
    }
    for (std::size_t i = 0; i < visible.size() && !plan.normalised; ++i) {
        scales.ofSeries[i] = scales.axes[plan.axisOf[i]].range;
    }
    return scales;
}

// Every third pixel of column `x` (row `y`) of `image`, as a dotted grid line; nothing outside it.
void writeVerticalDots(QImage& image, int x, QRgb pixel) {
    if (x < 0 || x >= image.width()) return;
    for (int y = 0; y < image.height(); y += 3)
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = pixel;
}
void writeHorizontalDots(QImage& image, int y, QRgb pixel) {
    if (y < 0 || y >= image.height()) return;
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); x += 3) line[x] = pixel;
}

// The curve into `image`, a column of pixels per column: a vertical run over its least and
// greatest value and the value the column before ended on, so that each column joins the next.
void writeCurve(QImage& image, const std::vector<ColumnExtent>& columns, const AxisRange& axis,
                QRgb pixel) {
    const int rows = image.height();
    const auto count = std::min(columns.size(), static_cast<std::size_t>(image.width()));
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const double scale = (rows - 1) / (axis.high - axis.low);
    const auto row = [&](double value) {
        // Rows from the top, rounded; far outside the image is as good as just outside it.
        const double y =
            std::clamp((rows - 1) - (value - axis.low) * scale, -1.0, static_cast<double>(rows));
        return static_cast<int>(y + 1.5) - 1;
    };
    bool joined = false;
    int ended = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const ColumnExtent& c = columns[k];
        if (!c.present) {
            joined = false;
            continue;
        }
        int top = row(c.max);
        int bottom = row(c.min);
        if (joined) {
            top = std::min(top, ended);
            bottom = std::max(bottom, ended);
        }
        ended = row(c.last);
        joined = true;
        for (int y = std::max(top, 0); y <= std::min(bottom, rows - 1); ++y) {
            reinterpret_cast<QRgb*>(bits + y * stride)[k] = pixel;
        }
    }
}

// The y axes beside `area`: the first on the left, the second on the right, the third left of
// the first; each with its title above it.
void drawYAxes(QPainter& painter, TextCache& texts, const std::vector<Axis>& axes,
               const QRect& area, int width, int textHeight, int maxTicks) {
    for (std::size_t a = 0; a < axes.size(); ++a) {
        const Axis& axis = axes[a];
        const bool right = a == 1;
        const int edge = a == 0 ? area.left() : a == 1 ? area.right() : area.left() - width;
        const QRect titleBox(right ? edge + 4 : edge - width + 4, 0, width - 8, area.top() - 2);
        texts.draw(painter, titleBox, aligned(right, Qt::AlignBottom), axis.title);
        Ticks ticks = niceTicks(axis.range.low, axis.range.high, maxTicks);
        if (axis.led) ticks = {0, 1, 2, 0};
        for (int i = 0; i < ticks.count; ++i) {
            const double value = ticks.value(i);
            const int y = yFor(value, axis.range, area);
            if (y < area.top() - 1 || y > area.bottom() + 1) continue;
            const QString text = axis.led
                                     ? (value != 0 ? PlotWidget::tr("on") : PlotWidget::tr("off"))
                                     : tickText(value, ticks.decimals);
            const QRect box(right ? edge + 6 : edge - width + 2, y - textHeight / 2, width - 8,
                            textHeight);
            texts.draw(painter, box, aligned(right, Qt::AlignVCenter), text);
            painter.drawLine(edge, y, right ? edge + 3 : edge - 3, y);
        }
    }
}

}  // namespace

void TextCache::draw(QPainter& painter, const QRect& box, int alignment, const QString& text) {
    constexpr qsizetype kMostTexts = 512;
    auto it = m_texts.find(text);
    if (it == m_texts.end()) {
        if (m_texts.size() >= kMostTexts) m_texts.clear();
        QStaticText laidOut(text);
        laidOut.setTextFormat(Qt::PlainText);
        laidOut.setPerformanceHint(QStaticText::AggressiveCaching);
        laidOut.prepare(QTransform(), painter.font());
        it = m_texts.insert(text, laidOut);
    }
    const QSizeF size = it->size();
    double x = box.left();
    if ((alignment & Qt::AlignRight) != 0) {
        x = box.right() + 1 - size.width();
    } else if ((alignment & Qt::AlignHCenter) != 0) {
        x = box.left() + (box.width() - size.width()) / 2;
    }
    double y = box.top();
    if ((alignment & Qt::AlignBottom) != 0) {
        y = box.bottom() + 1 - size.height();
    } else if ((alignment & Qt::AlignVCenter) != 0) {
        y = box.top() + (box.height() - size.height()) / 2;
    }
    painter.save();
    painter.setClipRect(box, Qt::IntersectClip);
    painter.drawStaticText(QPointF(x, y), *it);
    painter.restore();
}

PlotWidget::PlotWidget(const SeriesStore& store, QWidget* parent)
    : QWidget(parent), m_store(store) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(tr("Plot"));
    updateDescription();
}

void PlotWidget::setSeriesVisible(std::size_t series, bool visible) {
    const auto at = std::find(m_visible.begin(), m_visible.end(), series);
    if (visible == (at != m_visible.end()) || series >= kSeriesCount) return;
    if (visible) {
        // The colour least in use among the visible series, the palette's order breaking ties.
        std::array<int, kPalette.size()> uses{};
        for (const std::size_t s : m_visible) {
            for (std::size_t c = 0; c < kPalette.size(); ++c) {
                if (m_colours[s] == QColor(kPalette[c])) ++uses[c];
            }
        }
        const auto least = std::min_element(uses.begin(), uses.end()) - uses.begin();
        m_colours[series] = QColor(kPalette[static_cast<std::size_t>(least)]);
        m_visible.push_back(series);
    } else {
        m_visible.erase(at);
    }
    updateDescription();
    update();
}

bool PlotWidget::isSeriesVisible(std::size_t series) const {
    return std::find(m_visible.begin(), m_visible.end(), series) != m_visible.end();
}

QColor PlotWidget::colour(std::size_t series) const { return m_colours.at(series); }

void PlotWidget::setFollowing(bool following) {
    if (following == m_following) return;
    if (!following) {
        m_range = range();
    } else {
        m_span = m_range.span();
    }
    m_following = following;
    emit followingChanged(m_following);
    update();
}

void PlotWidget::stopFollowing() { setFollowing(false); }

void PlotWidget::setSpan(double spanMs) {
    spanMs = std::clamp(spanMs, kMinSpan, kMaxSpan);
    if (m_following) {
        m_span = spanMs;
    } else {
        m_range = {m_range.to - spanMs, m_range.to};
    }
    update();
}

void PlotWidget::setRange(TimeRange range) {
    if (!(range.span() >= kMinSpan)) range = {range.from, range.from + kMinSpan};
    stopFollowing();
    m_range = range;
    update();
}

TimeRange PlotWidget::range() const {
    if (!m_following) return m_range;
    const double end = m_store.end() ? static_cast<double>(*m_store.end()) : m_span;
    return {end - m_span, end};
}

void PlotWidget::fitToData() {
    m_yZoom = {};
    const auto begin = m_store.begin();
    const auto end = m_store.end();
    if (begin && end) {
        const double span = std::clamp(static_cast<double>(*end - *begin), 1000.0, kMaxSpan);
        if (m_following) {
            m_span = span;
        } else {
            m_range = {static_cast<double>(*end) - span, static_cast<double>(*end)};
        }
    }
    update();
}

void PlotWidget::refresh() {
    const TimeRange now = range();
    const double pixel = now.span() / std::max(plotArea().width(), 1);
    if (m_store.revision() != m_paintedRevision || now.span() != m_paintedRange.span() ||
        std::abs(now.to - m_paintedRange.to) >= pixel) {
        update();
    }
}

std::optional<double> PlotWidget::cursor(int which) const {
    return m_cursors.at(static_cast<std::size_t>(which));
}

void PlotWidget::setCursorTime(int which, std::optional<double> time) {
    m_cursors.at(static_cast<std::size_t>(which)) = time;
    emit cursorsChanged();
    update();
}

Readout PlotWidget::readout() const {
    return cursorReadout(m_store, m_visible, m_cursors[0], m_cursors[1]);
}

const PlotWidget::Metrics& PlotWidget::metrics() const {
    if (!m_metrics) {
        const QFontMetrics font = fontMetrics();
        m_metrics = Metrics{font.horizontalAdvance(QStringLiteral("-0000000.00")) + 8,
                            font.horizontalAdvance(QStringLiteral("00:00:00")) / 2,
                            font.horizontalAdvance(QStringLiteral("00:00:00.000")) + 20,
                            font.height(), font.ascent()};
    }
    return *m_metrics;
}

void PlotWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_metrics.reset();
        m_texts.clear();
        m_noteWidth = -1;
    }
    QWidget::changeEvent(event);
}

int PlotWidget::axisWidth() const { return metrics().axisWidth; }

QRect PlotWidget::plotAreaFor(int leftAxes, int rightAxes) const {
    const Metrics& font = metrics();
    const int left = std::max(leftAxes, 1) * axisWidth();
    const int right = rightAxes > 0 ? axisWidth() : font.halfClock + 4;
    const int top = font.height + 8;
    const int bottom = font.height + 10;
    return QRect(left, top, std::max(width() - left - right, 1),
                 std::max(height() - top - bottom, 1));
}

QRect PlotWidget::plotArea() const {
    const std::size_t axes = planAxes(m_visible).units.size();
    return plotAreaFor(axes >= 3 ? 2 : 1, axes >= 2 ? 1 : 0);
}

double PlotWidget::timeAt(int x) const {
    const QRect area = plotArea();
    const TimeRange shown = range();
    return shown.from + (x - area.left()) * shown.span() / std::max(area.width(), 1);
}

void PlotWidget::updateDescription() {
    QStringList names;
    for (const std::size_t s : m_visible) names << fromUtf8(seriesInfo(s).label);
    setAccessibleDescription(names.isEmpty()
                                 ? tr("No parameter shown")
                                 : tr("Shows %1").arg(names.join(QStringLiteral(", "))));
}

void PlotWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QPalette& colours = palette();
    const Metrics& font = metrics();

    const AxisPlan plan = planAxes(m_visible);
    const int axisCount = static_cast<int>(plan.units.size());
    const QRect area = plotAreaFor(axisCount >= 3 ? 2 : 1, axisCount >= 2 ? 1 : 0);
    // The margins only: the plot area is covered by its own image below.
    painter.setClipRegion(QRegion(rect()).subtracted(QRegion(area)));
    painter.fillRect(rect(), colours.base());
    painter.setClipping(false);
    const TimeRange shown = range();
    const double dataEnd = m_store.end() ? static_cast<double>(*m_store.end()) : shown.from;
    m_paintedRevision = m_store.revision();
    m_paintedRange = shown;

    // Each visible series reduced to the plot area's columns of device pixels.
    const qreal ratio = devicePixelRatioF();
    const auto columns = static_cast<std::size_t>(std::lround(area.width() * ratio));
    const int rows = std::max(1, static_cast<int>(std::lround(area.height() * ratio)));
    m_columns.resize(m_visible.size());
    for (std::size_t i = 0; i < m_visible.size(); ++i) {
        m_columns[i].resize(columns);
        decimate(m_store.series(m_visible[i]), shown, dataEnd, m_columns[i]);
    }

    // The axes' ranges from what is visible; with normalised curves each series has its own.
    const int maxTicks = std::max(2, area.height() / (font.height * 2));
    const Scales scales = scaleAxes(plan, m_visible, m_columns, m_yZoom.low, m_yZoom.high);
    const std::vector<Axis>& axes = scales.axes;

    // The plot area is painted as one opaque image: its background and grid, then the curves
    // written as pixels. QPainter's cosmetic lines cost about 100 ns a segment, which for 10
    // series of a few thousand segments each was most of a repaint.
    if (m_curves.size() != QSize(static_cast<int>(columns), rows)) {
        m_curves = QImage(static_cast<int>(columns), rows, QImage::Format_RGB32);
    }
    m_curves.setDevicePixelRatio(ratio);
    m_curves.fill(colours.color(QPalette::Base));
    const QColor gridColour = colours.color(QPalette::Mid);
    const double timeStep =
        niceTimeStep(shown.span(), std::max(2, area.width() / font.tickSpacing));
    const QDateTime startLocal =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(shown.from)));
    const double offset = startLocal.offsetFromUtc() * 1000.0;  // ticks on local time
    const double firstTick = std::ceil((shown.from + offset) / timeStep) * timeStep - offset;
    const auto xFor = [&](double time) {
        return area.left() +
               static_cast<int>(std::lround((time - shown.from) * area.width() / shown.span()));
    };
    // The grid, dotted, written as pixels like the curves: a dotted QPainter line is slow.
    const QRgb gridPixel = gridColour.rgb();
    for (double t = firstTick; t <= shown.to; t += timeStep) {
        writeVerticalDots(m_curves, static_cast<int>(std::lround((xFor(t) - area.left()) * ratio)),
                          gridPixel);
    }
    if (!axes.empty() && !axes[0].led) {
        const Ticks ticks = niceTicks(axes[0].range.low, axes[0].range.high, maxTicks);
        for (int i = 0; i < ticks.count; ++i) {
            const int y = yFor(ticks.value(i), axes[0].range, area) - area.top();
            writeHorizontalDots(m_curves, static_cast<int>(std::lround(y * ratio)), gridPixel);
        }
    }

    for (std::size_t i = 0; i < m_visible.size(); ++i) {
        writeCurve(m_curves, m_columns[i], scales.ofSeries[i], m_colours[m_visible[i]].rgb());
    }
    painter.drawImage(area.topLeft(), m_curves);

    painter.save();
    painter.setClipRect(area);
    // The cursors, and the box being drawn.
    const QColor textColour = colours.color(QPalette::Text);
    for (std::size_t c = 0; c < m_cursors.size(); ++c) {
        if (!m_cursors[c] || *m_cursors[c] < shown.from || *m_cursors[c] > shown.to) continue;
        const int x = xFor(*m_cursors[c]);
        painter.setPen(QPen(textColour, 0, Qt::DashLine));
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.drawText(x + 3, area.top() + font.ascent + 1,
                         c == 0 ? QStringLiteral("A") : QStringLiteral("B"));
    }
    if (m_drag == Drag::Box && m_moved) {
        painter.setPen(QPen(textColour, 0, Qt::DashLine));
        painter.drawRect(QRect(m_pressAt, m_dragTo).normalized());
    }
    painter.restore();

    painter.setPen(QPen(gridColour, 0));
    painter.drawRect(area.adjusted(0, 0, -1, -1));

    painter.setPen(textColour);
    const int width = axisWidth();
    drawYAxes(painter, m_texts, axes, area, width, font.height, maxTicks);

    // The time axis, in local time.
    const QString format =
        timeStep < 1000 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss");
    for (double t = firstTick; t <= shown.to; t += timeStep) {
        const int x = xFor(t);
        const QString text =
            QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(t))).toString(format);
        painter.drawLine(x, area.bottom(), x, area.bottom() + 3);
        // Centred under its tick; a box as wide as the widget, so the label is never cut.
        m_texts.draw(painter, QRect(x - width, area.bottom() + 4, 2 * width, font.height),
                     Qt::AlignCenter, text);
    }

    if (m_visible.empty()) {
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
                         tr("Tick a parameter in the list to plot it."));
    } else if (plan.normalised) {
        // Above the plot, beside the axis' title: the curves keep the whole area.
        const QRect note(area.left() + width / 2, 0, area.width() - width / 2, area.top() - 2);
        if (note.width() != m_noteWidth) {
            m_noteWidth = note.width();
            m_note = fontMetrics().elidedText(tr("Each curve from its least (0 %) to its "
                                                 "greatest (100 %) value shown"),
                                              Qt::ElideRight, note.width());
        }
        m_texts.draw(painter, note,
                     static_cast<int>(Qt::AlignRight) | static_cast<int>(Qt::AlignBottom), m_note);
    }
}

void PlotWidget::zoomTime(double factor, double anchor) {
    const TimeRange now = range();
    const double span = std::clamp(now.span() * factor, kMinSpan, kMaxSpan);
    if (m_following) {
        m_span = span;
    } else {
        const double share = (anchor - now.from) / now.span();
        m_range = {anchor - share * span, anchor - share * span + span};
    }
    update();
}

void PlotWidget::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    // Live, the zoom keeps the right edge on the latest data; otherwise it keeps the time under
    // the pointer where it is.
    zoomTime(std::pow(0.8, notches), timeAt(static_cast<int>(event->position().x())));
    event->accept();
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
    m_pressAt = event->position().toPoint();
    m_dragTo = m_pressAt;
    m_moved = false;
    m_rangeAtPress = range();
    if (event->button() == Qt::MiddleButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier))) {
        m_drag = Drag::Pan;
    } else if (event->button() == Qt::LeftButton) {
        m_drag = Drag::Box;
    } else {
        m_drag = Drag::None;
    }
    event->accept();
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
    m_dragTo = event->position().toPoint();
    if (!m_moved && (m_dragTo - m_pressAt).manhattanLength() < kClickSlop) return;
    m_moved = true;
    if (m_drag == Drag::Pan) {
        const double shift = (m_dragTo.x() - m_pressAt.x()) * m_rangeAtPress.span() /
                             std::max(plotArea().width(), 1);
        setRange({m_rangeAtPress.from - shift, m_rangeAtPress.to - shift});
    }
    update();
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event) {
    const Drag drag = std::exchange(m_drag, Drag::None);
    const QPoint at = event->position().toPoint();
    if (!m_moved) {
        // A click: cursor A with the left button, B with the right one.
        if (event->button() == Qt::LeftButton && drag == Drag::Box)
            setCursorTime(0, timeAt(at.x()));
        if (event->button() == Qt::RightButton) setCursorTime(1, timeAt(at.x()));
        return;
    }
    if (drag == Drag::Box) {
        const QRect area = plotArea();
        const QRect box = QRect(m_pressAt, at).normalized().intersected(area);
        if (box.width() >= 2 && box.height() >= 2) {
            const double from = timeAt(box.left());
            const double to = timeAt(box.right() + 1);
            // The box's top and bottom as fractions of the height shown, from the bottom.
            const double bottom =
                static_cast<double>(area.bottom() - box.bottom()) / (area.height() - 1);
            const double top = static_cast<double>(area.bottom() - box.top()) / (area.height() - 1);
            const double length = m_yZoom.high - m_yZoom.low;
            m_yZoom = {m_yZoom.low + length * bottom, m_yZoom.low + length * top};
            setRange({from, to});
        }
    }
    update();
}

void PlotWidget::keyPressEvent(QKeyEvent* event) {
    const TimeRange now = range();
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoomTime(0.8, (now.from + now.to) / 2);
            break;
        case Qt::Key_Minus:
            zoomTime(1.25, (now.from + now.to) / 2);
            break;
        case Qt::Key_Left:
            setRange({now.from - now.span() / 10, now.to - now.span() / 10});
            break;
        case Qt::Key_Right:
            setRange({now.from + now.span() / 10, now.to + now.span() / 10});
            break;
        case Qt::Key_Home:
            fitToData();
            break;
        case Qt::Key_Delete:
            setCursorTime(0, std::nullopt);
            setCursorTime(1, std::nullopt);
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

}  // namespace orvale::plot
