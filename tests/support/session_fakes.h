#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "session/port_configuration.h"
#include "session/watchdog_timer.h"

namespace orvale::test {

/// A watchdog that ticks only when a test says so.
class ManualWatchdogTimer final : public session::WatchdogTimer {
public:
    void start(unsigned periodMs) override {
        m_period = periodMs;
        ++starts;
    }
    void stop() override { m_period = 0; }
    [[nodiscard]] unsigned period() const override { return m_period; }
    /// One tick, as the event loop would run it.
    void fire() { tick(); }

    unsigned starts = 0;

private:
    unsigned m_period = 0;
};

/// A port configuration file in memory: what it reads and everything stored.
class MemoryPortFile final : public session::PortConfiguration {
public:
    std::string read() override { return portText; }
    void store(std::string_view text) override { stored.emplace_back(text); }
    std::string portText = "COM1";
    std::vector<std::string> stored;
};

}  // namespace orvale::test
