#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "api/device_api.h"
#include "app/csv_recorder.h"
#include "app/display_recording.h"
#include "controls/port_map.h"
#include "profile/profile_player.h"
#include "session/device_session.h"

namespace orvale::app {

/// What the control API reaches besides the device session: where a port leads, the
/// recording (started by --log or by the API) and the drive profile. One per run.
class Automation final : public QObject,
                         public api::ApiHost,
                         public session::SessionObserver,
                         private profile::ProfileTarget {
    Q_OBJECT

public:
    Automation(session::DeviceSession& session, controls::PortMap ports, QObject* parent = nullptr);
    ~Automation() override;

    /// Told when a recording stops mid-run (disk full, I/O error); standard error by default.
    void setRecordingFailureHandler(std::function<void(const std::string& text)> handler);
    /// Records into an already opened file (--log).
    void record(std::unique_ptr<CsvRecorder> recorder);
    /// Closes the recording whole and stops a profile: the run is over.
    void finish();
    /// Told of the profile's progress (besides the line on standard error); the control API's
    /// "profile" events.
    void setProfileProgressHandler(std::function<void(const QJsonObject& progress)> handler) {
        m_profileProgress = std::move(handler);
    }

    // api::ApiHost
    [[nodiscard]] QString devicePath(int number) const override;
    std::optional<QString> startRecording(const QString& file) override;
    bool stopRecording() override;
    [[nodiscard]] std::optional<QString> recordingFile() const override;
    std::optional<QString> loadProfile(const QString& file, bool loop) override;
    std::optional<QString> startProfile() override;
    void stopProfile() override;
    [[nodiscard]] QJsonObject profileStatus() const override;
    [[nodiscard]] bool profileRunning() const override;

    // session::SessionObserver: a profile goes on when the device answers or its state changes.
    void acknowledged(session::Acknowledgement what) override;
    void stateChanged(session::SessionState state) override;

private:
    // profile::ProfileTarget
    [[nodiscard]] bool remoteControllable() const override;
    void sendPosition(int position) override;
    void pressKey(link::Key key) override;

    void tickProfile();
    void schedule(std::optional<std::uint64_t> next);
    [[nodiscard]] QJsonObject progressObject(const profile::Progress& progress) const;

    session::DeviceSession& m_session;
    controls::PortMap m_ports;
    std::unique_ptr<DisplayRecording> m_recording;
    QString m_recordingFile;
    QTimer m_recordingCheck;
    std::function<void(const std::string& text)> m_recordingFailed;

    std::unique_ptr<profile::ProfilePlayer> m_player;
    QString m_profileFile;
    QTimer m_profileTimer;
    std::function<void(const QJsonObject& progress)> m_profileProgress;
};

}  // namespace orvale::app
