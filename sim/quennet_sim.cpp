// quennet-sim: a simulated Quennet device on a pseudo-terminal, for tests and for working
// without hardware.

#include <pthread.h>
#include <signal.h>

#include <array>
#include <ctime>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QCoreApplication>

#include "bus/qt_can_bus.h"
#include "sim/can_transmitter.h"
#include "sim/control_channel.h"
#include "sim/pty_device.h"
#include "sim/record_file.h"
#include "sim/sim_options.h"

namespace {

std::uint32_t localTimeOfDayMs() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return static_cast<std::uint32_t>((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) *
           1000u;
}

void announce(const orvale::sim::PtyDevice& device) {
    std::cout << device.slavePath() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvale::sim;
    const std::string_view program = "quennet-sim";
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    ParsedOptions parsed = parseOptions(args);
    if (parsed.help) {
        std::cout << usage(program);
        return 0;
    }
    if (!parsed.options) {
        std::cerr << program << ": " << parsed.error << "\nTry '" << program << " --help'.\n";
        return 2;
    }
    SimOptions& options = *parsed.options;
    // A device Orvale will not work with is a test case like any other; say what to expect.
    const std::string note =
        unusualDeviceNote(options.faults.productIdOverride.value_or(options.device.productId),
                          options.device.versionByte, options.device.revision);
    if (!note.empty()) {
        std::cerr << program << ": " << note << '\n';
    }
    if (!options.clockGiven) {
        options.device.clockStartMs = localTimeOfDayMs();
    }

    // Blocked before the device thread starts, so that it inherits the mask and only sigwait
    // below sees them.
    sigset_t caught;
    sigemptyset(&caught);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) {
        sigaddset(&caught, signal);
    }
    pthread_sigmask(SIG_BLOCK, &caught, nullptr);

    // Qt SerialBus needs an application object to find its plugins; nothing here runs its event
    // loop, the CAN transmitter has one on its own thread. Qt sees none of the options.
    static int qtArgc = 1;
    static std::array<char*, 2> qtArgv{argv[0], nullptr};
    std::optional<QCoreApplication> application;
    if (options.can) {
        orvale::bus::quietCanBusDebugging();
        application.emplace(qtArgc, qtArgv.data());
    }

    try {
        // Made before the device and so gone only after it: the device thread writes to it.
        std::unique_ptr<RecordFile> record;
        if (!options.recordPath.empty()) {
            record = std::make_unique<RecordFile>(options.recordPath);
        }
        std::unique_ptr<RecordFile> recordTimes;
        if (!options.recordTimesPath.empty()) {
            recordTimes = std::make_unique<RecordFile>(options.recordTimesPath);
        }
        PtyDevice device(options.device, options.linkPath);
        device.setFaults(options.faults);
        if (record || recordTimes) {
            device.setReceiveObserver([&record, &recordTimes, program](std::string_view bytes) {
                // Taken first, so that writing the plain record never makes a chunk look late.
                const std::int64_t now = monotonicMicroseconds();
                const auto append = [program](RecordFile& file, std::string_view text) {
                    try {
                        file.append(text);
                    } catch (const std::exception& error) {
                        // The device goes on; the record is then incomplete, and says so.
                        std::cerr << program << ": " << error.what() << '\n';
                    }
                };
                if (record) {
                    append(*record, bytes);
                }
                if (recordTimes) {
                    append(*recordTimes, timedRecordLine(now, bytes));
                }
            });
        }
        device.setCanFaults(options.canFaults);
        // Gone before the device, whose frames it sends.
        std::unique_ptr<CanTransmitter> transmitter;
        if (options.can) {
            transmitter = std::make_unique<CanTransmitter>(
                device, *options.can, [program](const std::string& text, bool) {
                    // One write per report, as for the control lines.
                    std::cerr << std::string(program) + ": CAN: " + text + '\n' << std::flush;
                });
        }
        // Gone before the device: its handler drives the device.
        std::unique_ptr<ControlChannel> control;
        if (!options.controlPath.empty()) {
            control = std::make_unique<ControlChannel>(
                options.controlPath, [&device, program](std::string_view line) {
                    const std::string error = applyControlLine(device, line);
                    // One write per report, so that a reader never sees half a line.
                    std::string report = std::string(program) + ": control: " + std::string(line);
                    if (!error.empty()) {
                        report += ": " + error;
                    }
                    report += '\n';
                    std::cerr << report << std::flush;
                });
        }
        announce(device);
        for (;;) {
            int signal = 0;
            if (sigwait(&caught, &signal) != 0) {
                return 1;
            }
            if (signal == SIGUSR1) {
                device.closeLine();
                std::cerr << program << ": line closed\n";
            } else if (signal == SIGUSR2) {
                device.reopenLine();
                announce(device);
            } else {
                return 0;
            }
        }
    } catch (const std::exception& error) {
        std::cerr << program << ": " << error.what() << '\n';
        return 1;
    }
}
