#include "bus/bus_monitor.h"

#include <algorithm>

namespace orvale::bus {

BusMonitor::BusMonitor(const session::DeviceSession& session, std::string interfaceText)
    : m_session(session), m_interface(std::move(interfaceText)) {}

void BusMonitor::onFrame(const fms::CanFrame& frame, std::uint64_t timeMs) noexcept {
    m_check.onFrame(frame, timeMs);
}

void BusMonitor::setLinkStatus(std::string text, bool problem) {
    m_linkStatus = std::move(text);
    m_linkProblem = problem;
}

void BusMonitor::linkReopened(std::uint64_t nowMs) noexcept { m_check.reset(nowMs); }

void BusMonitor::refresh(std::uint64_t nowMs) {
    if (m_expectationStale) {
        // Built only when the session reported something: it copies the boxes' texts.
        m_expectationStale = false;
        std::optional<Expectation> now = expectationOf(m_session);
        if (now != m_expectation) m_expectation = std::move(now);
    }
    m_check.expect(m_expectation, m_session.displays(), nowMs);
    m_check.refresh(nowMs);
    ++m_refreshes;
    // A view may remove itself while it is told.
    const std::vector<BusListener*> listeners = m_listeners;
    for (BusListener* listener : listeners) {
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end()) {
            listener->busRefreshed(*this);
        }
    }
}

void BusMonitor::addListener(BusListener* listener) {
    if (std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end()) {
        m_listeners.push_back(listener);
    }
}

void BusMonitor::removeListener(BusListener* listener) {
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                      m_listeners.end());
}

void BusMonitor::displaysChanged(std::uint8_t /*position*/, const session::Displays& /*displays*/) {
    m_expectationStale = true;
}

void BusMonitor::stateChanged(session::SessionState /*state*/) { m_expectationStale = true; }

}  // namespace orvale::bus
