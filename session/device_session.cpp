#include "session/device_session.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

#include "link/connection.h"

namespace orvale::session {
namespace {

constexpr const char* kInternalError = "Internal application error.";

namespace id = model::control;

// Text displays that teardown blanks (a single space) and empties.
constexpr std::array<model::ControlId, 28> kBlankedAtTeardown = {id::kPtoState,
                                                                 id::kPtoEngaged,
                                                                 id::kVehicleIdentificationNumber,
                                                                 id::kSwVersionSupported,
                                                                 id::kDiagnosticsSupported,
                                                                 id::kRequestsSupported,
                                                                 id::kDriver1WorkingState,
                                                                 id::kDriver1Card,
                                                                 id::kDriver1TimeRelatedStates,
                                                                 id::kDriver2WorkingState,
                                                                 id::kDriver2Card,
                                                                 id::kDriver2TimeRelatedStates,
                                                                 id::kVehicleMotion,
                                                                 id::kVehicleOverspeed,
                                                                 id::kSystemEvent,
                                                                 id::kHandlingInformation,
                                                                 id::kTachographPerformance,
                                                                 id::kDirectionIndicator,
                                                                 id::kTellTaleId0,
                                                                 id::kTellTaleId1,
                                                                 id::kTellTaleId2,
                                                                 id::kTellTaleId3,
                                                                 id::kTellTaleId4,
                                                                 id::kDriver1Id,
                                                                 id::kDriver2Id,
                                                                 id::kSelectedGear,
                                                                 id::kCurrentGear,
                                                                 id::kAlternatorStatus};
constexpr std::array<model::ControlId, 10> kEmptiedAtTeardown = {
    id::kDateTime,           id::kDoorsLockStatus,    id::kDoorsOpenStatus, id::kDoorsEnableStatus,
    id::kDoorsPosition,      id::kRampWheelChairLift, id::kDoorsStatus2,    id::kFuelType,
    id::kRetarderTorqueMode, id::kCruiseControlStates};

constexpr std::size_t kParkingLed = model::indexOf(model::kLeds, id::kParkingLed);

enum class TextAtTeardown : std::uint8_t { Kept, Blanked, Emptied };

// The two lists above by text display, in the order of model::kTextDisplays.
constexpr std::array<TextAtTeardown, model::kTextDisplayCount> kTextAtTeardown = [] {
    std::array<TextAtTeardown, model::kTextDisplayCount> rules{};
    for (const model::ControlId text : kBlankedAtTeardown) {
        rules[model::indexOf(model::kTextDisplays, text)] = TextAtTeardown::Blanked;
    }
    for (const model::ControlId text : kEmptiedAtTeardown) {
        rules[model::indexOf(model::kTextDisplays, text)] = TextAtTeardown::Emptied;
    }
    return rules;
}();

void setNotFoundYet(link::WindowFields& fields) {
    for (std::string* text : {&fields.modelName, &fields.firmwareVersion, &fields.canBaudRate,
                              &fields.vinStyle, &fields.firmwareBuild}) {
        *text = link::kNotFoundYet;
    }
    fields.serialNumber = 0;
}

}  // namespace

std::string_view toString(SessionState state) {
    switch (state) {
        case SessionState::IdleWatchdogRunning:
            return "idle";
        case SessionState::IdleWatchdogStopped:
            return "idle, watchdog stopped";
        case SessionState::Identifying:
            return "identifying";
        case SessionState::Connected:
            return "connected";
        case SessionState::IdentityOnly:
            return "identity only";
    }
    return "idle";
}

DeviceSession::DeviceSession(link::SerialControl& serial, link::MillisecondClock& clock,
                             PortConfiguration& portFile, WatchdogTimer& watchdog)
    : m_serial(serial),
      m_clock(clock),
      m_portFile(portFile),
      m_watchdog(watchdog),
      m_receiver(serial, *this, m_state, m_fields) {
    // The window's template: Connect usable, Disconnect and the remote-control group not.
    m_enabled[id::kConnect] = true;
    m_enabled[id::kDisconnect] = false;
    for (const int remote : id::kRemoteControlGroup) m_enabled[remote] = false;
    m_watchdog.setTickHandler([this] { onWatchdogTick(); });
    m_receiver.setFrameListener([this](std::string_view frame) {
        namespace len = link::frame_length;
        const std::optional<Acknowledgement> ack =
            frame.size() == len::kPositionAck && frame[4] == '%' ? Acknowledgement::Position
            : frame.size() == len::kKeyAck && frame.substr(4, 2) == "KI"
                ? std::optional(Acknowledgement::Key)
                : std::nullopt;
        if (ack) {
            notify([what = *ack](SessionObserver& observer) { observer.acknowledged(what); });
        }
    });
}

DeviceSession::~DeviceSession() { m_watchdog.setTickHandler({}); }

void DeviceSession::addObserver(SessionObserver* observer) {
    if (observer &&
        std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end()) {
        m_observers.push_back(observer);
    }
}

void DeviceSession::removeObserver(SessionObserver* observer) {
    const auto it = std::find(m_observers.begin(), m_observers.end(), observer);
    if (it == m_observers.end()) return;
    if (m_notifying > 0) {
        *it = nullptr;  // a report is running over the list; the slot is dropped afterwards
    } else {
        m_observers.erase(it);
    }
}

template <class Report>
void DeviceSession::notify(Report&& report) {
    ++m_notifying;
    try {
        // By index: an observer added during a report (a nested event loop) hears the rest.
        for (std::size_t i = 0; i < m_observers.size(); ++i) {
            if (SessionObserver* observer = m_observers[i]) report(*observer);
        }
    } catch (...) {
        --m_notifying;
        throw;
    }
    if (--m_notifying == 0) std::erase(m_observers, nullptr);
}

// --- events -------------------------------------------------------------------------------

void DeviceSession::initialise() {
    if (m_initialised) return;
    m_initialised = true;
    guarded(Origin::Automatic, [this] {
        teardown();
        m_fields.portText = m_portFile.read();
        m_state.dynamicBusy = false;
        m_state.quietBusy = false;
        m_state.sliderBusy = false;
        m_state.messageReceived = false;
        restartWatchdog(link::kIdentifyingPeriodMs);
        pushFields();
    });
}

void DeviceSession::onComm() {
    guarded(Origin::Automatic, [this] {
        if (m_serial.GetCommEvent() == link::comm_event::kPortLost) {
            portLost();
            return;
        }
        m_receiver.onComm();
    });
}

void DeviceSession::portLost() {
    // The adapter was pulled or the device switched off: the serial control has closed the
    // port. A model shown with its identity only has no watchdog running that would notice;
    // drop the device now and let the watchdog look for it until it is back.
    if (!m_state.portOpen) return;
    disconnectDevice();
    restartWatchdog(link::kIdentifyingPeriodMs);
}

void DeviceSession::onWatchdogTick() {
    guarded(Origin::Automatic, [this] {
        if (!m_state.messageReceived) {
            disconnectDevice();
        }
        if (isEnabled(id::kConnect)) {
            try {
                connectDevice();
            } catch (const link::SerialError&) {
                // The port cannot be opened now: an adapter pulled, a device switched off.
                // Resting idle would need the operator to notice and click Connect; the
                // watchdog goes on trying instead, so the device is found again as soon as it
                // is back. The refusal is reported once (guarded()).
                restartWatchdog(link::kIdentifyingPeriodMs);
                m_state.messageReceived = false;
                throw;
            }
        }
        m_state.messageReceived = false;
    });
}

// --- commands -----------------------------------------------------------------------------

template <class Action>
bool DeviceSession::guarded(Origin origin, Action&& action) {
    try {
        action();
    } catch (const link::SerialError& error) {
        std::string text = error.what();
        if (text.empty()) text = kInternalError;
        m_lastError = text;
        // The same refusal again from a tick or a receive event (a port that stays missing)
        // has been reported already; the operator's own command always gets its answer.
        const bool repeated = text == m_lastSerialError;
        m_lastSerialError = text;
        if (!repeated || origin == Origin::Operator) {
            m_openRefusals.insert(text);
            showMessage(text, link::MessageIcon::Stop);
            m_openRefusals.erase(text);
        }
        reportState();
        return false;
    }
    // Reported once the command or event is done, not at every step of it: a tick that drops
    // and re-identifies a device passes through idle, which is nothing to tell anybody.
    reportState();
    return true;
}

bool DeviceSession::connect() {
    return guarded(Origin::Operator, [this] { connectDevice(); });
}

bool DeviceSession::disconnect() {
    return guarded(Origin::Operator, [this] { disconnectDevice(); });
}

bool DeviceSession::pressKey(link::Key key) {
    return guarded(Origin::Operator, [this, key] {
        // Dynamic and Quiet mark their box as the operator's before the command goes out.
        if (key == link::Key::Dynamic) m_state.dynamicBusy = true;
        if (key == link::Key::Quiet) m_state.quietBusy = true;
        pullFields();
        sendKey(static_cast<std::uint8_t>(key));
    });
}

bool DeviceSession::sendPosition(double position) {
    return guarded(Origin::Operator, [this, position] {
        m_state.sliderBusy = true;
        pullFields();
        // Truncated toward zero, low 8 bits: 99.9 is sent as 99.
        const auto byte = static_cast<std::uint8_t>(
            static_cast<long long>(std::isfinite(position) ? std::trunc(position) : 0.0) & 0xFF);
        // Another view's position moves the window's slider too; the slider's own is there.
        if (position != m_sliderPosition) setSliderPosition(position);
        const std::string command = link::positionCommand(byte);
        if (m_state.portOpen) link::sendPaced(m_serial, m_clock, command);
    });
}

bool DeviceSession::changeSetting(std::string_view command) {
    // The device takes the new setting and is identified afresh, twice, 500 ms apart; nothing
    // else is handled meanwhile, so only the answers to the second identify command are framed.
    m_changingSetting = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{m_changingSetting};
    return guarded(Origin::Operator, [this, command] {
        link::sendPaced(m_serial, m_clock, command);
        link::settleAndReconnect(m_clock, [this] { connectDevice(); });
        link::settleAndReconnect(m_clock, [this] { connectDevice(); });
    });
}

void DeviceSession::selectPort(std::string_view portText) {
    pullFields();
    m_fields.portText = portText;
    pushFields();
}

bool DeviceSession::exit() {
    return guarded(Origin::Operator, [this] {
        link::closePort(m_serial, m_state);
        stopWatchdog();
    });
}

void DeviceSession::sendKey(std::uint8_t keyCode) {
    const std::string command = link::keyCommand(keyCode);
    if (m_state.portOpen) link::sendPaced(m_serial, m_clock, command);
}

void DeviceSession::connectDevice() {
    m_state.versionText = {' ', '0', '.', '0', 'A'};
    m_state.revisionLetter = 'A';
    pullFields();
    m_state.identityAwaited = true;
    m_state.revisionReceived = false;
    setNotFoundYet(m_fields);
    pushFields();
    link::openPort(m_serial, m_state, m_fields, *this);
    // A frame cut off by the close would take the new connection's first frame into itself,
    // and that is often the revision answer: the identity answer is then passed over and, on
    // a device that broadcasts, nothing asks again. The open dropped the rest of the old
    // connection's bytes; its half frame goes with them.
    m_receiver.discardPartialFrame();
    if (m_state.portOpen) {
        m_lastSerialError.clear();
        // A refusal still on show (its box open, a tick opening the port from inside its event
        // loop) is about a problem that has gone: withdrawn, it never sits over a working line.
        for (const std::string& stale : m_openRefusals) {
            notify([&](SessionObserver& observer) { observer.messageWithdrawn(stale); });
        }
        link::sendPaced(m_serial, m_clock, link::identifyCommand());
    }
    restartWatchdog(link::kIdentifyingPeriodMs);
}

void DeviceSession::teardown() {
    link::closePort(m_serial, m_state);
    enableControl(id::kDisconnect, false);
    enableControl(id::kConnect, true);
    for (const int remote : id::kRemoteControlGroup) enableControl(remote, false);
    m_state.firmwareVersion = 0;
    m_state.productId = 0;
    setSliderPosition(0);
    // What the displays show after a teardown is the model at position 0 with the Parking LED
    // dark and the texts blank: it is reported once, with the push below, and never the
    // model's own values for position 0 that nobody would see.
    evaluate(0, Teardown::Yes);
    m_positionKnown = false;
    setNotFoundYet(m_fields);
    m_fields.quietChecked = 0;
    m_fields.dynamicChecked = 0;
    m_state.deviceIdentified = false;
    m_displaysDirty = true;
    pushFields();
}

// --- what the receiver calls ----------------------------------------------------------------

void DeviceSession::pullFields() {
    if (m_inputs) m_inputs->pullInputs(m_fields);
}

void DeviceSession::pushFields() {
    notify([this](SessionObserver& observer) { observer.fieldsPushed(m_fields); });
    if (m_displaysDirty) {
        m_displaysDirty = false;
        // Only a change is news: a device held at one position, or the teardown of every
        // watchdog retry while no device answers, shows the same displays again and again.
        if (m_displaysChanged || !m_displaysReported || m_evaluatedPosition != m_reportedPosition) {
            m_displaysChanged = false;
            m_displaysReported = true;
            m_reportedPosition = m_evaluatedPosition;
            notify([this](SessionObserver& observer) {
                observer.displaysChanged(m_evaluatedPosition, m_displays);
            });
        }
    }
    reportIdentity();
}

void DeviceSession::reportState() {
    const SessionState now = state();
    if (!m_stateReported || now != m_reportedState) {
        m_stateReported = true;
        m_reportedState = now;
        notify([now](SessionObserver& observer) { observer.stateChanged(now); });
    }
}

void DeviceSession::reportIdentity() {
    // Compared field by field before a copy is made: pushes come with every broadcast.
    const bool identityChanged = !m_identityReported ||
                                 m_reportedIdentity.identified != m_state.deviceIdentified ||
                                 m_reportedIdentity.productId != m_state.productId ||
                                 m_reportedIdentity.serialNumber != m_fields.serialNumber ||
                                 m_reportedIdentity.modelName != m_fields.modelName ||
                                 m_reportedIdentity.firmwareVersion != m_fields.firmwareVersion ||
                                 m_reportedIdentity.canBaudRate != m_fields.canBaudRate ||
                                 m_reportedIdentity.vinStyle != m_fields.vinStyle ||
                                 m_reportedIdentity.firmwareBuild != m_fields.firmwareBuild;
    if (identityChanged) {
        m_identityReported = true;
        m_reportedIdentity = identity();
        notify([this](SessionObserver& observer) { observer.identityChanged(m_reportedIdentity); });
    }
}

void DeviceSession::enableControl(int controlId, bool enable) {
    m_enabled[controlId] = enable;
    notify([=](SessionObserver& observer) { observer.controlEnabled(controlId, enable); });
}

void DeviceSession::restartWatchdog(unsigned periodMs) { m_watchdog.start(periodMs); }

void DeviceSession::stopWatchdog() { m_watchdog.stop(); }

void DeviceSession::disconnectDevice() {
    stopWatchdog();
    teardown();
}

void DeviceSession::storePortFile() { m_portFile.store(m_fields.portText); }

void DeviceSession::setSliderPosition(double position) {
    m_sliderPosition = position;
    notify([position](SessionObserver& observer) { observer.sliderMoved(position); });
}

void DeviceSession::evaluateModel(std::uint8_t position) {
    evaluate(position, Teardown::No);
    m_positionKnown = true;
    pushFields();
}

void DeviceSession::evaluate(std::uint8_t position, Teardown teardown) {
    pullFields();
    const model::PresentationInputs inputs{m_fields.modelName, m_fields.serialNumber,
                                           m_fields.vinStyle, m_fields.clockText};
    model::evaluate(position, m_state.productId, inputs, m_vin, m_presentation);
    m_evaluatedPosition = position;
    ++m_evaluations;
    m_displaysDirty = true;
    for (std::size_t i = 0; i < m_displays.numbers.size(); ++i) {
        setNumber(i, m_presentation.numbers[i].value);
    }
    // A teardown then switches the Parking LED off and blanks or empties its text displays;
    // each display is written once with what it ends up showing.
    const bool tornDown = teardown == Teardown::Yes;
    for (std::size_t i = 0; i < m_displays.leds.size(); ++i) {
        setLed(i, m_presentation.leds[i].lit && !(tornDown && i == kParkingLed));
    }
    for (std::size_t i = 0; i < m_displays.texts.size(); ++i) {
        const model::TextValue& text = m_presentation.texts[i];
        const TextAtTeardown rule = tornDown ? kTextAtTeardown[i] : TextAtTeardown::Kept;
        if (rule == TextAtTeardown::Blanked) {
            setText(i, " ");
        } else if (rule == TextAtTeardown::Emptied) {
            setText(i, "");
        } else if (text.isWritten()) {
            setText(i, text.text());
        }
    }
}

void DeviceSession::showMessage(std::string_view text, link::MessageIcon icon) {
    std::string key(text);
    // A view may run a nested event loop while it shows the message, in which ticks and receive
    // events go on. A failure that repeats meanwhile must not stack report upon report.
    if (!m_openMessages.insert(key).second) {
        return;
    }
    ++m_messagesReported;
    // A view may hold the message open for a while; what led to it is told first.
    reportState();
    try {
        notify([&](SessionObserver& observer) { observer.message(text, icon); });
    } catch (...) {
        m_openMessages.erase(key);
        throw;
    }
    m_openMessages.erase(key);
}

// Each write notes whether the display changes, so that a push reports only what is news
// without comparing every display again.
void DeviceSession::setNumber(std::size_t index, double value) {
    double& shown = m_displays.numbers[index];
    if (shown == value) return;
    shown = value;
    m_displaysChanged = true;
}

void DeviceSession::setLed(std::size_t index, bool lit) {
    if (m_displays.leds[index] == lit) return;
    m_displays.leds[index] = lit;
    m_displaysChanged = true;
}

void DeviceSession::setText(std::size_t index, std::string_view text) {
    std::string& shown = m_displays.texts[index];
    if (shown == text) return;
    shown.assign(text);
    m_displaysChanged = true;
}

bool DeviceSession::settingsChangeAllowed() const {
    return link::settingsChangeAllowed(
        m_state.deviceIdentified,
        std::string_view(m_state.versionText.data(), m_state.versionText.size()));
}

std::string DeviceSession::busyReason() const {
    if (!m_openMessages.empty()) return "a message is shown: " + *m_openMessages.begin();
    if (!m_modal.empty()) return m_modal + " is open";
    if (m_changingSetting) return "a settings change is running";
    return {};
}

DeviceSession::ModalScope::ModalScope(DeviceSession& session, std::string what)
    : m_session(session), m_previous(std::exchange(session.m_modal, std::move(what))) {}

DeviceSession::ModalScope::~ModalScope() { m_session.m_modal = std::move(m_previous); }

// --- queries ------------------------------------------------------------------------------

bool DeviceSession::isEnabled(int controlId) const {
    const auto it = m_enabled.find(controlId);
    return it != m_enabled.end() && it->second;
}

SessionState DeviceSession::state() const {
    if (!isEnabled(id::kConnect)) {
        return isEnabled(id::kSlider) ? SessionState::Connected : SessionState::IdentityOnly;
    }
    if (m_watchdog.period() == 0) return SessionState::IdleWatchdogStopped;
    return m_state.portOpen || m_state.identityAwaited ? SessionState::Identifying
                                                       : SessionState::IdleWatchdogRunning;
}

Identity DeviceSession::identity() const {
    return {m_state.deviceIdentified, m_state.productId,        m_fields.modelName,
            m_fields.serialNumber,    m_fields.firmwareVersion, m_fields.canBaudRate,
            m_fields.vinStyle,        m_fields.firmwareBuild};
}

}  // namespace orvale::session
