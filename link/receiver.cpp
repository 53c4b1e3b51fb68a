#include "link/receiver.h"

#include <algorithm>

#include "link/protocol.h"

namespace orvale::link {
namespace {

constexpr std::size_t kInitialPending = 4096;

bool keywordAt(std::string_view frame, std::size_t offset, std::string_view keyword) {
    return frame.substr(offset, keyword.size()) == keyword;
}

char toUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

bool ConnectionState::firmwareSupported() const {
    return firmwareVersion == 3 && (revisionLetter == 'B' || revisionLetter == 'C');
}

bool ConnectionState::remoteControllable() const {
    return firmwareSupported() && isPlusModel(productId);
}

Receiver::Receiver(SerialControl& serial, WindowPort& window, ConnectionState& state,
                   WindowFields& fields)
    : m_serial(serial), m_window(window), m_state(state), m_fields(fields) {
    m_pending.reserve(kInitialPending);
}

void Receiver::onComm() {
    if (m_serial.GetCommEvent() != comm_event::kReceive) {
        return;
    }
    const auto input = m_serial.GetInput();
    if (!m_state.portOpen) {
        return;
    }
    receive(input);
}

void Receiver::receive(std::span<const std::uint8_t> bytes) {
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    if (m_draining) {
        // Delivered from a nested event loop while a frame is being applied: the drain further
        // up the stack takes these bytes after the ones delivered before them.
        return;
    }
    drain();
}

void Receiver::drain() {
    m_draining = true;
    try {
        while (m_next < m_pending.size()) {
            if (const auto frame = m_framer.push(m_pending[m_next++])) {
                dispatch(*frame);
            }
        }
    } catch (...) {
        // The action stops where the serial control refused; what it had not framed yet
        // belongs to a connection that has failed.
        m_pending.clear();
        m_next = 0;
        m_draining = false;
        throw;
    }
    m_pending.clear();
    m_next = 0;
    m_draining = false;
}

void Receiver::dispatch(std::string_view received) {
    const std::size_t n = std::min(received.size(), m_upper.size());
    std::transform(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(n),
                   m_upper.begin(), toUpper);
    const std::string_view frame{m_upper.data(), n};

    if (frame.starts_with("ACK ")) {
        m_window.pullFields();
        m_state.messageReceived = true;
        applyAnswer(frame);
        m_window.pushFields();
    } else if (frame.starts_with("BRC ")) {
        m_window.pullFields();
        m_state.messageReceived = true;
        if (m_state.remoteControllable()) {
            applyBroadcast(frame);
            m_window.pushFields();
        }
    } else {
        return;
    }
    if (m_frameListener) m_frameListener(frame);
}

void Receiver::applyAnswer(std::string_view frame) {
    namespace len = frame_length;
    const std::size_t n = frame.size();
    if (n == len::kPositionAck && keywordAt(frame, 4, "%")) {
        m_state.sliderBusy = false;
    } else if (n == len::kKeyAck && keywordAt(frame, 4, "KI")) {
        m_state.quietBusy = false;
        m_state.dynamicBusy = false;
    } else if (n == len::kRevision && keywordAt(frame, 4, "REV")) {
        if (m_state.identityAwaited) {
            m_state.revisionLetter = frame[7];
            m_state.versionText[4] = frame[7];
            m_state.revisionReceived = true;
        }
    } else if (n == len::kVinStyle && keywordAt(frame, 4, "VIN=")) {
        if (const auto style = vinStyleText(frame[8])) {
            m_fields.vinStyle = *style;
        }
    } else if (n == len::kCanBaudRate && keywordAt(frame, 4, "CBRS=")) {
        const int code = (frame[9] - '0') * 10 + (frame[10] - '0');
        m_fields.canBaudRate = canBaudRateText(code);
    } else if (n == len::kIdentity && keywordAt(frame, 4, "ID")) {
        if (m_state.identityAwaited) {
            applyIdentity(frame);
        }
    } else if (n == len::kBuild && keywordAt(frame, 4, "BN")) {
        if (m_state.identityAwaited) {
            m_fields.firmwareBuild = frame.substr(6, kBuildTextLength);
        }
    }
}

void Receiver::applyIdentity(std::string_view frame) {
    // Up to three identity answers are passed over while the revision answer is missing; the
    // count carries over between connections and returns to 0 only when one is taken.
    if (!m_state.revisionReceived && m_identityRetries < 3) {
        ++m_identityRetries;
        return;
    }
    m_state.identityAwaited = false;
    m_state.revisionReceived = false;
    m_identityRetries = 0;

    // The port is remembered before the checksum is looked at: a device answered on it.
    m_window.storePortFile();

    if (!checksumGood(frame, 18)) {
        return;
    }

    const Identity identity = decodeIdentity(frame);
    m_state.productId = identity.productId;
    m_fields.modelName = modelName(identity.productId).value_or("Wrong ID");
    m_fields.serialNumber = identity.serialNumber;

    m_state.firmwareVersion = static_cast<std::uint16_t>(identity.versionByte + 1u);
    m_state.versionText = firmwareVersionText(m_state.firmwareVersion, m_state.versionText[4],
                                              m_state.versionText[0]);
    m_fields.firmwareVersion.assign(m_state.versionText.data(), m_state.versionText.size());

    m_window.restartWatchdog(kConnectedPeriodMs);
    m_window.enableControl(control::kDisconnect, true);
    m_window.enableControl(control::kConnect, false);
    m_state.deviceIdentified = true;

    if (m_state.remoteControllable()) {
        for (const int id : control::kRemoteControlGroup) {
            m_window.enableControl(id, true);
        }
    } else {
        m_window.stopWatchdog();
        if (!isKnownModel(m_state.productId)) {
            m_state.deviceIdentified = false;
            m_window.disconnectDevice();
        }
    }
    m_window.pushFields();

    if (isKnownModel(m_state.productId) && !m_state.firmwareSupported()) {
        m_window.showMessage(
            "This release requires a Special build Quennet (firmware) version 0.3B/0.3C; please "
            "update your Quennet accordingly.",
            MessageIcon::Warning);
        m_window.pushFields();
    }
}

void Receiver::applyBroadcast(std::string_view frame) {
    namespace len = frame_length;
    if (frame.size() == len::kPositionStatus && keywordAt(frame, 4, "%S")) {
        if (!checksumGood(frame, 10)) {
            return;
        }
        const PositionStatus value = decodePositionStatus(frame);
        if (!m_state.sliderBusy) {
            m_window.setSliderPosition(value.position);
            m_window.evaluateModel(value.position);
        }
        if (!m_state.quietBusy) {
            m_fields.quietChecked = (value.status & 1u) == 0 ? 1 : 0;
        }
        if (!m_state.dynamicBusy) {
            m_fields.dynamicChecked = (value.status & 2u) != 0 ? 1 : 0;
        }
    } else if (frame.size() == len::kClock && keywordAt(frame, 4, "CLK")) {
        if (checksumGood(frame, 13)) {
            m_fields.clockText = clockText(decodeClock(frame));
        }
    }
}

}  // namespace orvale::link
