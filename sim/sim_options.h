#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bus/can_target.h"
#include "sim/can_faults.h"
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
    /// --can: where the device also puts its FMS frames; nothing for a serial line only.
    std::optional<bus::CanTarget> can;
    CanFaults canFaults;  ///< --can-extra
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

/// The product IDs Orvale knows (8 to 15), one line each with the model name and, for the Plus
/// models, that they can be remote-controlled; then what becomes of any other device. For the
/// --help texts of quennet-sim and Orvale.
std::string knownModelsHelp();

/// What Orvale's window makes of a device that reports `productId` and firmware `versionByte`
/// with `revision`, when it does not take it as a working device: a product ID outside 8 to 15,
/// or firmware other than 0.3B and 0.3C. One line without its end; empty for a device taken as
/// it is. Such a device is a good test, so it is never refused; the line tells what to expect.
std::string unusualDeviceNote(std::uint8_t productId, std::uint8_t versionByte, char revision);

}  // namespace orvale::sim
