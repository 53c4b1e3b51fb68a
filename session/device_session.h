#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/clock.h"
#include "link/protocol.h"
#include "link/receiver.h"
#include "link/serial_control.h"
#include "link/window_port.h"
#include "model/presentation.h"
#include "session/port_configuration.h"
#include "session/watchdog_timer.h"

/// The device session: one connection to one device, whatever shows it or drives it.
namespace orvale::session {

/// The connection's five states, as the main window's controls show them.
enum class SessionState {
    IdleWatchdogRunning,  ///< Connect enabled, port closed, the watchdog will connect
    IdleWatchdogStopped,  ///< after Disconnect, a refused open or a model outside 8 to 15
    Identifying,          ///< the identify command is out (or the port could not be opened)
    Connected,            ///< a Plus model on 0.3B/0.3C: remote control, broadcasts applied
    IdentityOnly,         ///< another known model: identity shown, broadcasts dropped
};

/// "idle", "identifying", "connected", "identity only" ...: for logs and other views.
[[nodiscard]] std::string_view toString(SessionState state);

/// What the parameter displays show: the numbers and LED states of the last evaluation (the
/// Parking LED dark after a teardown) and the texts as the boxes hold them. Element i belongs
/// to model::kNumericDisplays[i], kLeds[i] and kTextDisplays[i].
struct Displays {
    std::array<double, model::kNumericDisplayCount> numbers{};
    std::array<bool, model::kLedCount> leds{};
    std::array<std::string, model::kTextDisplayCount> texts{};

    friend bool operator==(const Displays&, const Displays&) = default;
};

/// The device's identity as the identity boxes show it.
struct Identity {
    bool identified = false;  ///< a known model answered (the device-identified flag)
    std::uint8_t productId = 0;
    std::string modelName;
    std::uint32_t serialNumber = 0;
    std::string firmwareVersion;
    std::string canBaudRate;
    std::string vinStyle;
    std::string firmwareBuild;

    friend bool operator==(const Identity&, const Identity&) = default;
};

/// An answer the device gives to a command: the position command's "ACK %" and the key
/// command's "ACK KI".
enum class Acknowledgement { Position, Key };

/// A view of the session: the main window, the recorder, a log. Every report comes on the
/// thread that drives the session, in the order things happen; none may call back into the
/// session's commands except message(), whose nested event loop may.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;

    /// The fields were pushed: the port text, the identity texts, the Dynamic and Quiet states.
    virtual void fieldsPushed(const link::WindowFields& /*fields*/) {}
    /// The parameter displays changed (an evaluation of the model, a teardown); reported with
    /// the push that follows, with the position last evaluated, and only when they differ from
    /// what was reported last.
    virtual void displaysChanged(std::uint8_t /*position*/, const Displays& /*displays*/) {}
    /// Connect, Disconnect or a control of the remote-control group was enabled or disabled.
    virtual void controlEnabled(int /*controlId*/, bool /*enabled*/) {}
    /// The session moved the slider: a position broadcast, a teardown.
    virtual void sliderMoved(double /*position*/) {}
    /// Reported when a command or event has run (or before a message it leads to), when the
    /// state differs from the one reported last.
    virtual void stateChanged(SessionState /*state*/) {}
    /// Reported with a push when the identity differs from the one reported last.
    virtual void identityChanged(const Identity& /*identity*/) {}
    /// A message for the user. The window shows it in a modal box whose event loop keeps ticks
    /// and receive events going; other views may log it. The same text is not reported again
    /// while a report of it is still running.
    virtual void message(std::string_view /*text*/, link::MessageIcon /*icon*/) {}
    /// The device acknowledged a position or key command (after its effect was applied).
    virtual void acknowledged(Acknowledgement /*what*/) {}
    /// A refusal of the serial control whose message() report is still running is no longer
    /// true (the port has opened since): a view showing it takes it away.
    virtual void messageWithdrawn(std::string_view /*text*/) {}
};

/// The controls the operator sets on a view (the port list, the Dynamic and Quiet check
/// boxes). A pull copies them into the fields, as the window's data exchange does.
class OperatorInputs {
public:
    virtual ~OperatorInputs() = default;
    virtual void pullInputs(link::WindowFields& fields) = 0;
};

/// One device connection and the flows that run it: the port open and close, connect,
/// disconnect and teardown, the watchdog, identity acceptance and the firmware gate (through
/// the receiver), the busy flags, key and position commands through the paced transmitter, the
/// settings change with its two settle-and-reconnects, and the evaluation of the parameter
/// model. Views observe it (SessionObserver) and drive it through its commands; none of them
/// holds connection state of its own. Plain C++: the serial control, the clock, the port file
/// and the watchdog timer are injected.
///
/// A serial access the control refuses stops the command or event where it arose; the refusal
/// is reported as a message. Refusals that merely repeat (a port that stays missing, retried by
/// every tick) are reported once until a port opens again; a command the operator gave is
/// always answered.
class DeviceSession final : public link::WindowPort {
public:
    DeviceSession(link::SerialControl& serial, link::MillisecondClock& clock,
                  PortConfiguration& portFile, WatchdogTimer& watchdog);
    ~DeviceSession() override;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    void addObserver(SessionObserver* observer);
    void removeObserver(SessionObserver* observer);
    /// The view whose controls a pull reads; none (the default) leaves the fields as they are.
    void setOperatorInputs(OperatorInputs* inputs) { m_inputs = inputs; }

    // --- events -----------------------------------------------------------------------------
    /// Start-up, once: teardown, the port file, the busy flags cleared, the watchdog at 100 ms.
    /// The first tick connects without anybody asking.
    void initialise();
    /// The serial control's receive event (OnComm).
    void onComm();
    /// A tick of the watchdog.
    void onWatchdogTick();

    // --- commands; each returns false when the serial control refused and stopped it --------
    bool connect();
    bool disconnect();
    /// Down and Up are sent as they are; Dynamic and Quiet first mark their check box as the
    /// operator's until the device acknowledges.
    bool pressKey(link::Key key);
    /// The operator started moving the slider: position broadcasts leave it alone until the
    /// device acknowledges a position.
    void markSliderBusy() { m_state.sliderBusy = true; }
    /// Sends `position` truncated toward zero, low 8 bits (99.9 is sent as 99).
    bool sendPosition(double position);
    /// Sends a CAN baud rate or VIN style command, then waits 500 ms and reconnects, twice.
    bool changeSetting(std::string_view command);
    /// Chooses the port the next connect opens ("COM3"), as the operator does in the port list.
    void selectPort(std::string_view portText);
    /// Closes the port and stops the watchdog: the program is about to end.
    bool exit();

    // --- data exchange ----------------------------------------------------------------------
    /// Copies the operator's inputs into the fields.
    void pullFields() override;
    /// Reports the fields (and the displays, state and identity when they changed) to every
    /// observer.
    void pushFields() override;

    // --- for views that drive the device beside the window ---------------------------------
    /// Remote control is enabled: a Plus model on firmware 0.3B or 0.3C is connected.
    [[nodiscard]] bool remoteControlEnabled() const { return state() == SessionState::Connected; }
    /// The device's CAN baud rate and VIN style may be changed (link::settingsChangeAllowed).
    [[nodiscard]] bool settingsChangeAllowed() const;
    /// Why a command from another view should not run now, or empty: a message is being shown
    /// (its box holds the window), a view holds a dialog open, a settings change is running.
    [[nodiscard]] std::string busyReason() const;

    /// Held by a view while it shows a modal dialog that acts on the device (the device
    /// information dialog): other views are told the session is busy meanwhile.
    class ModalScope {
    public:
        ModalScope(DeviceSession& session, std::string what);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        DeviceSession& m_session;
        std::string m_previous;
    };

    // --- what the session holds ---------------------------------------------------------------
    [[nodiscard]] SessionState state() const;
    [[nodiscard]] Identity identity() const;
    [[nodiscard]] const link::ConnectionState& connection() const { return m_state; }
    [[nodiscard]] link::ConnectionState& connection() { return m_state; }
    [[nodiscard]] const link::WindowFields& fields() const { return m_fields; }
    [[nodiscard]] link::WindowFields& fields() { return m_fields; }
    [[nodiscard]] const Displays& displays() const { return m_displays; }
    [[nodiscard]] std::uint8_t evaluatedPosition() const { return m_evaluatedPosition; }
    /// True once a broadcast of the device's position has been applied since the device was
    /// last torn down: until then the displays show placeholders, not the device.
    [[nodiscard]] bool positionKnown() const { return m_positionKnown; }
    [[nodiscard]] double sliderPosition() const { return m_sliderPosition; }
    [[nodiscard]] bool isEnabled(int controlId) const;
    /// The watchdog's period in ms; 0 while it is stopped.
    [[nodiscard]] unsigned watchdogPeriod() const { return m_watchdog.period(); }
    /// The text of the last refusal of the serial control; empty when none came yet.
    [[nodiscard]] const std::string& lastError() const { return m_lastError; }
    /// Evaluations of the parameter model and messages reported so far (for measurements).
    [[nodiscard]] std::uint64_t evaluations() const { return m_evaluations; }
    [[nodiscard]] std::uint64_t messagesReported() const { return m_messagesReported; }
    [[nodiscard]] const link::Receiver& receiver() const { return m_receiver; }

private:
    enum class Origin { Operator, Automatic };

    // link::WindowPort: what the receiver calls.
    void enableControl(int controlId, bool enable) override;
    void restartWatchdog(unsigned periodMs) override;
    void stopWatchdog() override;
    void disconnectDevice() override;
    void storePortFile() override;
    void setSliderPosition(double position) override;
    void evaluateModel(std::uint8_t position) override;
    void showMessage(std::string_view text, link::MessageIcon icon) override;

    template <class Action>
    bool guarded(Origin origin, Action&& action);
    void teardown();
    enum class Teardown : bool { No, Yes };
    void evaluate(std::uint8_t position, Teardown teardown);
    void setNumber(std::size_t index, double value);
    void setLed(std::size_t index, bool lit);
    void setText(std::size_t index, std::string_view text);
    void connectDevice();
    void sendKey(std::uint8_t keyCode);
    void portLost();
    void reportState();
    void reportIdentity();
    template <class Report>
    void notify(Report&& report);

    link::SerialControl& m_serial;
    link::MillisecondClock& m_clock;
    PortConfiguration& m_portFile;
    WatchdogTimer& m_watchdog;

    link::ConnectionState m_state;
    link::WindowFields m_fields;
    link::Receiver m_receiver;
    model::VinBuffer m_vin;
    model::Presentation m_presentation;
    Displays m_displays;
    std::uint8_t m_reportedPosition = 0;
    bool m_displaysReported = false;
    bool m_displaysChanged = false;  // a display differs from what was reported last
    std::uint8_t m_evaluatedPosition = 0;
    bool m_positionKnown = false;
    bool m_displaysDirty = false;
    double m_sliderPosition = 0;
    std::map<int, bool> m_enabled;

    std::vector<SessionObserver*> m_observers;
    int m_notifying = 0;  // reports running; removal only blanks the slot meanwhile
    OperatorInputs* m_inputs = nullptr;
    std::set<std::string> m_openMessages;  // reports running right now
    std::set<std::string> m_openRefusals;  // refusals among them
    std::string m_lastSerialError;         // reported once until a port opens again
    std::string m_lastError;
    bool m_initialised = false;
    bool m_changingSetting = false;
    std::string m_modal;  // the dialog a view holds open, if any
    bool m_stateReported = false;
    SessionState m_reportedState = SessionState::IdleWatchdogRunning;
    Identity m_reportedIdentity;
    bool m_identityReported = false;
    std::uint64_t m_evaluations = 0;
    std::uint64_t m_messagesReported = 0;
};

}  // namespace orvale::session
