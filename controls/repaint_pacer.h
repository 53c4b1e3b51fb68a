#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

namespace orvale::controls {

/// Paces repaints to the screen: a saturated line changes a display about 820 times a second,
/// far more often than a screen shows it. Widgets ask here instead of calling update()
/// themselves; every widget asked for is repainted once at the end of the current frame. Frames
/// end one screen refresh (kFrameUs) apart, and a change after a quiet spell ends one at once, so
/// the window shows the latest value within one screen refresh and repaints each widget at most
/// once a frame. Other deferred work (formatting, box texts) joins the same frame with
/// requestWork().
class RepaintPacer final : public QObject {
    Q_OBJECT

public:
    /// One screen refresh at 60 Hz, in microseconds.
    static constexpr qint64 kFrameUs = 16'667;

    /// The pacer of the user-interface thread.
    static RepaintPacer& instance();

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
    RepaintPacer();
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
