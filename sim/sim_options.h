#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/quennet_device.h"

/// Command line of the quennet-sim program.
namespace orvale::sim {

struct SimOptions {
    DeviceConfig device;
    Faults faults;
    std::string linkPath;
    std::string recordPath;       ///< empty: received bytes are not written anywhere
    std::string recordTimesPath;  ///< empty: no record of when each chunk arrived
    std::string controlPath;      ///< empty: no control pipe
    bool clockGiven = false;      ///< false: the program starts the device clock from local time
};

struct ParsedOptions {
    std::optional<SimOptions> options;  ///< set when the arguments were good and not --help
    bool help = false;
    std::string error;  ///< why the arguments were refused
};

/// Firmware version text as shown by Orvale, without the leading blank: "0.3B" is version
/// number 3 (version byte 2) with revision 'B'; "10.0A" is version number 100. Version numbers
/// run 1..256; the revision is a letter.
struct Firmware {
    std::uint8_t versionByte = 0;
    char revision = 'A';
};
std::optional<Firmware> parseFirmware(std::string_view text);

/// "HH:MM:SS" to milliseconds after midnight.
std::optional<std::uint32_t> parseTimeOfDay(std::string_view text);

/// `args` excludes the program name.
ParsedOptions parseOptions(std::span<const std::string_view> args);

/// The --help text.
std::string usage(std::string_view program);

}  // namespace orvale::sim
