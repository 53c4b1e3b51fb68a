#include "app/automation.h"

#include <QJsonObject>
#include <cstdio>

namespace orvale::app {

Automation::Automation(session::DeviceSession& session, controls::PortMap ports, QObject* parent)
    : QObject(parent), m_session(session), m_ports(std::move(ports)) {
    m_recordingFailed = [](const std::string& text) {
        std::fprintf(stderr, "Orvale: %s\n", text.c_str());
    };
    // A recording's writer thread only notes a failure; it is looked for here, on the thread
    // that shows messages.
    connect(&m_recordingCheck, &QTimer::timeout, this, [this] {
        if (m_recording) m_recording->poll();
    });
}

Automation::~Automation() { finish(); }

void Automation::setRecordingFailureHandler(std::function<void(const std::string& text)> handler) {
    m_recordingFailed = std::move(handler);
    if (m_recording) m_recording->setFailureHandler(m_recordingFailed);
}

void Automation::record(std::unique_ptr<CsvRecorder> recorder) {
    stopRecording();
    m_recordingFile = QString::fromStdString(recorder->path());
    m_recording = std::make_unique<DisplayRecording>(std::move(recorder), m_session);
    m_recording->setFailureHandler(m_recordingFailed);
    m_session.addObserver(m_recording.get());
    m_recordingCheck.start(500);
}

void Automation::finish() {
    stopRecording();
    stopProfile();
}

QString Automation::devicePath(int number) const { return m_ports.devicePath(number); }

std::optional<QString> Automation::startRecording(const QString& file) {
    std::string error;
    auto recorder = CsvRecorder::open(file.toStdString(), &error);
    if (!recorder) return QString::fromStdString(error);
    record(std::move(recorder));
    return std::nullopt;
}

bool Automation::stopRecording() {
    if (!m_recording) return false;
    m_recordingCheck.stop();
    m_session.removeObserver(m_recording.get());
    m_recording->finish();
    m_recording.reset();
    m_recordingFile.clear();
    return true;
}

std::optional<QString> Automation::recordingFile() const {
    if (!m_recording) return std::nullopt;
    return m_recordingFile;
}

std::optional<QString> Automation::loadProfile(const QString& /*file*/, bool /*loop*/) {
    return QStringLiteral("drive profiles are not available");
}

std::optional<QString> Automation::startProfile() {
    return QStringLiteral("no drive profile is loaded");
}

void Automation::stopProfile() {}

QJsonObject Automation::profileStatus() const {
    return {{QStringLiteral("state"), QStringLiteral("none")}};
}

bool Automation::profileRunning() const { return false; }

}  // namespace orvale::app
