#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "app/csv_recorder.h"
#include "bus/expected_traffic.h"
#include "session/device_session.h"

namespace orvale::app {

/// --expected-can: the frames the device should be sending, written while Orvale runs, at each
/// group's period, as a candump log or (by the name's ".asc") a Vector ASC file. The lines go
/// through a writer thread, so the session's thread never waits for the disk.
class ExpectedCanFile final : public QObject, public session::SessionObserver {
    Q_OBJECT

public:
    /// Opens `path` for writing (a regular file, created or truncated) and starts observing
    /// `session`. Nothing, and why in `error`, when the file cannot be written.
    static std::unique_ptr<ExpectedCanFile> open(const std::string& path,
                                                 session::DeviceSession& session,
                                                 std::string* error);
    /// Closes the file whole (an ASC file gets its last line) and stops observing.
    ~ExpectedCanFile() override;

    ExpectedCanFile(const ExpectedCanFile&) = delete;
    ExpectedCanFile& operator=(const ExpectedCanFile&) = delete;

    /// Told once when writing fails mid-run (disk full); standard error by default.
    void setFailureHandler(std::function<void(const std::string& text)> handler) {
        m_failure = std::move(handler);
    }

    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void stateChanged(session::SessionState state) override;
    void identityChanged(const session::Identity& identity) override;

private:
    ExpectedCanFile(std::unique_ptr<CsvRecorder> file, session::DeviceSession& session);
    void onDue();
    void arm();

    std::unique_ptr<CsvRecorder> m_file;
    session::DeviceSession& m_session;
    bus::ExpectedTraffic m_traffic;
    QTimer m_timer;
    std::function<void(const std::string&)> m_failure;
    bool m_failureTold = false;
};

}  // namespace orvale::app
