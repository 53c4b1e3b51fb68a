#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <string_view>

#include "bus/bus_monitor.h"
#include "bus/can_target.h"
#include "bus/qt_can_bus.h"
#include "session/device_session.h"

namespace orvale::bus {

/// --can: the bus check on a CAN interface, kept up for the whole run. Owns the interface (it
/// follows the device's CAN baud rate unless the target names one), feeds every frame to the
/// check and to the frame log, and refreshes the check four times a second for its views.
class QtBusMonitor final : public QObject, public session::SessionObserver {
    Q_OBJECT

public:
    /// One line of the frame log (--can-log), without its end.
    using LineSink = std::function<void(std::string_view line)>;
    /// A problem with the interface, or news that it works again, for standard error.
    using Reporter = std::function<void(const std::string& text, bool problem)>;

    QtBusMonitor(session::DeviceSession& session, CanTarget target, QObject* parent = nullptr);
    ~QtBusMonitor() override;

    QtBusMonitor(const QtBusMonitor&) = delete;
    QtBusMonitor& operator=(const QtBusMonitor&) = delete;

    void setReporter(Reporter reporter) { m_reporter = std::move(reporter); }
    /// Every frame seen from now on, as a candump log line timed by the wall clock (the clock of
    /// the CSV recording, so that the two line up).
    void setFrameLog(LineSink sink) { m_frameLog = std::move(sink); }
    /// Opens the interface and starts the refreshes.
    void start();

    [[nodiscard]] BusMonitor& monitor() noexcept { return m_monitor; }
    [[nodiscard]] const BusMonitor& monitor() const noexcept { return m_monitor; }

    void identityChanged(const session::Identity& identity) override;

private:
    void onFrame(const fms::CanFrame& frame, std::uint64_t timeMs);
    void onReport(const std::string& text, bool problem);

    session::DeviceSession& m_session;
    CanTarget m_target;
    BusMonitor m_monitor;
    CanBusLink m_link;
    QTimer m_refresh;
    Reporter m_reporter;
    LineSink m_frameLog;
    std::string m_line;
};

}  // namespace orvale::bus
