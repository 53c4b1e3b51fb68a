#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol.h"
#include "profile/profile.h"

namespace orvale::profile {

/// What the player drives: the device session in the program, a recording fake in tests.
class ProfileTarget {
public:
    virtual ~ProfileTarget() = default;
    /// True while the device takes position and key commands (a Plus model on firmware 0.3B
    /// or 0.3C, connected).
    [[nodiscard]] virtual bool remoteControllable() const = 0;
    /// Sends a position command, 0 to 100. The device answers it with "ACK %".
    virtual void sendPosition(int position) = 0;
    virtual void pressKey(link::Key key) = 0;
};

enum class PlayerState : std::uint8_t {
    Idle,      ///< not started
    Waiting,   ///< started, but the device cannot be remote-controlled: the profile's clock stands
    Playing,   ///< the profile's clock runs (or, at its end, the last command awaits its answer)
    Finished,  ///< the end was reached and the last position sent
    Stopped,   ///< stop() was called
};

/// "idle", "waiting", "playing", "finished", "stopped".
[[nodiscard]] std::string_view toString(PlayerState state);

/// Where the playback stands.
struct Progress {
    PlayerState state = PlayerState::Idle;
    std::uint64_t elapsedMs = 0;   ///< profile time played in the current loop
    std::uint64_t durationMs = 0;  ///< the profile's duration
    bool looping = false;          ///< the player starts over at the end
    std::uint64_t loops = 0;       ///< loops completed
    std::uint64_t positionCommands = 0;
    std::uint64_t answersMissed = 0;  ///< commands left without "ACK %" for kAnswerTimeoutMs
    std::uint64_t keysPressed = 0;

    friend bool operator==(const Progress&, const Progress&) = default;
};

/// A line for standard error: "profile drive.csv: 30% (3.0 s of 10.0 s), 31 position
/// commands, 0 answers missed", "profile drive.csv: finished in 10.0 s: 101 position commands,
/// 2 answers missed". Times are cut, not rounded, to the tenth of a second.
[[nodiscard]] std::string formatProgress(std::string_view profileName, const Progress& progress);

struct PlayerOptions {
    /// At the end, start over from time 0 (the keys of each loop are pressed again).
    bool loop = false;
};

/// Plays a profile against a target. It has no timers: the owner calls tick() at the time the
/// previous call asked for (any time earlier or later is fine too, only less exact), and after
/// each positionAcknowledged(). Times are milliseconds of any monotonic clock.
///
/// The position moves linearly between rows. A position command carries the whole position
/// (truncated toward zero, as the slider sends it) and goes whenever that changes, with at most
/// one command awaiting its "ACK %": the next goes after the answer or after kAnswerTimeoutMs
/// without one (a missed answer), and carries the position of that moment, so intermediate
/// positions that went stale meanwhile are never sent. A key goes at its row's time, after the
/// row's position when the position can go. While the target is not remote-controllable the
/// profile's clock stands still; when it is again, the current position is sent afresh (the
/// device may have been reset meanwhile) and the profile goes on from where it stood. At the
/// end the player finishes once the last position has been sent and answered (or missed).
///
/// Ticked late (a busy event loop), it catches up in one go: due keys are pressed in order, the
/// position skips to the present, and a looping profile skips whole loops it missed.
class ProfilePlayer {
public:
    using ProgressCallback = std::function<void(const Progress&)>;

    /// How long a position command may await its answer.
    static constexpr std::uint64_t kAnswerTimeoutMs = 1000;
    /// How often the target is asked again while it cannot be remote-controlled.
    static constexpr std::uint64_t kWaitPollMs = 100;

    /// `onProgress` is called at each tenth of the profile's duration (the highest one crossed,
    /// once each per loop), at the end of each loop, when the player finishes, when waiting
    /// starts and ends, and on stop. It may call stop() or start().
    ProfilePlayer(Profile profile, ProfileTarget& target, PlayerOptions options = {},
                  ProgressCallback onProgress = {});

    /// Starts (or starts over) from time 0: sends the position at time 0 and presses the keys at
    /// time 0, or waits when the target is not remote-controllable. Returns what tick() returns.
    std::optional<std::uint64_t> start(std::uint64_t nowMs);
    /// Ends the playback; nothing more is sent. No-op unless waiting or playing.
    void stop();
    /// The device answered a position command ("ACK %"). Tick at once afterwards: the next
    /// command may be due. May also be called from inside ProfileTarget::sendPosition(). The
    /// answer names no command, so a late answer to one already counted as missed is taken for
    /// the command out, if any; none out, it is ignored.
    void positionAcknowledged();
    /// Runs what is due at `nowMs`. Returns when the next tick is needed (the next whole
    /// position, key, tenth, answer timeout or the end; a poll while waiting), or nothing once
    /// finished or stopped.
    std::optional<std::uint64_t> tick(std::uint64_t nowMs);

    [[nodiscard]] Progress progress() const;
    [[nodiscard]] const Profile& profile() const { return m_profile; }

private:
    [[nodiscard]] bool active() const {
        return m_state == PlayerState::Waiting || m_state == PlayerState::Playing;
    }
    bool report();
    bool runDue(std::uint64_t nowMs);
    bool sendPositionIfDue(std::uint64_t nowMs);
    [[nodiscard]] std::optional<std::uint64_t> nextTick(std::uint64_t nowMs) const;
    [[nodiscard]] std::uint64_t nextPositionChange(std::uint64_t horizonMs) const;

    Profile m_profile;
    ProfileTarget& m_target;
    PlayerOptions m_options;
    ProgressCallback m_onProgress;
    std::vector<std::size_t> m_keyRows;  // indices of the rows that carry a key

    PlayerState m_state = PlayerState::Idle;
    std::uint64_t m_run = 0;  // counts start() and stop(), to notice them from a callback
    std::uint64_t m_lastTickMs = 0;
    std::uint64_t m_elapsedMs = 0;
    std::uint64_t m_loops = 0;
    std::size_t m_nextKey = 0;           // into m_keyRows
    std::uint64_t m_tenthsReported = 0;  // 0 to 9, in the current loop
    std::optional<int> m_lastSent;       // none before the first command and after waiting
    std::optional<std::uint64_t> m_awaitingSince;  // the send time of the unanswered command
    std::uint64_t m_positionCommands = 0;
    std::uint64_t m_answersMissed = 0;
    std::uint64_t m_keysPressed = 0;
};

}  // namespace orvale::profile
