#include "link/connection.h"

namespace orvale::link {

std::uint8_t portNumber(std::string_view portName) {
    if (portName.size() < 4 || portName.size() > 5 || !portName.starts_with("COM")) {
        return 1;
    }
    int number = 0;
    for (const char c : portName.substr(3)) {
        if (c < '0' || c > '9') {
            return 1;
        }
        number = number * 10 + (c - '0');
    }
    // "COM01" is not a name the port list offers.
    if (portName[3] == '0' || number < 1 || number > kHighestPort) {
        return 1;
    }
    return static_cast<std::uint8_t>(number);
}

void openPort(SerialControl& serial, ConnectionState& state, WindowFields& fields,
              WindowPort& window) {
    window.pullFields();
    const std::uint8_t number = portNumber(fields.portText);
    state.portOpen = false;
    if (serial.GetPortOpen()) {
        serial.SetPortOpen(false);
    }
    serial.SetCommPort(static_cast<short>(number));
    if (serial.GetPortOpen()) {
        window.showMessage("Cannot Open the selected Serial Port!", MessageIcon::Warning);
    } else {
        serial.SetPortOpen(true);
        state.portOpen = true;
    }
    try {
        serial.SetSettings(kLineSettings);
        serial.SetInputMode(kInputModeBinary);
        serial.SetRThreshold(1);
        serial.SetInputLen(0);
        // Bytes left from before the open are not framed.
        static_cast<void>(serial.GetInput());
    } catch (const SerialError&) {
        // A port that cannot take the device's line settings is of no use: it is let go, so
        // that neither the flag nor the system holds on to it.
        closePort(serial, state);
        throw;
    }
}

void closePort(SerialControl& serial, ConnectionState& state) {
    if (serial.GetPortOpen()) {
        serial.SetPortOpen(false);
    }
    state.portOpen = false;
}

void sendPaced(SerialControl& serial, MillisecondClock& clock,
               std::span<const std::uint8_t> message) {
    // One byte per write, never grouped: the device's receiver drops bytes that come closer
    // together than 2 ms. The pause is timed in microseconds where the clock has them: counted
    // in whole milliseconds, a count read just before it ticks would cut the pause by nearly
    // one, and a pause of three counts started just after a tick lasts a little over 3 ms.
    for (std::size_t i = 0; i < message.size(); ++i) {
        serial.SetOutput(message.subspan(i, 1));
        busyWaitMicroseconds(clock, kBytePauseUs);
    }
}

void sendPaced(SerialControl& serial, MillisecondClock& clock, std::string_view message) {
    sendPaced(serial, clock,
              std::span{reinterpret_cast<const std::uint8_t*>(message.data()), message.size()});
}

void settleAndReconnect(MillisecondClock& clock, const std::function<void()>& connect) {
    busyWait(clock, kSettleMs);
    connect();
}

}  // namespace orvale::link
