#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "link/clock.h"
#include "link/serial_control.h"
#include "link/window_port.h"

/// The serial line's side of a connection: the port open and close sequences, the paced
/// transmitter and the settle wait after a settings change.
namespace orvale::link {

/// Highest port number the port list offers.
inline constexpr int kHighestPort = 50;

/// Line settings the device needs.
inline constexpr std::string_view kLineSettings = "115200,n,8,1";

/// The port number a port name opens: "COM1" to "COM50" their own number (exact, case
/// sensitive), any other text port 1.
std::uint8_t portNumber(std::string_view portName);

/// Opens the port named by the window's port text, in the order the serial control needs:
/// close it if open, set the number, open, then the line settings and a discard of stale input.
/// On success the port-open flag is set. When the control still reports the port open after
/// closing it, the operator is told "Cannot Open the selected Serial Port!" and the flag stays
/// clear. A SerialError from the control propagates with the flag clear.
void openPort(SerialControl& serial, ConnectionState& state, WindowFields& fields,
              WindowPort& window);

/// Closes the port if the control reports it open; clears the port-open flag.
void closePort(SerialControl& serial, ConnectionState& state);

/// Least pause after every byte sent, in milliseconds: the device's receiver needs it.
inline constexpr std::uint32_t kByteGapMs = 2;
/// The pause actually kept, in microseconds: the middle of the 2 to 3 ms the device takes.
/// On a clock that counts whole milliseconds it comes to three counts.
inline constexpr std::uint64_t kBytePauseUs = 2500;
/// Wait before reconnecting after a settings change.
inline constexpr std::uint32_t kSettleMs = 500;

/// Writes a message one byte per write, waiting more than 2 ms (and at most 3) after each
/// byte, the last included. Never reads past the message.
void sendPaced(SerialControl& serial, MillisecondClock& clock,
               std::span<const std::uint8_t> message);
void sendPaced(SerialControl& serial, MillisecondClock& clock, std::string_view message);

/// Waits 500 ms, then runs `connect`.
void settleAndReconnect(MillisecondClock& clock, const std::function<void()>& connect);

}  // namespace orvale::link
