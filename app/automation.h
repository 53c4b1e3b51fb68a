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
#include "session/device_session.h"

namespace orvale::app {

/// What the control API reaches besides the device session: where a port leads, the
/// recording (started by --log or by the API) and the drive profile. One per run.
class Automation final : public QObject, public api::ApiHost {
    Q_OBJECT

public:
    Automation(session::DeviceSession& session, controls::PortMap ports, QObject* parent = nullptr);
    ~Automation() override;

    /// Told when a recording stops mid-run (disk full, I/O error); standard error by default.
    void setRecordingFailureHandler(std::function<void(const std::string& text)> handler);
    /// Records into an already opened file (--log).
    void record(std::unique_ptr<CsvRecorder> recorder);
    /// Closes the recording whole: the run is over.
    void finish();

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

private:
    session::DeviceSession& m_session;
    controls::PortMap m_ports;
    std::unique_ptr<DisplayRecording> m_recording;
    QString m_recordingFile;
    QTimer m_recordingCheck;
    std::function<void(const std::string& text)> m_recordingFailed;
};

}  // namespace orvale::app
