#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

/// Plain C++ pieces of Orvale's CAN bus side: where to find the bus, what the device should be
/// putting on it and when.
namespace orvale::bus {

/// A CAN interface as Qt SerialBus names it: "socketcan:can0", "virtualcan:can0",
/// "peakcan:usb0,bitrate=250000".
struct CanTarget {
    std::string plugin;
    std::string interface;
    /// Bits a second asked for on the command line; else the device's CAN baud rate is used.
    std::optional<std::uint32_t> bitrate;

    /// "socketcan:can0" or "socketcan:can0,bitrate=250000", as it was given.
    [[nodiscard]] std::string text() const;

    friend bool operator==(const CanTarget&, const CanTarget&) = default;
};

/// Reads "PLUGIN:INTERFACE[,bitrate=N]". Gives the target, or why the text is not one.
[[nodiscard]] std::variant<CanTarget, std::string> parseCanTarget(std::string_view text);

/// Bits a second of the device's CAN baud rate text ("250K bps", "62.5K bps", "1M bps");
/// nothing for any other text.
[[nodiscard]] std::optional<std::uint32_t> bitrateOfBaudText(std::string_view text) noexcept;

/// "250 kbit/s", "62.5 kbit/s", "1 Mbit/s".
[[nodiscard]] std::string bitrateText(std::uint32_t bitsPerSecond);

}  // namespace orvale::bus
