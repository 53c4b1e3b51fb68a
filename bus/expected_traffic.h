#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "bus/expected_state.h"
#include "bus/frame_schedule.h"
#include "fms/encoder.h"
#include "session/device_session.h"

namespace orvale::bus {

/// The two text formats every CAN tool reads.
enum class LogFormat {
    Candump,  ///< "(1700000000.123456) can0 18FEF100#F3CCC81DFFFF1FFF"
    Asc,      ///< Vector ASC, absolute timestamps from the start of the measurement
};

/// ASC for a name ending in ".asc" (any case), else candump's log.
[[nodiscard]] LogFormat logFormatOf(std::string_view path) noexcept;

/// The frames the device should be sending, as the lines of a log: while the session's device
/// is connected, every group of the expectation at its period, following the reported position.
/// Nothing is written while the position is unknown (no device, or one Orvale only identifies).
/// Plain C++ over a caller's steady clock: the owner calls run() when nextDue() comes.
class ExpectedTraffic final : public session::SessionObserver {
public:
    /// One line without its end.
    using LineSink = std::function<void(std::string_view line)>;

    /// Milliseconds of a steady clock (steadyMs(); tests step their own).
    using Clock = std::function<std::uint64_t()>;

    /// The log starts now: `clock()` and `startEpochUs` (the wall clock) name the same moment,
    /// and frames are timed from it. Writes the head of an ASC file at once.
    ExpectedTraffic(const session::DeviceSession& session, LogFormat format, LineSink sink,
                    Clock clock, std::uint64_t startEpochUs, std::string interface = "can0");

    /// Takes the session's current expectation (the session's reports do this).
    void refresh();
    /// Writes every frame due by `nowMs`, timed when it was due.
    void run(std::uint64_t nowMs);
    [[nodiscard]] std::optional<std::uint64_t> nextDue() const noexcept {
        return m_schedule.nextDue();
    }
    /// Closes an ASC file (its last line); a candump log needs nothing.
    void finish();

    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void stateChanged(session::SessionState state) override;
    void identityChanged(const session::Identity& identity) override;

private:
    const session::DeviceSession& m_session;
    LogFormat m_format;
    LineSink m_sink;
    Clock m_clock;
    std::uint64_t m_startMs;
    std::uint64_t m_startEpochUs;
    std::string m_interface;
    std::optional<Expectation> m_expected;
    fms::EncodedFrames m_frames;
    FrameSchedule m_schedule;
    std::string m_line;
    bool m_finished = false;
};

}  // namespace orvale::bus
