#include "controls/repaint_pacer.h"

#include <QWidget>
#include <algorithm>

namespace orvale::controls {

namespace {

// The window's dynamic property that names its pacer.
constexpr const char* kPacerProperty = "orvaleRepaintPacer";

// The window asked about last and its pacer: widgets ask with every change, nearly always
// about the same window, and a property lookup each time would cost more than the request.
struct LastLookup {
    QPointer<const QWidget> window;
    QPointer<RepaintPacer> pacer;
};
LastLookup& lastLookup() {
    static LastLookup last;
    return last;
}

}  // namespace

RepaintPacer::RepaintPacer(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RepaintPacer::flush);
}

RepaintPacer::~RepaintPacer() = default;

void RepaintPacer::attachTo(QWidget* window) {
    window->setProperty(kPacerProperty, QVariant::fromValue(static_cast<QObject*>(this)));
    lastLookup() = {};
}

RepaintPacer* RepaintPacer::of(const QWidget* widget) {
    const QWidget* window = widget->window();
    LastLookup& last = lastLookup();
    if (last.window == window && last.window) return last.pacer;
    const QVariant pacer = window->property(kPacerProperty);
    last = {window,
            pacer.isValid() ? qobject_cast<RepaintPacer*>(pacer.value<QObject*>()) : nullptr};
    return last.pacer;
}

void RepaintPacer::repaint(QWidget* widget, const QRect& area) {
    if (RepaintPacer* pacer = of(widget)) {
        pacer->request(widget, area);
    } else if (area.isNull()) {
        widget->update();
    } else {
        widget->update(area);
    }
}

void RepaintPacer::defer(QWidget* owner, std::function<void()> work) {
    if (RepaintPacer* pacer = of(owner)) {
        pacer->requestWork(owner, std::move(work));
    } else {
        work();
    }
}

void RepaintPacer::countPaintOf(const QWidget* widget) {
    if (RepaintPacer* pacer = of(widget)) pacer->countPaint();
}

void RepaintPacer::startFrame() {
    if (m_timer.isActive()) return;
    // A frame ends a whole frame after the last one: a first change after a quiet spell is
    // painted as soon as the events at hand are handled, without waiting (nor waking) again.
    const qint64 since = m_sinceFrame.isValid() ? m_sinceFrame.nsecsElapsed() / 1000 : kFrameUs;
    const qint64 left = std::clamp<qint64>(kFrameUs - since, 0, kFrameUs);
    m_timer.start(static_cast<int>((left + 500) / 1000));
}

void RepaintPacer::request(QWidget* widget) { request(widget, QRect()); }

void RepaintPacer::request(QWidget* widget, const QRect& area) {
    const auto same = [widget](const Pending& pending) { return pending.widget == widget; };
    if (const auto it = std::find_if(m_widgets.begin(), m_widgets.end(), same);
        it != m_widgets.end()) {
        // A whole-widget request stays whole.
        if (!it->area.isNull()) it->area = area.isNull() ? QRect() : it->area.united(area);
    } else {
        m_widgets.push_back({widget, area});
    }
    startFrame();
}

void RepaintPacer::requestWork(QObject* owner, std::function<void()> work) {
    const auto same = [owner](const auto& entry) { return entry.first == owner; };
    if (std::find_if(m_work.begin(), m_work.end(), same) == m_work.end()) {
        m_work.emplace_back(owner, std::move(work));
    }
    startFrame();
}

void RepaintPacer::flush() {
    ++m_frames;
    m_sinceFrame.start();
    // The work may ask for more repaints; they belong to this frame.
    auto work = std::move(m_work);
    m_work.clear();
    for (auto& [owner, run] : work) {
        if (owner) run();
    }
    auto widgets = std::move(m_widgets);
    m_widgets.clear();
    for (const auto& [widget, area] : widgets) {
        if (!widget) continue;
        if (area.isNull()) {
            widget->update();
        } else {
            widget->update(area);
        }
    }
    // What the work asked for was repainted above: no frame is left to end.
    if (m_work.empty() && m_widgets.empty()) m_timer.stop();
}

}  // namespace orvale::controls
