#include "bus/expected_traffic.h"

#include <algorithm>
#include <cctype>

#include "fms/can_log.h"

namespace orvale::bus {

LogFormat logFormatOf(std::string_view path) noexcept {
    constexpr std::string_view kAsc = ".asc";
    if (path.size() < kAsc.size()) return LogFormat::Candump;
    const std::string_view tail = path.substr(path.size() - kAsc.size());
    const bool asc = std::equal(tail.begin(), tail.end(), kAsc.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    return asc ? LogFormat::Asc : LogFormat::Candump;
}

ExpectedTraffic::ExpectedTraffic(const session::DeviceSession& session, LogFormat format,
                                 LineSink sink, Clock clock, std::uint64_t startEpochUs,
                                 std::string interface)
    : m_session(session),
      m_format(format),
      m_sink(std::move(sink)),
      m_clock(std::move(clock)),
      m_startMs(m_clock()),
      m_startEpochUs(startEpochUs),
      m_interface(std::move(interface)) {
    if (m_format == LogFormat::Asc) {
        std::string head;
        fms::appendAscHeader(head, m_startEpochUs);
        std::string_view rest = head;
        while (!rest.empty()) {
            const std::size_t end = rest.find('\n');
            m_sink(rest.substr(0, end));
            rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        }
    }
}

void ExpectedTraffic::refresh() {
    std::optional<Expectation> expected = expectationOf(m_session);
    if (expected == m_expected) return;
    m_expected = std::move(expected);
    if (!m_expected) {
        m_schedule.clear();
        return;
    }
    fms::encode(m_expected->deviceState(), m_frames);
    m_schedule.set(m_frames, m_clock());
}

void ExpectedTraffic::run(std::uint64_t nowMs) {
    if (m_finished) return;
    m_schedule.run(nowMs, [this](const fms::CanFrame& frame, std::uint64_t dueMs) {
        const std::uint64_t sinceStartUs = (std::max(dueMs, m_startMs) - m_startMs) * 1000;
        m_line.clear();
        if (m_format == LogFormat::Asc) {
            fms::appendAscLine(m_line, frame, sinceStartUs);
        } else {
            fms::appendCandumpLine(m_line, frame, m_startEpochUs + sinceStartUs, m_interface);
        }
        if (!m_line.empty() && m_line.back() == '\n') m_line.pop_back();
        m_sink(m_line);
    });
}

void ExpectedTraffic::finish() {
    if (m_finished) return;
    m_finished = true;
    if (m_format == LogFormat::Asc) {
        std::string footer;
        fms::appendAscFooter(footer);
        while (!footer.empty() && footer.back() == '\n') footer.pop_back();
        m_sink(footer);
    }
}

void ExpectedTraffic::displaysChanged(std::uint8_t /*position*/,
                                      const session::Displays& /*displays*/) {
    refresh();
}

void ExpectedTraffic::stateChanged(session::SessionState /*state*/) { refresh(); }

void ExpectedTraffic::identityChanged(const session::Identity& /*identity*/) { refresh(); }

}  // namespace orvale::bus
