#include "session/qt_watchdog_timer.h"

namespace orvale::session {

QtWatchdogTimer::QtWatchdogTimer() {
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
}

void QtWatchdogTimer::start(unsigned periodMs) { m_timer.start(static_cast<int>(periodMs)); }

unsigned QtWatchdogTimer::period() const {
    return m_timer.isActive() ? static_cast<unsigned>(m_timer.interval()) : 0U;
}

}  // namespace orvale::session
