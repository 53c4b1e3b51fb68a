#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/bus_check.h"
#include "bus/expected_state.h"
#include "session/device_session.h"

namespace orvale::bus {

class BusMonitor;

/// A view of the bus check: the bus window, the control API's `bus` events, the main window's
/// marks. Told after each refresh, on the session's thread.
class BusListener {
public:
    virtual ~BusListener() = default;
    virtual void busRefreshed(const BusMonitor& monitor) = 0;
};

/// The bus check of one CAN interface against one device session: frames go in as they come,
/// the session's reports keep the expectation, and refresh() (a few times a second) brings the
/// rows up to date and tells the views. Plain C++ over the caller's millisecond clock; the Qt
/// edge (QtBusMonitor) owns the interface and the timer.
class BusMonitor final : public session::SessionObserver {
public:
    /// `interfaceText` names the interface for the views ("virtualcan:can0").
    BusMonitor(const session::DeviceSession& session, std::string interfaceText);

    void onFrame(const fms::CanFrame& frame, std::uint64_t timeMs) noexcept;
    /// What the interface is doing: listening, or what is wrong with it (`problem`).
    void setLinkStatus(std::string text, bool problem);
    /// The interface was opened again: frames seen before are forgotten.
    void linkReopened(std::uint64_t nowMs) noexcept;
    /// Takes the session's expectation if it changed, refreshes the check and tells the views.
    void refresh(std::uint64_t nowMs);

    [[nodiscard]] const BusCheck& check() const noexcept { return m_check; }
    [[nodiscard]] const std::string& interfaceText() const noexcept { return m_interface; }
    [[nodiscard]] const std::string& linkStatus() const noexcept { return m_linkStatus; }
    [[nodiscard]] bool linkProblem() const noexcept { return m_linkProblem; }
    /// Rows refreshed so far: a view that missed a refresh can tell.
    [[nodiscard]] std::uint64_t refreshes() const noexcept { return m_refreshes; }

    void addListener(BusListener* listener);
    void removeListener(BusListener* listener);

    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void stateChanged(session::SessionState state) override;

private:
    const session::DeviceSession& m_session;
    std::string m_interface;
    std::string m_linkStatus;
    bool m_linkProblem = false;
    BusCheck m_check;
    std::optional<Expectation> m_expectation;
    bool m_expectationStale = true;
    std::uint64_t m_refreshes = 0;
    std::vector<BusListener*> m_listeners;
};

}  // namespace orvale::bus
