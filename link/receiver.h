#pragma once

#include <cstdint>
#include <functional>
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

    /// The serial control's receive event. Takes every byte delivered, however many.
    ///
    /// A frame's effects may open a message box (the firmware warning), whose nested event loop
    /// runs while the frame is still being applied. QSerialPort does not signal new data while
    /// a handler of its own signal runs: bytes the device sends meanwhile wait in its buffer,
    /// and CMSComm delivers them in a receive event of their own once the box has closed, so
    /// they are framed then, after the bytes before them. A serial control that does deliver
    /// from inside the nested loop reaches this handler again; those bytes are queued and
    /// framed after the current delivery, in order, never merged with the frame being applied.
    void onComm();

    /// Frames and applies bytes as if the serial control had delivered them.
    void receive(std::span<const std::uint8_t> bytes);

    /// Applies one complete frame (CR LF included).
    void dispatch(std::string_view frame);

    /// Told of every "ACK " and "BRC " frame after it has been applied (upper-cased, CR LF
    /// included): views that wait for an answer learn of it here.
    using FrameListener = std::function<void(std::string_view frame)>;
    void setFrameListener(FrameListener listener) { m_frameListener = std::move(listener); }

    /// Forgets a frame the device had begun before the port was opened afresh: the open
    /// discards the rest of what came before it, and the start alone would swallow the first
    /// frame of the new connection.
    void discardPartialFrame() noexcept { m_framer.reset(); }

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
    FrameListener m_frameListener;
    unsigned m_identityRetries = 0;  ///< 0 to 3

    std::vector<std::uint8_t> m_pending;  ///< delivered, not yet framed
    std::size_t m_next = 0;
    bool m_draining = false;
    std::array<char, Framer::kCapacity> m_upper{};
};

}  // namespace orvale::link
