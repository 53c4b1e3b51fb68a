#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fms/encoder.h"
#include "session/device_session.h"

namespace orvale::bus {

/// What the device should be sending at a reported position, as Orvale knows it: the model's raw
/// set for the position and product, and the texts the window's boxes show (VIN, driver IDs, the
/// software version, the device's time of day). Holds its texts, so it can be kept.
struct Expectation {
    std::uint8_t position = 0;
    std::uint8_t productId = 0;
    model::RawParameters raw{};
    std::string vin;
    std::string driver1Id;
    std::string driver2Id;
    std::string swVersion;
    std::optional<fms::ClockTime> clock;

    /// The codec's view of it; points into this Expectation.
    [[nodiscard]] fms::DeviceState deviceState() const noexcept;

    friend bool operator==(const Expectation&, const Expectation&) = default;
};

/// The expectation of a device at `position` with `productId` whose displays show `displays`.
[[nodiscard]] Expectation expectationOf(std::uint8_t position, std::uint8_t productId,
                                        const session::Displays& displays);

/// The expectation of the session's device once it is connected and has reported its position;
/// nothing otherwise (a device Orvale only identifies may send anything).
[[nodiscard]] std::optional<Expectation> expectationOf(const session::DeviceSession& session);

}  // namespace orvale::bus
