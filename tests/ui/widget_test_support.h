#pragma once

#include <QApplication>
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

/// Ends the repaint frame of every window's pacer and delivers every pending update request, so
/// that each scheduled repaint has happened.
inline void flushPaints() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (controls::RepaintPacer* pacer = controls::RepaintPacer::of(window)) pacer->flush();
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

/// Gives `window` a repaint pacer of its own (as the main window has), shows it and waits (up to
/// a generous deadline) until it can be painted.
inline bool showExposed(QWidget& window) {
    if (controls::RepaintPacer::of(&window) == nullptr) {
        (new controls::RepaintPacer(&window))->attachTo(&window);
    }
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
