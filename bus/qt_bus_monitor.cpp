#include "bus/qt_bus_monitor.h"

#include "bus/bus_clock.h"
#include "fms/can_log.h"

namespace orvale::bus {
namespace {

// Four times a second: a fault shows within a quarter of a second of the check seeing it,
// and the rows cost next to nothing to build (about 12 µs).
constexpr int kRefreshMs = 250;

}  // namespace

QtBusMonitor::QtBusMonitor(session::DeviceSession& session, CanTarget target, QObject* parent)
    : QObject(parent),
      m_session(session),
      m_target(std::move(target)),
      m_monitor(session, m_target.text()),
      m_link(m_target) {
    m_link.setFrameHandler(
        [this](const fms::CanFrame& frame, std::uint64_t timeMs) { onFrame(frame, timeMs); });
    m_link.setReporter([this](const std::string& text, bool problem) { onReport(text, problem); });
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, [this] { m_monitor.refresh(steadyMs()); });
    m_session.addObserver(&m_monitor);
    m_session.addObserver(this);
}

QtBusMonitor::~QtBusMonitor() {
    m_session.removeObserver(this);
    m_session.removeObserver(&m_monitor);
}

void QtBusMonitor::start() {
    identityChanged(m_session.identity());
    m_link.start();
    m_refresh.start();
    m_monitor.refresh(steadyMs());
}

void QtBusMonitor::identityChanged(const session::Identity& identity) {
    // The device's CAN baud rate is the bus's, unless the command line named one.
    m_link.setDeviceBitrate(identity.identified ? bitrateOfBaudText(identity.canBaudRate)
                                                : std::nullopt);
}

void QtBusMonitor::onFrame(const fms::CanFrame& frame, std::uint64_t timeMs) {
    m_monitor.onFrame(frame, timeMs);
    if (m_frameLog) {
        m_line.clear();
        fms::appendCandumpLine(m_line, frame, wallMicros(), m_target.interface);
        if (!m_line.empty() && m_line.back() == '\n') m_line.pop_back();
        m_frameLog(m_line);
    }
}

void QtBusMonitor::onReport(const std::string& text, bool problem) {
    const bool wasProblem = m_monitor.linkProblem();
    m_monitor.setLinkStatus(text, problem);
    // Back after a failure: what was seen before belongs to another connection.
    if (wasProblem && !problem) m_monitor.linkReopened(steadyMs());
    if (m_reporter) m_reporter(text, problem);
}

}  // namespace orvale::bus
