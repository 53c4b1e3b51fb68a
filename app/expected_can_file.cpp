#include "app/expected_can_file.h"

#include <cstdio>

#include "bus/bus_clock.h"

namespace orvale::app {

std::unique_ptr<ExpectedCanFile> ExpectedCanFile::open(const std::string& path,
                                                       session::DeviceSession& session,
                                                       std::string* error) {
    std::unique_ptr<CsvRecorder> file = CsvRecorder::open(path, error);
    if (!file) return nullptr;
    return std::unique_ptr<ExpectedCanFile>(new ExpectedCanFile(std::move(file), session));
}

ExpectedCanFile::ExpectedCanFile(std::unique_ptr<CsvRecorder> file, session::DeviceSession& session)
    : m_file(std::move(file)),
      m_session(session),
      m_traffic(
          session, bus::logFormatOf(m_file->path()),
          [this](std::string_view line) { m_file->writeLine(line); }, bus::steadyMs,
          bus::wallMicros()),
      m_failure(
          [](const std::string& text) { std::fprintf(stderr, "Orvale: %s\n", text.c_str()); }) {
    // Frames are timed when they were due, not when the timer fired: a late tick costs nothing
    // but the millisecond a precise timer saves.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ExpectedCanFile::onDue);
    m_session.addObserver(this);
    m_traffic.refresh();
    arm();
}

ExpectedCanFile::~ExpectedCanFile() {
    m_session.removeObserver(this);
    m_traffic.run(bus::steadyMs());
    m_traffic.finish();
    // CsvRecorder's destructor writes out what is queued and makes it durable.
}

void ExpectedCanFile::onDue() {
    m_traffic.run(bus::steadyMs());
    if (!m_file->healthy() && !m_failureTold) {
        m_failureTold = true;
        m_failure("--expected-can " + m_file->path() +
                  ": writing stopped: " + m_file->failureReason());
    }
    arm();
}

void ExpectedCanFile::arm() {
    const std::optional<std::uint64_t> due = m_traffic.nextDue();
    if (!due) {
        m_timer.stop();
        return;
    }
    const std::uint64_t now = bus::steadyMs();
    m_timer.start(*due > now ? static_cast<int>(*due - now) : 0);
}

void ExpectedCanFile::displaysChanged(std::uint8_t position, const session::Displays& displays) {
    m_traffic.displaysChanged(position, displays);
    arm();
}

void ExpectedCanFile::stateChanged(session::SessionState state) {
    m_traffic.stateChanged(state);
    arm();
}

void ExpectedCanFile::identityChanged(const session::Identity& identity) {
    m_traffic.identityChanged(identity);
    arm();
}

}  // namespace orvale::app
