#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "link/framer.h"
#include "link/serial_control.h"
#include "link/window_port.h"

namespace orvale::link {

/// Turns what the serial control delivers into frames and applies each one to the connection
/// state and the window's fields. One instance lives for the whole program: its buffer and the
/// identity retry counter are never reset by connecting or disconnecting.
class Receiver {
public:
    Receiver(SerialControl& serial, WindowPort& window, ConnectionState& state,
             WindowFields& fields);

    /// The serial control's receive event. Takes every byte delivered, however many. Safe to
    /// re-enter from a nested event loop (a message box opened by a frame's effects): bytes
    /// that arrive meanwhile are framed after the current delivery, in order.
    void onComm();

    /// Frames and applies bytes as if the serial control had delivered them.
    void receive(std::span<const std::uint8_t> bytes);

    /// Applies one complete frame (CR LF included).
    void dispatch(std::string_view frame);

    [[nodiscard]] unsigned identityRetries() const { return m_identityRetries; }
    [[nodiscard]] std::string_view pendingFrame() const { return m_framer.pending(); }

private:
    void applyAnswer(std::string_view frame);
    void applyIdentity(std::string_view frame);
    void applyBroadcast(std::string_view frame);
    void drain();

    SerialControl& m_serial;
    WindowPort& m_window;
    ConnectionState& m_state;
    WindowFields& m_fields;

    Framer m_framer;
    unsigned m_identityRetries = 0;  ///< 0 to 3

    std::vector<std::uint8_t> m_pending;  ///< delivered, not yet framed
    std::size_t m_next = 0;
    bool m_draining = false;
    std::array<char, Framer::kCapacity> m_upper{};
};

}  // namespace orvale::link
