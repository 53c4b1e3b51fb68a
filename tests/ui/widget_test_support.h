#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QWindow>

#include "controls/repaint_pacer.h"

namespace orvale::ui::test {

/// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    [[nodiscard]] int count() const { return m_count; }
    void reset() { m_count = 0; }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++m_count;
        return false;
    }

private:
    int m_count = 0;
};

/// Ends the repaint frame and delivers every pending update request, so that each scheduled
/// repaint has happened.
inline void flushPaints() {
    controls::RepaintPacer::instance().flush();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

/// Shows `window` and waits (up to a generous deadline) until it can be painted.
inline bool showExposed(QWidget& window) {
    window.show();
    const QDeadlineTimer deadline(10000);
    while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    flushPaints();
    return true;
}

}  // namespace orvale::ui::test
