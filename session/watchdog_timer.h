#pragma once

#include <functional>

namespace orvale::session {

/// The watchdog: one repeating timer (the window's timer 2) whose ticks drop a silent device
/// and identify it again. Injected so that the session's flows run without an event loop;
/// QtWatchdogTimer is the real one, tests tick a fake by hand.
class WatchdogTimer {
public:
    virtual ~WatchdogTimer() = default;

    /// Kills the timer and starts it again with `periodMs`.
    virtual void start(unsigned periodMs) = 0;
    virtual void stop() = 0;
    /// The running period in milliseconds; 0 while stopped.
    [[nodiscard]] virtual unsigned period() const = 0;

    /// What a tick runs; set once by the session that owns the flows.
    void setTickHandler(std::function<void()> handler) { m_onTick = std::move(handler); }

protected:
    void tick() {
        if (m_onTick) m_onTick();
    }

private:
    std::function<void()> m_onTick;
};

}  // namespace orvale::session
