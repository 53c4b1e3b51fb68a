#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bus/can_target.h"
#include "sim/can_faults.h"

namespace orvale::sim {

class PtyDevice;

/// Puts the FMS frames of a running PtyDevice on a CAN interface, as the device's own CAN side
/// does: whenever the device's position, product ID (a wrong-id fault too), VIN style, serial
/// number, clock second or CAN baud rate changes, the model is evaluated as Orvale's window
/// evaluates it, encoded, the bus faults applied, and each group goes on at its period. The bus
/// runs at the device's CAN baud rate unless the target names a bitrate.
///
/// Runs on a thread of its own with a Qt event loop (a QCoreApplication must exist), or on the
/// caller's; either way the serial side, on the device's thread, never waits for the bus. Problems
/// with the interface are reported once each through the reporter, and the interface is tried again
/// every second (bus::CanBusLink).
class CanTransmitter {
public:
    /// A line for the operator: `problem` false for news that the interface works. Called on the
    /// transmitter's thread.
    using Reporter = std::function<void(const std::string& text, bool problem)>;

    /// Frames so far.
    struct Counters {
        std::uint64_t frames = 0;       ///< the device's own frames the interface took
        std::uint64_t extraFrames = 0;  ///< frames of the extra traffic it took
        std::uint64_t refused = 0;      ///< frames dropped: the interface down or refusing
        std::uint64_t evaluations = 0;  ///< times the frames were made afresh
    };

    /// Where the interface is driven. Qt's virtual CAN bus keeps one server per process, which
    /// every interface of the process must use from one thread: a program that also reads the
    /// bus itself (Orvale with --simulate and --can) sends from its own event loop.
    enum class Threading { kOwnThread, kCallersThread };

    /// Starts at once. `device` must outlive the transmitter. kCallersThread: the caller's
    /// thread runs a Qt event loop, and the reporter is called on it.
    CanTransmitter(PtyDevice& device, bus::CanTarget target, Reporter reporter = {},
                   Threading threading = Threading::kOwnThread);
    /// Stops the thread, closing the interface.
    ~CanTransmitter();

    CanTransmitter(const CanTransmitter&) = delete;
    CanTransmitter& operator=(const CanTransmitter&) = delete;

    /// The device's bus faults (they live with the device, where its control lines set them).
    void setFaults(CanFaults faults);
    [[nodiscard]] CanFaults faults() const;

    [[nodiscard]] Counters counters() const noexcept;
    [[nodiscard]] const bus::CanTarget& target() const noexcept { return m_target; }

    /// Shared with the thread.
    struct AtomicCounters {
        std::atomic<std::uint64_t> frames{0};
        std::atomic<std::uint64_t> extraFrames{0};
        std::atomic<std::uint64_t> refused{0};
        std::atomic<std::uint64_t> evaluations{0};
    };

private:
    class Here;
    class Thread;

    PtyDevice& m_device;
    const bus::CanTarget m_target;
    AtomicCounters m_counters;
    std::unique_ptr<Here> m_here;      // kCallersThread
    std::unique_ptr<Thread> m_thread;  // last: starts after everything above exists
};

}  // namespace orvale::sim
