#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

/// The serial communications control as the link sees it: the properties of the
/// communications control the window hosts (control 1004), nothing more. The Qt
/// implementation is `CMSComm` in controls/; tests use a recording fake.
namespace orvale::link {

/// A property access the serial control refused: a port that does not exist or is held
/// elsewhere, permission denied, a write on a closed port, a line that vanished. Carries a text
/// meant for the operator.
class SerialError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Values of `CommEvent`.
namespace comm_event {
inline constexpr short kReceive = 2;      ///< data received
inline constexpr short kBreak = 1001;     ///< break signal received
inline constexpr short kFrame = 1004;     ///< framing error
inline constexpr short kOverrun = 1006;   ///< a byte was lost by the hardware
inline constexpr short kRxOver = 1008;    ///< receive buffer overflow
inline constexpr short kRxParity = 1009;  ///< parity error
inline constexpr short kPortLost = 1100;  ///< the device behind the port vanished (adapter pulled)
}  // namespace comm_event

/// `InputMode` values.
inline constexpr long kInputModeBinary = 1;

class SerialControl {
public:
    virtual ~SerialControl() = default;

    /// Port number 1 to 50. Throws SerialError when the port is open.
    virtual void SetCommPort(short port) = 0;
    /// 0: a read of Input takes everything buffered.
    virtual void SetInputLen(short length) = 0;
    virtual bool GetPortOpen() = 0;
    /// Opens or closes the port; opening throws SerialError when the system refuses.
    virtual void SetPortOpen(bool open) = 0;
    /// 1: OnComm fires as soon as one byte is buffered; 0: no receive events.
    virtual void SetRThreshold(short threshold) = 0;
    /// "baud,parity,data,stop", e.g. "115200,n,8,1". Throws SerialError when malformed.
    virtual void SetSettings(std::string_view settings) = 0;
    /// Writes bytes; the link always passes exactly one. Throws SerialError on a closed port.
    virtual void SetOutput(std::span<const std::uint8_t> bytes) = 0;
    /// Every received byte not yet read. The view is valid until the next call.
    /// Throws SerialError on a closed port.
    virtual std::span<const std::uint8_t> GetInput() = 0;
    /// The event that the last OnComm reported (see comm_event).
    virtual short GetCommEvent() = 0;
    virtual void SetInputMode(long mode) = 0;
};

}  // namespace orvale::link
