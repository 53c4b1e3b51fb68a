#pragma once

#include <cstdint>
#include <functional>

#include "plot/series_store.h"
#include "session/device_session.h"

namespace orvale::plot {

/// The wall clock in milliseconds since the epoch (std::chrono::system_clock).
[[nodiscard]] TimeMs systemNow();

/// Feeds a SeriesStore from a device session: every change of the displays becomes a point of
/// each series that changed (at most one per screen refresh, see SeriesBuffer), timed by the
/// injected clock; the identity is kept for the window to show. Reports come up to 820 times a
/// second, so nothing here allocates once the buffers have grown.
class SessionFeed final : public session::SessionObserver {
public:
    using Clock = std::function<TimeMs()>;

    /// Starts with what `session` shows now. Does not register itself: the owner adds it to
    /// the session's observers and removes it before it goes.
    SessionFeed(SeriesStore& store, const session::DeviceSession& session, Clock clock);

    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void identityChanged(const session::Identity& identity) override;

    /// The displays still show their values: the store's end moves to now.
    void holdUntilNow();

    [[nodiscard]] const session::Identity& identity() const { return m_identity; }
    /// Counts the identity's changes: a view shows it afresh when this moves.
    [[nodiscard]] std::uint64_t identityRevision() const { return m_identityRevision; }
    [[nodiscard]] TimeMs now() const { return m_clock(); }

private:
    SeriesStore& m_store;
    Clock m_clock;
    session::Identity m_identity;
    std::uint64_t m_identityRevision = 0;
};

}  // namespace orvale::plot
