#include "plot/session_feed.h"

#include <chrono>
#include <utility>

namespace orvale::plot {

TimeMs systemNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

SessionFeed::SessionFeed(SeriesStore& store, const session::DeviceSession& session, Clock clock)
    : m_store(store), m_clock(std::move(clock)), m_identity(session.identity()) {
    const session::Displays& shown = session.displays();
    m_store.record(m_clock(), shown.numbers, shown.leds);
}

void SessionFeed::displaysChanged(std::uint8_t /*position*/, const session::Displays& displays) {
    m_store.record(m_clock(), displays.numbers, displays.leds);
}

void SessionFeed::identityChanged(const session::Identity& identity) {
    m_identity = identity;
    ++m_identityRevision;
}

void SessionFeed::holdUntilNow() { m_store.extendTo(m_clock()); }

}  // namespace orvale::plot
