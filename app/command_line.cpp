#include "app/command_line.h"

#include <QtGlobal>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <variant>

#include "app/version.h"
#include "link/connection.h"
#include "plot/series_catalogue.h"
#include "sim/sim_options.h"

namespace orvale::app {
namespace {

template <class T>
std::optional<T> parseNumber(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<std::pair<int, std::string>> parsePort(std::string_view text, std::string* error) {
    const auto eq = text.find('=');
    const auto name = text.substr(0, eq);
    const bool comPrefix =
        name.size() > 3 && (name.substr(0, 3) == "COM" || name.substr(0, 3) == "com");
    const auto number = comPrefix ? parseNumber<int>(name.substr(3)) : std::nullopt;
    if (eq == std::string_view::npos || !number || *number < 1 || *number > link::kHighestPort) {
        *error =
            "--port takes COM<n>=<device path> with n from 1 to 50, e.g. "
            "--port COM1=/dev/ttyUSB0; got \"" +
            std::string(text) + "\"";
        return std::nullopt;
    }
    if (eq + 1 == text.size()) {
        *error = "--port " + std::string(name) + "= names no device path";
        return std::nullopt;
    }
    return std::pair{*number, std::string(text.substr(eq + 1))};
}

// QSerialPort opens a name without a leading "/" under /dev ("ttyUSB0" becomes
// "/dev/ttyUSB0"), so a path relative to where Orvale was started is resolved here, once; every
// message and tooltip then names the file actually opened.
std::optional<std::string> absoluteDevicePath(const std::string& path,
                                              [[maybe_unused]] std::string_view workingDirectory,
                                              std::string* error) {
#ifdef _WIN32
    // Windows names its ports ("COM3", "\\.\COM3"), not files relative to a directory.
    return path;
#else
    if (path.front() == '/') return path;
    std::filesystem::path base(workingDirectory);
    if (base.empty()) {
        std::error_code ec;
        base = std::filesystem::current_path(ec);
        if (ec) {
            *error = "--port " + path + ": the current directory is unknown (" + ec.message() +
                     "); give an absolute path";
            return std::nullopt;
        }
    }
    return (base / path).lexically_normal().string();
#endif
}

// Qt's own options, as QCoreApplication, QGuiApplication, QApplication and the platform plugins
// take them out of argv. Qt reads each with one dash or two, and its value from the next
// argument whatever that holds; only those marked NextOrInline also take "-style=Fusion".
enum class QtValue : std::uint8_t { None, Next, NextOrInline };

struct QtOption {
    std::string_view name;
    QtValue value;
};

constexpr QtOption kQtOptions[] = {
    {"-platform", QtValue::Next},
    {"-platformpluginpath", QtValue::Next},
    {"-platformtheme", QtValue::Next},
    {"-plugin", QtValue::Next},
    {"-qwindowgeometry", QtValue::Next},
    {"-qwindowtitle", QtValue::Next},
    {"-qwindowicon", QtValue::Next},
    {"-geometry", QtValue::Next},
    {"-title", QtValue::Next},
    {"-icon", QtValue::Next},
    {"-session", QtValue::Next},
    {"-reverse", QtValue::None},
    {"-style", QtValue::NextOrInline},
    {"-stylesheet", QtValue::NextOrInline},
    {"-widgetcount", QtValue::None},
    {"-qmljsdebugger", QtValue::NextOrInline},
    {"-testability", QtValue::None},
    // X11's, some of them left over from earlier Qt versions and ignored by Qt 6.
    {"-display", QtValue::Next},
    {"-name", QtValue::Next},
    {"-visual", QtValue::Next},
    {"-nograb", QtValue::None},
    {"-dograb", QtValue::None},
    {"-sync", QtValue::None},
    {"-ncols", QtValue::Next},
    {"-cmap", QtValue::None},
    {"-im", QtValue::Next},
    {"-inputstyle", QtValue::Next},
    {"-fontengine", QtValue::Next},
};

const QtOption* findQtOption(std::string_view name) {
    if (name.starts_with("--")) name.remove_prefix(1);
    for (const QtOption& option : kQtOptions) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// "7170", "0.0.0.0:7170", "[::1]:7170", "localhost:7170".
std::optional<Options::Api> parseApi(std::string_view text) {
    Options::Api api;
    std::string_view port = text;
    if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        api.address = std::string(text.substr(0, colon));
        port = text.substr(colon + 1);
        if (api.address.size() >= 2 && api.address.front() == '[' && api.address.back() == ']') {
            api.address = api.address.substr(1, api.address.size() - 2);
        }
        if (api.address.empty()) return std::nullopt;
    }
    const auto number = parseNumber<int>(port);
    if (!number || *number < 0 || *number > 65535) return std::nullopt;
    api.port = *number;
    return api;
}

bool isLoopback(std::string_view address) {
    return address == "localhost" || address == "::1" || address.starts_with("127.");
}

}  // namespace

std::optional<sim::DeviceConfig> parseSimulation(std::string_view device, std::string* error,
                                                 std::optional<bus::CanTarget>* can) {
    sim::DeviceConfig config;
    while (!device.empty()) {
        if (can != nullptr && device.starts_with("can=")) {
            // Last, as the interface may carry its own ",bitrate=N".
            auto target = bus::parseCanTarget(device.substr(4));
            if (auto* problem = std::get_if<std::string>(&target)) {
                *error = "--simulate can=: " + *problem;
                return std::nullopt;
            }
            *can = std::get<bus::CanTarget>(std::move(target));
            break;
        }
        const auto comma = device.find(',');
        const auto item = device.substr(0, comma);
        device = comma == std::string_view::npos ? std::string_view{} : device.substr(comma + 1);
        const auto eq = item.find('=');
        const auto key = item.substr(0, eq);
        const auto value = eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
        if (key == "model") {
            const auto id = parseNumber<unsigned>(value);
            if (!id || *id > 255) {
                *error = "--simulate model= takes a product ID from 0 to 255, e.g. model=13";
                return std::nullopt;
            }
            config.productId = static_cast<std::uint8_t>(*id);
        } else if (key == "serial") {
            const auto serial = parseNumber<std::uint32_t>(value);
            if (!serial) {
                *error = "--simulate serial= takes a number from 0 to 4294967295, e.g. serial=42";
                return std::nullopt;
            }
            config.serialNumber = *serial;
        } else if (key == "firmware") {
            const auto firmware = sim::parseFirmware(value);
            if (!firmware) {
                *error = "--simulate firmware= takes a version such as 0.3B or 0.3C";
                return std::nullopt;
            }
            config.versionByte = firmware->versionByte;
            config.revision = firmware->revision;
        } else {
            *error = "--simulate knows model=, serial=, firmware= and can=; got \"" +
                     std::string(item) + "\"";
            return std::nullopt;
        }
    }
    return config;
}

std::string versionLine(std::string_view qtVersion) {
    return "Orvale " + std::string(kVersion) + " (" + std::string(kReleaseText) + ") Qt " +
           std::string(qtVersion);
}

std::string usage() {
    return R"(Usage: Orvale [options]

A remote terminal for the Quennet FMS simulator on a serial line (115200 baud, 8N1).

Options:
  --port COM<n>=<path>   Open <path> for port COM<n> (1 to 50). Repeatable. Without it,
                         COM<n> is /dev/ttyS<n-1> (the system's COM<n> on Windows).
                           Orvale --port COM1=/dev/ttyUSB0 --port COM2=/dev/ttyACM0
  --simulate[=<device>]  Run against the built-in simulated device instead of hardware.
                         <device> chooses model (product ID, see below), serial number and
                         firmware.
                           Orvale --simulate
                           Orvale --simulate=model=13,serial=42,firmware=0.3C
                         can=<plugin>:<interface>, last, also puts the device's FMS frames
                         on a CAN bus through Qt SerialBus (socketcan, peakcan, virtualcan ...).
                           Orvale --simulate=model=15,can=virtualcan:can0
  --log <file.csv>       Record every update of the parameter displays as a CSV row,
                         replacing the file if it exists. A file that cannot be written
                         ends Orvale at once with exit status 2.
                           Orvale --log drive.csv
  --api [<address>:]<port>
                         Answer the control API (JSON Lines over TCP, see the README) on
                         <port> of the loopback interface, or of <address> when one is named
                         (then --api-token-file is required). The API steers a real device:
                         never let it face an untrusted network.
                           Orvale --api 7170
                           Orvale --api 0.0.0.0:7170 --api-token-file ~/.orvale-token
  --api-token-file <file>
                         The token (32 or more hexadecimal characters) a client's first line
                         must present; the file must be readable by its owner only.
  --profile <file.csv>   Play a drive profile (time_s,position[,key] rows) once the device
                         can be remote-controlled. A bad file ends Orvale with exit status 2.
                           Orvale --profile ramp.csv
  --profile-loop         Play the profile over and over.
  --headless             No window: run the device session alone (for scripts and CI; no
                         display server needed). Messages go to standard error; Ctrl+C or
                         SIGTERM ends it cleanly.
                           Orvale --headless --simulate --api 7170
  --plot <label>[,<label>...]
                         Open the plot window at start, plotting these parameters (the
                         labels of their displays).
                           Orvale --plot "Engine speed,Wheel based Speed"
  --view <file.csv>      Show a recording made with --log in the plot window, without a
                         device.
                           Orvale --view drive.csv
  --expected-can <file.log|file.asc>
                         Write the frames the device should be sending for the position it
                         reports, at each group's period: a candump log, or Vector ASC when
                         the name ends in .asc.
                           Orvale --simulate --expected-can expected.log
  --can <plugin>:<interface>[,bitrate=<n>]
                         Listen on a CAN interface through Qt SerialBus and check the bus
                         against the window. Without bitrate=, the device's CAN baud rate.
                           Orvale --can socketcan:can0 --bus-check
  --bus-check            Open the bus window at start (needs --can).
  --bus-marks            Outline each display of the main window whose bus value disagrees
                         (needs --can).
  --can-log <file.log>   Record every frame seen on the --can interface as a candump log.
                           Orvale --can socketcan:can0 --log drive.csv --can-log drive.log
  --help                 Show this text and exit.
                           Orvale --help
  --version              Show the version and exit.
                           Orvale --version

Qt's own options (-platform, -style, -geometry ...) are passed to Qt.
                           Orvale -platform offscreen -style Fusion

)" + sim::knownModelsHelp();
}

ParseResult parseCommandLine(std::span<const std::string> args, std::string_view workingDirectory) {
    Options options;
    const auto fail = [](std::string message) {
        return ParseResult{std::nullopt, "Orvale: " + message + "\nTry 'Orvale --help'.\n",
                           kExitBadCommandLine};
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const auto eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        const bool hasInline = eq != std::string_view::npos;
        const std::string_view inlineValue = hasInline ? arg.substr(eq + 1) : std::string_view{};
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (hasInline) return std::string(inlineValue);
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };

        if (name == "--help" || name == "-h") {
            return {std::nullopt, usage(), 0};
        } else if (name == "--version") {
            return {std::nullopt, versionLine(qVersion()) + "\n", 0};
        } else if (name == "--port") {
            const auto value = takeValue();
            if (!value) return fail("--port needs COM<n>=<device path>");
            std::string error;
            auto port = parsePort(*value, &error);
            if (!port) return fail(error);
            auto path = absoluteDevicePath(port->second, workingDirectory, &error);
            if (!path) return fail(error);
            port->second = std::move(*path);
            options.ports.push_back(std::move(*port));
        } else if (name == "--simulate") {
            std::string error;
            auto config = parseSimulation(inlineValue, &error, &options.simulateCan);
            if (!config) return fail(error);
            options.simulate = std::move(config);
        } else if (name == "--expected-can") {
            const auto value = takeValue();
            if (!value || value->empty())
                return fail("--expected-can needs a file name, e.g. --expected-can expected.log");
            options.expectedCanPath = *value;
        } else if (name == "--can") {
            const auto value = takeValue();
            if (!value || value->empty())
                return fail("--can needs an interface, e.g. socketcan:can0");
            auto target = bus::parseCanTarget(*value);
            if (auto* problem = std::get_if<std::string>(&target)) return fail("--can " + *problem);
            options.can = std::get<bus::CanTarget>(std::move(target));
        } else if (name == "--bus-check" && !hasInline) {
            options.busCheck = true;
        } else if (name == "--bus-marks" && !hasInline) {
            options.busMarks = true;
        } else if (name == "--can-log") {
            const auto value = takeValue();
            if (!value || value->empty())
                return fail("--can-log needs a file name, e.g. --can-log drive.log");
            options.canLogPath = *value;
        } else if (name == "--log") {
            const auto value = takeValue();
            if (!value || value->empty())
                return fail("--log needs a file name, e.g. --log drive.csv");
            options.logPath = *value;
        } else if (name == "--api") {
            const auto value = takeValue();
            if (!value || value->empty()) {
                return fail("--api needs a port, e.g. --api 7170 or --api 0.0.0.0:7170");
            }
            auto api = parseApi(*value);
            if (!api) {
                return fail("--api takes [<address>:]<port> with a port from 0 to 65535; got \"" +
                            *value + "\"");
            }
            options.api = std::move(api);
        } else if (name == "--api-token-file") {
            const auto value = takeValue();
            if (!value || value->empty()) return fail("--api-token-file needs a file name");
            options.apiTokenFile = *value;
        } else if (name == "--profile") {
            const auto value = takeValue();
            if (!value || value->empty())
                return fail("--profile needs a file name, e.g. --profile ramp.csv");
            options.profilePath = *value;
        } else if (name == "--profile-loop" && !hasInline) {
            options.profileLoop = true;
        } else if (name == "--headless" && !hasInline) {
            options.headless = true;
        } else if (name == "--plot") {
            const auto value = takeValue();
            if (!value || value->empty())
                return fail("--plot needs labels, e.g. --plot \"Engine speed,Fuel Rate\"");
            const plot::SeriesList list = plot::parseSeriesList(*value);
            if (!list.error.empty()) return fail("--plot: " + list.error);
            options.plotLabels = *value;
        } else if (name == "--view") {
            const auto value = takeValue();
            if (!value || value->empty())
                return fail("--view needs a recording, e.g. --view drive.csv");
            options.viewPath = *value;
        } else if (const QtOption* qt = findQtOption(name)) {
            options.qtArguments.emplace_back(arg);
            if (hasInline && qt->value != QtValue::NextOrInline) {
                return fail("Qt's option " + std::string(name) + " takes no \"=\"; write " +
                            std::string(name) + (qt->value == QtValue::None ? "" : " <value>"));
            }
            if (qt->value != QtValue::None && !hasInline) {
                if (i + 1 == args.size()) {
                    return fail("Qt's option " + std::string(name) + " needs a value");
                }
                options.qtArguments.push_back(args[++i]);
            }
        } else {
            return fail("unknown option \"" + std::string(arg) + "\"");
        }
    }
    if (options.api && !options.api->address.empty() && !isLoopback(options.api->address) &&
        !options.apiTokenFile) {
        return fail("--api on " + options.api->address +
                    " faces a network: it needs --api-token-file (the API steers a real device)");
    }
    if (options.apiTokenFile && !options.api) return fail("--api-token-file goes with --api");
    if (options.profileLoop && !options.profilePath)
        return fail("--profile-loop goes with --profile");
    if (options.plotLabels && options.headless)
        return fail("--plot needs the window; it does not go with --headless");
    if (options.viewPath && options.headless)
        return fail("--view shows a window; it does not go with --headless");
    if (!options.can) {
        if (options.busCheck) return fail("--bus-check goes with --can <plugin>:<interface>");
        if (options.busMarks) return fail("--bus-marks goes with --can <plugin>:<interface>");
        if (options.canLogPath) return fail("--can-log goes with --can <plugin>:<interface>");
    }
    if (options.busCheck && options.headless)
        return fail("--bus-check opens a window; it does not go with --headless");
    if (options.busMarks && options.headless)
        return fail("--bus-marks marks the window; it does not go with --headless");
    ParseResult result{std::move(options), {}, 0};
    if (const auto& device = result.options->simulate) {
        // Accepted all the same: a device the window will not work with is a test case too.
        const std::string note =
            sim::unusualDeviceNote(device->productId, device->versionByte, device->revision);
        if (!note.empty()) result.notice = "Orvale: " + note + "\n";
    }
    return result;
}

}  // namespace orvale::app
