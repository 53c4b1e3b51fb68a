#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

namespace orvale::controls {

/// Paces repaints to the screen: a saturated line changes a display about 820 times a second,
/// far more often than a screen shows it. Widgets ask here instead of calling update()
/// themselves; every widget asked for is repainted once at the end of the current frame. Frames
/// end one screen refresh (kFrameUs) apart, and a change after a quiet spell ends one at once, so
/// the window shows the latest value within one screen refresh and repaints each widget at most
/// once a frame. Other deferred work (formatting, box texts) joins the same frame with
/// requestWork().
///
/// Each window that owns paced widgets owns its pacer and attaches it (attachTo()); a widget
/// finds the pacer of the window it sits in (of()). A widget outside such a window repaints and
/// does its deferred work at once.
class RepaintPacer final : public QObject {
    Q_OBJECT

public:
    /// One screen refresh at 60 Hz, in microseconds.
    static constexpr qint64 kFrameUs = 16'667;

    explicit RepaintPacer(QObject* parent = nullptr);
    ~RepaintPacer() override;

    /// Makes this the pacer of every widget inside `window`.
    void attachTo(QWidget* window);
    /// The pacer of the window `widget` sits in; null when it has none.
    [[nodiscard]] static RepaintPacer* of(const QWidget* widget);
    /// Repaints `widget` (its part `area`, or the whole of it for a null area) at the end of
    /// the frame of its window's pacer, or now when it has none.
    static void repaint(QWidget* widget, const QRect& area = QRect());
    /// Runs `work` at the end of the frame of `owner`'s pacer, or now when it has none.
    static void defer(QWidget* owner, std::function<void()> work);
    /// Counts a paint event of `widget` with its window's pacer.
    static void countPaintOf(const QWidget* widget);

    /// Repaints `widget` at the end of the current frame.
    void request(QWidget* widget);
    /// Repaints the part `area` of `widget` (its own coordinates) at the end of the current
    /// frame; parts asked for in one frame are repainted together.
    void request(QWidget* widget, const QRect& area);
    /// Runs `work` at the end of the current frame, once however often asked in that frame.
    /// `owner` identifies the work; it is dropped with the owner.
    void requestWork(QObject* owner, std::function<void()> work);
    /// Ends the current frame now: runs the deferred work and repaints what was asked for.
    void flush();

    /// Milliseconds until the current frame ends, or -1 when no frame is open.
    [[nodiscard]] int msUntilFrameEnds() const {
        return m_timer.isActive() ? m_timer.remainingTime() : -1;
    }

    /// Paint events counted by the widgets (countPaint()).
    [[nodiscard]] std::uint64_t paints() const { return m_paints; }
    /// Frames ended so far.
    [[nodiscard]] std::uint64_t frames() const { return m_frames; }
    void countPaint() { ++m_paints; }

private:
    void startFrame();

    struct Pending {
        QPointer<QWidget> widget;
        QRect area;  // the part to repaint; null for the whole widget
    };

    QTimer m_timer;
    QElapsedTimer m_sinceFrame;  // since the last frame ended
    std::vector<Pending> m_widgets;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> m_work;
    std::uint64_t m_paints = 0;
    std::uint64_t m_frames = 0;
};

}  // namespace orvale::controls
