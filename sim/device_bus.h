#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fms/encoder.h"
#include "sim/can_faults.h"

namespace orvale::sim {

/// Everything of the simulated device that its CAN bus depends on: equal inputs, equal frames
/// at the same rate. A change of any of them (the position, a wrong-id fault, the VIN style, the
/// clock's second, the CAN baud rate, a bus fault) is what makes a transmitter evaluate anew.
struct BusInputs {
    std::uint8_t position = 0;
    std::uint8_t productId = 0;  ///< as the device identifies itself: a wrong-id fault included
    std::uint32_t serialNumber = 0;
    char vinStyle = '0';    ///< the device's code: '0' Variable, '1' Fixed
    int canBaudCode = 0;    ///< 0..4: the bus runs at this rate
    std::string clockText;  ///< the device's time of day, "hh:mm:ss"
    CanFaults faults;

    friend bool operator==(const BusInputs&, const BusInputs&) = default;
};

/// Replaces `out` with the frames the device puts on the bus: the model evaluated for the
/// inputs as Orvale's window would evaluate it for this device (the product text Orvale shows
/// for its product ID, its serial number, VIN style and clock), encoded, and the bus faults
/// (other than the extra traffic) applied.
void encodeBusFrames(const BusInputs& inputs, fms::EncodedFrames& out);

/// The bit rate of the device's CAN baud rate code; nothing for a code outside 0..4.
[[nodiscard]] std::optional<std::uint32_t> bitrateOfBaudCode(int code) noexcept;

}  // namespace orvale::sim
