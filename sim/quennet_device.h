#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "link/protocol.h"

/// The simulated Quennet device: a pure state machine without I/O. Bytes from the line go in
/// through `receive`; what the device puts on the line comes out of `transmit`, which is told
/// the time and hands out no more than a 115200-baud 8N1 line carries in that time.
namespace orvale::sim {

/// Bytes per second on a 115200-baud line with 8 data bits, no parity, 1 stop bit.
inline constexpr std::uint32_t kLineBytesPerSecond = 11'520;

/// Status byte bits of the position and status broadcast.
inline constexpr std::uint8_t kStatusQuietOff = 0x01;
inline constexpr std::uint8_t kStatusDynamicOn = 0x02;

/// Highest position the device takes; the keys stop at 0 and here.
inline constexpr std::uint8_t kMaxPosition = 100;

/// Position broadcasts per second by default, and the most that fit on the line beside the
/// clock broadcast.
inline constexpr unsigned kDefaultBroadcastRate = 10;
inline constexpr unsigned kMaxBroadcastRate =
    (kLineBytesPerSecond - link::frame_length::kClock) / link::frame_length::kPositionStatus;

/// Who the device is and the settings it starts with.
struct DeviceConfig {
    std::uint8_t productId = 15;  ///< 8..15 are known models; 15 is "Quennet Duo Plus"
    std::uint32_t serialNumber = 12345;
    std::uint8_t versionByte = 2;  ///< firmware version number is versionByte + 1
    char revision = 'B';
    std::string buildText = "Quennet sim build 0001";  ///< padded or cut to 22 characters
    int canBaudCode = 0;                               ///< 0..4
    char vinStyle = '0';                               ///< '0' Variable, '1' Fixed
    std::uint8_t position = 0;
    std::uint8_t status = kStatusQuietOff;           ///< Quiet on would clear bit 0
    std::uint32_t clockStartMs = 0;                  ///< time of day at start, ms after midnight
    unsigned broadcastRate = kDefaultBroadcastRate;  ///< position broadcasts per second
    bool acknowledgeSettings = true;  ///< answer settings commands with the new value
    /// Drive by itself: every position broadcast carries the next position of a sweep
    /// 0, 1, ... 100, 99, ... 0, so that every broadcast changes what a terminal shows.
    bool sweep = false;
};

/// What the device's commands and keys have changed so far.
struct DeviceState {
    std::uint8_t position = 0;
    std::uint8_t status = 0;
    int canBaudCode = 0;
    char vinStyle = '0';
};

/// Misbehaviour on demand, for tests of the receiving side. All off by default.
struct Faults {
    bool silent = false;        ///< transmit nothing; commands are still read and applied
    bool badChecksums = false;  ///< every checksummed frame carries checksum + 1
    std::optional<std::uint8_t> productIdOverride;  ///< identity frames carry this product ID
    bool lowerCase = false;  ///< letters go out in lower case (checksums stay those of upper case)
    unsigned splitPieceMax = 0;      ///< 0: off; else frames go out in pieces of 1..this many bytes
    std::string garbage;             ///< sent before every frame
    std::uint32_t corruptOneIn = 0;  ///< 0: off; else each byte is corrupted with chance 1/N
    std::uint32_t seed = 1;          ///< seeds piece lengths and corruption
};

/// Garbage that the command line's switch sends: line noise that contains no frame header.
inline constexpr std::string_view kDefaultGarbage{"\0~#\xff", 4};

/// Commands taken since start, by kind, and lines that were not taken.
struct CommandCounts {
    std::uint64_t identify = 0;
    std::uint64_t position = 0;
    std::uint64_t key = 0;
    std::uint64_t canBaudRate = 0;
    std::uint64_t vinStyle = 0;
    std::uint64_t badChecksum = 0;  ///< key and position commands whose checksum failed
    std::uint64_t unknown = 0;      ///< any other non-empty line
};

class QuennetDevice {
public:
    explicit QuennetDevice(DeviceConfig config = {});

    /// Takes bytes from the line at `nowMs` (see `transmit`). Commands end at CR or LF;
    /// anything before the last "AT " of a line is noise and is skipped. Answers wait for
    /// `transmit`.
    void receive(std::string_view bytes, std::uint32_t nowMs);

    /// Advances the device to `nowMs` (a wrapping 32-bit millisecond count; the first call sets
    /// time zero) and returns the bytes the line carries now: never more than the line rate
    /// allows since the previous call, and never across a piece boundary when frames are split.
    std::string transmit(std::uint32_t nowMs);

    /// Milliseconds from `nowMs` until `transmit` has something to send; 0 when it has now.
    /// At most 1000.
    std::uint32_t msUntilDue(std::uint32_t nowMs);

    const DeviceConfig& config() const { return m_config; }
    const DeviceState& state() const { return m_state; }
    const CommandCounts& counts() const { return m_counts; }
    const Faults& faults() const { return m_faults; }
    /// The clock that the next clock broadcast would carry.
    link::ClockTime clock() const;
    /// The clock at `nowMs` (the clock of `transmit`), without advancing the device: what a
    /// clock broadcast would carry if one went out then.
    link::ClockTime clockAt(std::uint32_t nowMs) const;

    /// Switching `silent` on also drops what is waiting to go out.
    void setFaults(Faults faults);
    /// Clamped to 0..kMaxBroadcastRate; 0 stops the position broadcasts (the clock goes on).
    void setBroadcastRate(unsigned perSecond);
    unsigned broadcastRate() const { return m_config.broadcastRate; }
    /// Any byte, also beyond 100, so that tests can make the device report odd positions.
    void setPosition(std::uint8_t position) { m_state.position = position; }
    void setStatus(std::uint8_t status) { m_state.status = status; }

    /// Bytes queued for the line and not yet handed out.
    std::size_t pendingBytes() const { return m_out.size() - m_outHead; }
    /// Broadcasts skipped because the line was still busy with earlier output.
    std::uint64_t droppedBroadcasts() const { return m_droppedBroadcasts; }

private:
    void advance(std::uint32_t nowMs);
    void handleLine(std::string_view line);
    void handleKey(std::uint8_t code);
    void answerIdentify();
    void queueFrame(std::string frame);
    void advanceSweep();
    void queueBroadcast(std::string frame);

    bool m_sweepDown = false;
    DeviceConfig m_config;
    DeviceState m_state;
    Faults m_faults;
    CommandCounts m_counts;

    std::string m_line;  // command being received

    // Output queue: m_out[m_outHead..] waits for the line; m_cuts hold the queue offsets
    // (counted from the start of m_out) where a split piece ends.
    std::string m_out;
    std::size_t m_outHead = 0;
    std::deque<std::size_t> m_cuts;

    bool m_started = false;
    std::uint32_t m_lastMs = 0;
    std::uint64_t m_lineCredit = 0;       // line capacity earned, in 1/1000 byte
    std::uint64_t m_broadcastCredit = 0;  // position broadcast rate x elapsed ms
    std::uint32_t m_clockCreditMs = 0;    // ms since the last clock broadcast
    std::uint32_t m_timeOfDayMs = 0;
    std::uint32_t m_holdMs = 0;  // split pieces: ms left before the next piece may start

    std::mt19937 m_random;
    std::uint64_t m_droppedBroadcasts = 0;
};

}  // namespace orvale::sim
