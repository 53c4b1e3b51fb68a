#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bus/can_target.h"
#include "sim/quennet_device.h"

namespace orvale::app {

/// What Orvale was asked to do on its command line.
struct Options {
    /// --port COM<n>=<path>, in the order given; a later mapping of the same port wins.
    std::vector<std::pair<int, std::string>> ports;
    /// --simulate[=model=<id>,serial=<n>,firmware=<x.yL>]: run against the built-in device.
    std::optional<sim::DeviceConfig> simulate;
    /// --simulate=...,can=<plugin>:<interface>: the simulated device also sends its FMS frames
    /// on this CAN interface.
    std::optional<bus::CanTarget> simulateCan;
    /// --log FILE.csv: record every update of the parameter displays.
    std::optional<std::string> logPath;
    /// --api [ADDRESS:]PORT: the control API. No address: the loopback interface only.
    struct Api {
        std::string address;  ///< empty for loopback (IPv4 and IPv6)
        int port = 0;         ///< 0: the system chooses (said on standard error)
    };
    std::optional<Api> api;
    /// --api-token-file FILE: the token a client's first line must present; required with an
    /// address other than loopback.
    std::optional<std::string> apiTokenFile;
    /// --profile FILE.csv: a drive profile played once remote control is enabled.
    std::optional<std::string> profilePath;
    /// --profile-loop: play it over and over.
    bool profileLoop = false;
    /// --headless: no window; messages go to standard error.
    bool headless = false;
    /// --plot LABEL[,LABEL...]: open the plot window at start with these parameters.
    std::optional<std::string> plotLabels;
    /// --view FILE.csv: show a recording in the plot window, without a device.
    std::optional<std::string> viewPath;
    /// --expected-can FILE.log|FILE.asc: write the frames the device should be sending.
    std::optional<std::string> expectedCanPath;
    /// --can <plugin>:<interface>[,bitrate=N]: listen on this CAN interface (the bus check).
    std::optional<bus::CanTarget> can;
    /// --bus-check: open the bus window at start.
    bool busCheck = false;
    /// --bus-marks: outline the main window's displays whose bus value disagrees.
    bool busMarks = false;
    /// --can-log FILE.log: record every frame seen on the --can interface.
    std::optional<std::string> canLogPath;
    /// Qt's own options with their values ("-platform", "offscreen", "-reverse" ...), in the
    /// order given: QApplication receives these after the program name and nothing else.
    std::vector<std::string> qtArguments;
};

/// The outcome of parsing: options to run with, or a text to print and an exit status.
struct ParseResult {
    std::optional<Options> options;
    std::string output;  ///< --help or --version text (stdout), or the error (stderr)
    int exitCode = 0;    ///< 0 after --help/--version, 2 for a malformed command line
    /// With options: lines for standard error before the run, each ending in a line end (what
    /// the window will make of an unusual simulated device); empty for none.
    std::string notice = {};
};

/// Exit status of a command line that cannot be carried out.
inline constexpr int kExitBadCommandLine = 2;

/// The release as the window's title names it, fixed since the first release.
inline constexpr std::string_view kReleaseText = "Ver. 1.00A, Build: 01072019-01";

/// The --version line without its end: "Orvale 1.0.0 (Ver. 1.00A, Build: 01072019-01) Qt
/// 6.4.2", the project's version first, as packaging tools read it.
std::string versionLine(std::string_view qtVersion);

/// Parses the arguments after the program name. A relative --port path is made absolute
/// against `workingDirectory` (this process's current directory when empty) and lexically
/// normalised; an absolute one is kept as given.
ParseResult parseCommandLine(std::span<const std::string> args,
                             std::string_view workingDirectory = {});

/// Parses the value of --simulate: "model=13,serial=42,firmware=0.3C,can=virtualcan:can0", any
/// subset, or empty. `can` (when given) receives the CAN interface; without it, can= is refused.
std::optional<sim::DeviceConfig> parseSimulation(std::string_view device, std::string* error,
                                                 std::optional<bus::CanTarget>* can = nullptr);

/// The --help text.
std::string usage();

}  // namespace orvale::app
