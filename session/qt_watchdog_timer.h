#pragma once

#include <QTimer>

#include "session/watchdog_timer.h"

namespace orvale::session {

/// The watchdog on a precise QTimer of the user-interface thread's event loop.
class QtWatchdogTimer final : public WatchdogTimer {
public:
    QtWatchdogTimer();

    void start(unsigned periodMs) override;
    void stop() override { m_timer.stop(); }
    [[nodiscard]] unsigned period() const override;

private:
    QTimer m_timer;
};

}  // namespace orvale::session
