#include "profile/profile_player.h"

#include <algorithm>
#include <limits>

namespace orvale::profile {

namespace {

/// Segments looked at for the next whole-position change in one go; past them the player asks
/// for a tick at the last row looked at and looks further then. Bounds a tick on a profile with
/// long runs of rows at one position.
constexpr std::size_t kMaxSegmentsScanned = 64;

std::string seconds(std::uint64_t ms) {
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

std::string counted(std::uint64_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace

std::string_view toString(PlayerState state) {
    switch (state) {
        case PlayerState::Idle:
            return "idle";
        case PlayerState::Waiting:
            return "waiting";
        case PlayerState::Playing:
            return "playing";
        case PlayerState::Finished:
            return "finished";
        case PlayerState::Stopped:
            return "stopped";
    }
    return "unknown";
}

std::string formatProgress(std::string_view profileName, const Progress& progress) {
    const std::string head = "profile " + std::string(profileName) + ": ";
    std::string counts =
        counted(progress.positionCommands, "position command", "position commands") + ", " +
        counted(progress.answersMissed, "answer missed", "answers missed");
    if (progress.keysPressed > 0) {
        counts += ", " + counted(progress.keysPressed, "key pressed", "keys pressed");
    }
    const std::uint64_t percent =
        progress.durationMs == 0
            ? 100
            : std::min<std::uint64_t>(100, progress.elapsedMs * 100 / progress.durationMs);
    std::string where = std::to_string(percent) + "% (" + seconds(progress.elapsedMs) + " of " +
                        seconds(progress.durationMs) + ")";
    if (progress.looping) {
        where += ", " + counted(progress.loops, "loop done", "loops done");
    }
    switch (progress.state) {
        case PlayerState::Idle:
            return head + "not started";
        case PlayerState::Waiting:
            return head + "waiting for remote control at " + where + ", " + counts;
        case PlayerState::Playing:
            return head + where + ", " + counts;
        case PlayerState::Finished:
            return head + "finished in " + seconds(progress.durationMs) + ": " + counts;
        case PlayerState::Stopped:
            return head + "stopped at " + where + ": " + counts;
    }
    return head + where;
}

ProfilePlayer::ProfilePlayer(Profile profile, ProfileTarget& target, PlayerOptions options,
                             ProgressCallback onProgress)
    : m_profile(std::move(profile)),
      m_target(target),
      m_options(options),
      m_onProgress(std::move(onProgress)) {
    for (std::size_t i = 0; i < m_profile.rows.size(); ++i) {
        if (m_profile.rows[i].key) {
            m_keyRows.push_back(i);
        }
    }
    // A profile that ends where it starts has nothing to loop over.
    m_options.loop = m_options.loop && m_profile.durationMs() > 0;
}

std::optional<std::uint64_t> ProfilePlayer::start(std::uint64_t nowMs) {
    ++m_run;
    m_state = PlayerState::Playing;
    m_lastTickMs = nowMs;
    m_elapsedMs = 0;
    m_loops = 0;
    m_nextKey = 0;
    m_tenthsReported = 0;
    m_lastSent.reset();
    m_awaitingSince.reset();
    m_positionCommands = 0;
    m_answersMissed = 0;
    m_keysPressed = 0;
    if (m_profile.rows.empty()) {
        m_state = PlayerState::Finished;
        report();
        return std::nullopt;
    }
    return tick(nowMs);
}

void ProfilePlayer::stop() {
    if (!active()) {
        return;
    }
    ++m_run;
    m_state = PlayerState::Stopped;
    m_awaitingSince.reset();
    report();
}

void ProfilePlayer::positionAcknowledged() {
    if (m_state == PlayerState::Playing) {
        m_awaitingSince.reset();
    }
}

std::optional<std::uint64_t> ProfilePlayer::tick(std::uint64_t nowMs) {
    if (!active()) {
        return std::nullopt;
    }
    nowMs = std::max(nowMs, m_lastTickMs);
    if (!m_target.remoteControllable()) {
        // The time since the last tick is not played: the device may have gone at its start.
        m_lastTickMs = nowMs;
        if (m_state == PlayerState::Playing) {
            m_state = PlayerState::Waiting;
            // No answer is coming to the command out: the connection went with it. The device
            // may come back reset, so the position is sent afresh when playing resumes.
            m_awaitingSince.reset();
            m_lastSent.reset();
            report();
        }
        return nextTick(nowMs);
    }
    if (m_state == PlayerState::Waiting) {
        m_state = PlayerState::Playing;
        m_lastTickMs = nowMs;
        if (!report()) {
            return nextTick(nowMs);
        }
    }

    const std::uint64_t duration = m_profile.durationMs();
    std::uint64_t remaining = nowMs - m_lastTickMs;
    m_lastTickMs = nowMs;
    while (true) {
        const std::uint64_t step = std::min(remaining, duration - m_elapsedMs);
        m_elapsedMs += step;
        remaining -= step;
        if (!runDue(nowMs) || m_elapsedMs < duration || !m_options.loop) {
            break;
        }
        ++m_loops;
        if (!report()) {
            break;
        }
        // Loops missed whole (the event loop held up for longer than the profile lasts) are
        // counted, not played: their keys all at once would be no replay of the drive.
        m_loops += remaining / duration;
        remaining %= duration;
        m_elapsedMs = 0;
        m_nextKey = 0;
        m_tenthsReported = 0;
    }
    return nextTick(nowMs);
}

Progress ProfilePlayer::progress() const {
    Progress p;
    p.state = m_state;
    p.elapsedMs = m_elapsedMs;
    p.durationMs = m_profile.durationMs();
    p.looping = m_options.loop;
    p.loops = m_loops;
    p.positionCommands = m_positionCommands;
    p.answersMissed = m_answersMissed;
    p.keysPressed = m_keysPressed;
    return p;
}

bool ProfilePlayer::report() {
    if (!m_onProgress) {
        return true;
    }
    const std::uint64_t run = m_run;
    const PlayerState state = m_state;
    m_onProgress(progress());
    return m_run == run && m_state == state;
}

bool ProfilePlayer::runDue(std::uint64_t nowMs) {
    if (m_awaitingSince && nowMs - *m_awaitingSince >= kAnswerTimeoutMs) {
        ++m_answersMissed;
        m_awaitingSince.reset();
    }
    // The row's position before its key.
    if (!sendPositionIfDue(nowMs)) {
        return false;
    }
    const std::uint64_t run = m_run;
    while (m_nextKey < m_keyRows.size() &&
           m_profile.rows[m_keyRows[m_nextKey]].timeMs <= m_elapsedMs) {
        const link::Key key = *m_profile.rows[m_keyRows[m_nextKey]].key;
        ++m_nextKey;
        ++m_keysPressed;
        m_target.pressKey(key);
        if (m_run != run || m_state != PlayerState::Playing) {
            return false;
        }
    }
    const std::uint64_t duration = m_profile.durationMs();
    if (duration > 0) {
        const std::uint64_t tenth = std::min<std::uint64_t>(9, m_elapsedMs * 10 / duration);
        if (tenth > m_tenthsReported) {
            m_tenthsReported = tenth;
            if (!report()) {
                return false;
            }
        }
    }
    if (m_elapsedMs >= duration && !m_options.loop && !m_awaitingSince) {
        m_state = PlayerState::Finished;
        report();
        return false;
    }
    return true;
}

bool ProfilePlayer::sendPositionIfDue(std::uint64_t nowMs) {
    if (m_awaitingSince) {
        return true;
    }
    // Truncated toward zero, as the slider sends it.
    const int whole = static_cast<int>(m_profile.positionAt(m_elapsedMs));
    if (m_lastSent == whole) {
        return true;
    }
    // Marked before it goes: a target may answer at once, from inside sendPosition().
    m_lastSent = whole;
    m_awaitingSince = nowMs;
    ++m_positionCommands;
    const std::uint64_t run = m_run;
    m_target.sendPosition(whole);
    return m_run == run && m_state == PlayerState::Playing;
}

std::optional<std::uint64_t> ProfilePlayer::nextTick(std::uint64_t nowMs) const {
    if (m_state == PlayerState::Waiting) {
        return nowMs + kWaitPollMs;
    }
    if (m_state != PlayerState::Playing) {
        return std::nullopt;
    }
    std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
    if (m_awaitingSince) {
        next = *m_awaitingSince + kAnswerTimeoutMs;
    }
    const std::uint64_t duration = m_profile.durationMs();
    if (m_elapsedMs < duration) {
        // In profile time, everything after now: the end, the next key, the next tenth and
        // the next whole position.
        std::uint64_t horizon = duration;
        if (m_nextKey < m_keyRows.size()) {
            horizon = std::min(horizon, m_profile.rows[m_keyRows[m_nextKey]].timeMs);
        }
        if (m_tenthsReported < 9) {
            horizon = std::min(horizon, (duration * (m_tenthsReported + 1) + 9) / 10);
        }
        if (!m_awaitingSince) {
            horizon = nextPositionChange(horizon);
        }
        next = std::min(next, nowMs + (horizon - m_elapsedMs));
    }
    return next;
}

std::uint64_t ProfilePlayer::nextPositionChange(std::uint64_t horizonMs) const {
    if (!m_lastSent) {
        return m_elapsedMs + 1;
    }
    const int sent = *m_lastSent;
    const auto changed = [this, sent](std::uint64_t t) {
        return static_cast<int>(m_profile.positionAt(t)) != sent;
    };
    const std::vector<ProfileRow>& rows = m_profile.rows;
    // Segment by segment from now; the position is monotonic within each, and stood at the
    // whole position sent at each segment's start, so the first change is found by bisection.
    auto row = std::upper_bound(rows.begin(), rows.end(), m_elapsedMs,
                                [](std::uint64_t t, const ProfileRow& r) { return t < r.timeMs; });
    std::uint64_t from = m_elapsedMs + 1;
    for (std::size_t scanned = 0; row != rows.end() && from <= horizonMs; ++row, ++scanned) {
        if (scanned == kMaxSegmentsScanned) {
            return from - 1;
        }
        std::uint64_t to = std::min(row->timeMs, horizonMs);
        if (changed(to)) {
            while (from < to) {
                const std::uint64_t middle = from + (to - from) / 2;
                if (changed(middle)) {
                    to = middle;
                } else {
                    from = middle + 1;
                }
            }
            return to;
        }
        from = row->timeMs + 1;
    }
    return horizonMs;
}

}  // namespace orvale::profile
