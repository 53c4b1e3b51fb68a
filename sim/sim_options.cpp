#include "sim/sim_options.h"

#include "link/protocol.h"
#include "sim/control_channel.h"

#include <array>
#include <cctype>
#include <charconv>
#include <functional>
#include <limits>
#include <variant>

namespace orvale::sim {
namespace {

template <typename T>
std::optional<T> parseNumber(std::string_view text, T low, T high) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        value < static_cast<std::uint64_t>(low) || value > static_cast<std::uint64_t>(high)) {
        return std::nullopt;
    }
    return static_cast<T>(value);
}

struct Option {
    std::string_view name;
    bool takesValue;
    // Returns an error text, empty when the value was taken.
    std::function<std::string(SimOptions&, std::string_view)> apply;
};

template <typename T>
std::string setNumber(T& target, std::string_view text, T low, T high) {
    const auto value = parseNumber<T>(text, low, high);
    if (!value) {
        return "expects a number from " + std::to_string(low) + " to " + std::to_string(high);
    }
    target = *value;
    return {};
}

constexpr auto kByteMax = std::numeric_limits<std::uint8_t>::max();
constexpr auto kU32Max = std::numeric_limits<std::uint32_t>::max();

const std::array kOptions = {
    Option{"--link", true,
           [](SimOptions& o, std::string_view v) {
               o.linkPath = v;
               return std::string(v.empty() ? "expects a path" : "");
           }},
    Option{"--record", true,
           [](SimOptions& o, std::string_view v) {
               o.recordPath = v;
               return std::string(v.empty() ? "expects a path" : "");
           }},
    Option{"--record-times", true,
           [](SimOptions& o, std::string_view v) {
               o.recordTimesPath = v;
               return std::string(v.empty() ? "expects a path" : "");
           }},
    Option{"--control", true,
           [](SimOptions& o, std::string_view v) {
               o.controlPath = v;
               return std::string(v.empty() ? "expects a path" : "");
           }},
    Option{"--model", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<std::uint8_t>(o.device.productId, v, 0, kByteMax);
           }},
    Option{"--serial", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<std::uint32_t>(o.device.serialNumber, v, 0, kU32Max);
           }},
    Option{"--firmware", true,
           [](SimOptions& o, std::string_view v) {
               const auto firmware = parseFirmware(v);
               if (!firmware) {
                   return std::string("expects a version such as 0.3B");
               }
               o.device.versionByte = firmware->versionByte;
               o.device.revision = firmware->revision;
               return std::string();
           }},
    Option{"--build", true,
           [](SimOptions& o, std::string_view v) {
               o.device.buildText = v;
               return std::string();
           }},
    Option{"--can-baud", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<int>(o.device.canBaudCode, v, 0, 4);
           }},
    Option{"--vin-style", true,
           [](SimOptions& o, std::string_view v) {
               if (v != "0" && v != "1") {
                   return std::string("expects 0 (Variable) or 1 (Fixed)");
               }
               o.device.vinStyle = v[0];
               return std::string();
           }},
    Option{"--position", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<std::uint8_t>(o.device.position, v, 0, kMaxPosition);
           }},
    Option{"--clock", true,
           [](SimOptions& o, std::string_view v) {
               const auto ms = parseTimeOfDay(v);
               if (!ms) {
                   return std::string("expects HH:MM:SS");
               }
               o.device.clockStartMs = *ms;
               o.clockGiven = true;
               return std::string();
           }},
    Option{"--rate", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<unsigned>(o.device.broadcastRate, v, 0, kMaxBroadcastRate);
           }},
    Option{"--sweep", false,
           [](SimOptions& o, std::string_view) {
               o.device.sweep = true;
               return std::string();
           }},
    Option{"--no-settings-ack", false,
           [](SimOptions& o, std::string_view) {
               o.device.acknowledgeSettings = false;
               return std::string();
           }},
    Option{"--silent", false,
           [](SimOptions& o, std::string_view) {
               o.faults.silent = true;
               return std::string();
           }},
    Option{"--bad-checksums", false,
           [](SimOptions& o, std::string_view) {
               o.faults.badChecksums = true;
               return std::string();
           }},
    Option{"--wrong-id", true,
           [](SimOptions& o, std::string_view v) {
               std::uint8_t id = 0;
               std::string error = setNumber<std::uint8_t>(id, v, 0, kByteMax);
               if (error.empty()) {
                   o.faults.productIdOverride = id;
               }
               return error;
           }},
    Option{"--lower-case", false,
           [](SimOptions& o, std::string_view) {
               o.faults.lowerCase = true;
               return std::string();
           }},
    Option{"--split", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<unsigned>(o.faults.splitPieceMax, v, 1, 64);
           }},
    Option{"--garbage", false,
           [](SimOptions& o, std::string_view) {
               o.faults.garbage = kDefaultGarbage;
               return std::string();
           }},
    Option{"--corrupt", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<std::uint32_t>(o.faults.corruptOneIn, v, 1, kU32Max);
           }},
    Option{"--can", true,
           [](SimOptions& o, std::string_view v) {
               auto target = bus::parseCanTarget(v);
               if (const auto* problem = std::get_if<std::string>(&target)) {
                   return *problem;
               }
               o.can = std::get<bus::CanTarget>(std::move(target));
               return std::string();
           }},
    Option{"--can-extra", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<std::uint32_t>(o.canFaults.extraPerSecond, v, 0,
                                               kMaxExtraPerSecond);
           }},
    Option{"--seed", true,
           [](SimOptions& o, std::string_view v) {
               return setNumber<std::uint32_t>(o.faults.seed, v, 0, kU32Max);
           }},
};

}  // namespace

std::optional<Firmware> parseFirmware(std::string_view text) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos || point == 0 || point > 2 || text.size() != point + 3) {
        return std::nullopt;
    }
    const auto tens = parseNumber<unsigned>(text.substr(0, point), 0, 25);
    const auto units = parseNumber<unsigned>(text.substr(point + 1, 1), 0, 9);
    const char revision = text[point + 2];
    if (!tens || !units || std::isalpha(static_cast<unsigned char>(revision)) == 0) {
        return std::nullopt;
    }
    const unsigned number = *tens * 10 + *units;
    if (number < 1 || number > 256) {
        return std::nullopt;
    }
    return Firmware{static_cast<std::uint8_t>(number - 1),
                    static_cast<char>(std::toupper(static_cast<unsigned char>(revision)))};
}

std::optional<std::uint32_t> parseTimeOfDay(std::string_view text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') {
        return std::nullopt;
    }
    const auto hours = parseNumber<std::uint32_t>(text.substr(0, 2), 0, 23);
    const auto minutes = parseNumber<std::uint32_t>(text.substr(3, 2), 0, 59);
    const auto seconds = parseNumber<std::uint32_t>(text.substr(6, 2), 0, 59);
    if (!hours || !minutes || !seconds) {
        return std::nullopt;
    }
    return ((*hours * 60 + *minutes) * 60 + *seconds) * 1000;
}

ParsedOptions parseOptions(std::span<const std::string_view> args) {
    ParsedOptions result;
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> value;
        if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "--help" || name == "-h") {
            result.help = true;
            return result;
        }
        const Option* option = nullptr;
        for (const Option& candidate : kOptions) {
            if (candidate.name == name) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            result.error = "unknown option " + std::string(args[i]);
            return result;
        }
        if (option->takesValue && !value) {
            if (i + 1 == args.size()) {
                result.error = std::string(name) + " expects a value";
                return result;
            }
            value = args[++i];
        } else if (!option->takesValue && value) {
            result.error = std::string(name) + " takes no value";
            return result;
        }
        if (std::string error = option->apply(options, value.value_or("")); !error.empty()) {
            result.error = std::string(name) + " " + error;
            return result;
        }
    }
    if (options.canFaults.extraPerSecond != 0 && !options.can) {
        result.error = "--can-extra needs --can";
        return result;
    }
    result.options = std::move(options);
    return result;
}

std::string knownModelsHelp() {
    std::string text = "Product IDs of the models Orvale knows:\n";
    for (std::uint8_t id = 8; id <= 15; ++id) {
        std::string line = (id < 10 ? "   " : "  ") + std::to_string(id) + "  ";
        line += *link::modelName(id);
        if (link::isPlusModel(id)) {
            line.resize(28, ' ');
            line += "remote-controllable on firmware 0.3B or 0.3C";
        }
        text += line + '\n';
    }
    text +=
        "On other firmware Orvale shows the device's identity only; any other product ID it\n"
        "shows as \"Wrong ID\" and drops.\n";
    return text;
}

std::string unusualDeviceNote(std::uint8_t productId, std::uint8_t versionByte, char revision) {
    const auto model = link::modelName(productId);
    if (!model) {
        return "the simulated device reports product ID " + std::to_string(productId) +
               ", which Orvale shows as \"Wrong ID\" and drops";
    }
    const auto version =
        link::firmwareVersionText(static_cast<std::uint16_t>(versionByte + 1u), revision);
    std::string_view firmware(version.data(), version.size());
    if (firmware == " 0.3B" || firmware == " 0.3C") {
        return {};
    }
    if (firmware.starts_with(' ')) firmware.remove_prefix(1);
    return "the simulated " + std::string(*model) + " reports firmware " + std::string(firmware) +
           ": Orvale shows its identity only, with the message that it needs 0.3B or 0.3C";
}

std::string usage(std::string_view program) {
    std::string text = "Usage: ";
    text += program;
    text += R"( [options]

Simulated Quennet device on a pseudo-terminal. Prints the slave device path on stdout, one
line each time the line is (re)made, and runs until SIGINT or SIGTERM. SIGUSR1 closes the
line as a pulled USB adapter would; SIGUSR2 makes a new one.

Device:
  --link PATH          keep a symlink at PATH pointing to the current slave device
  --model ID           product ID 0..255 (default 15, Quennet Duo Plus; see below)
  --serial N           serial number (default 12345)
  --firmware TEXT      firmware version and revision letter (default 0.3B)
  --build TEXT         firmware build text, padded or cut to 22 characters
  --can-baud CODE      CAN baud rate code 0..4 at start (default 0, 250K bps)
  --vin-style 0|1      VIN style at start: 0 Variable (default), 1 Fixed
  --position N         control position 0..100 at start (default 0)
  --clock HH:MM:SS     device clock at start (default: local time)
  --rate N             position broadcasts per second, 0..821 (default 10)
  --sweep              drive by itself: each position broadcast carries the next position
                       of a sweep 0..100..0, so that every broadcast changes the displays
  --no-settings-ack    take CAN baud rate and VIN style commands without answering

)";
    text += knownModelsHelp();
    text += R"(
Faults:
  --silent             send nothing (commands are still taken)
  --bad-checksums      spoil the checksum of every checksummed frame
  --wrong-id ID        identify with this product ID instead
  --lower-case         send frames in lower case
  --split N            send frames in pieces of 1..N bytes, 2 ms apart
  --garbage            send line noise before every frame
  --corrupt N          corrupt one byte in N on average
  --seed N             seed for --split and --corrupt (default 1)

CAN bus:
  --can PLUGIN:INTERFACE[,bitrate=N]
                       also put the device's FMS frames on this CAN interface of Qt
                       SerialBus (socketcan:can0, virtualcan:can0), at the device's CAN baud
                       rate unless bitrate= names one; problems go to stderr once, as
                       "quennet-sim: CAN: ...", and the interface is tried again every second
  --can-extra N        N frames a second more from other senders (0..20000), as
                       "can-extra N" below

Tests:
  --record FILE        write every byte the device receives to FILE as it arrives
  --record-times FILE  write one line per chunk received to FILE: the system's monotonic
                       clock (CLOCK_MONOTONIC) in microseconds, a blank, the chunk's bytes
                       as hex pairs in ordinary order (high nibble first) and LF
  --control FIFO       read control lines from the named pipe FIFO (made if missing), and
                       report each on stderr as "quennet-sim: control: LINE" once applied
                       (with ": " and the reason added when it was refused):
)";
    text += controlLinesHelp();
    text += R"(
  --help               show this text
)";
    return text;
}

}  // namespace orvale::sim
