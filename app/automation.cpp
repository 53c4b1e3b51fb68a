#include "app/automation.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <variant>

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
    m_profileTimer.setSingleShot(true);
    m_profileTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_profileTimer, &QTimer::timeout, this, &Automation::tickProfile);
    m_session.addObserver(this);
}

Automation::~Automation() {
    finish();
    m_session.removeObserver(this);
}

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

// --- drive profiles -------------------------------------------------------------------------

namespace {

std::uint64_t monotonicMs() {
    static QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return static_cast<std::uint64_t>(started.elapsed());
}

}  // namespace

std::optional<QString> Automation::loadProfile(const QString& file, bool loop) {
    profile::ProfileResult loaded = profile::loadProfile(file.toStdString());
    if (const auto* error = std::get_if<profile::ProfileError>(&loaded)) {
        return QString::fromStdString(error->message());
    }
    stopProfile();
    m_profileFile = file;
    m_player = std::make_unique<profile::ProfilePlayer>(
        std::move(std::get<profile::Profile>(loaded)), static_cast<profile::ProfileTarget&>(*this),
        profile::PlayerOptions{loop}, [this](const profile::Progress& progress) {
            const std::string line =
                "Orvale: " + profile::formatProgress(m_player->profile().name, progress) + "\n";
            std::fputs(line.c_str(), stderr);
            if (m_profileProgress) m_profileProgress(progressObject(progress));
        });
    return std::nullopt;
}

std::optional<QString> Automation::startProfile() {
    if (!m_player) return QStringLiteral("no drive profile is loaded");
    schedule(m_player->start(monotonicMs()));
    return std::nullopt;
}

void Automation::stopProfile() {
    m_profileTimer.stop();
    if (m_player) m_player->stop();
}

QJsonObject Automation::profileStatus() const {
    if (!m_player) return {{QStringLiteral("state"), QStringLiteral("none")}};
    return progressObject(m_player->progress());
}

bool Automation::profileRunning() const {
    if (!m_player) return false;
    const profile::PlayerState state = m_player->progress().state;
    return state == profile::PlayerState::Playing || state == profile::PlayerState::Waiting;
}

QJsonObject Automation::progressObject(const profile::Progress& progress) const {
    const std::string_view state = profile::toString(progress.state);
    return {{QStringLiteral("state"),
             QString::fromLatin1(state.data(), static_cast<qsizetype>(state.size()))},
            {QStringLiteral("file"), m_profileFile},
            {QStringLiteral("elapsed_s"), static_cast<double>(progress.elapsedMs) / 1000.0},
            {QStringLiteral("duration_s"), static_cast<double>(progress.durationMs) / 1000.0},
            {QStringLiteral("looping"), progress.looping},
            {QStringLiteral("loops"), static_cast<qint64>(progress.loops)},
            {QStringLiteral("position_commands"), static_cast<qint64>(progress.positionCommands)},
            {QStringLiteral("answers_missed"), static_cast<qint64>(progress.answersMissed)},
            {QStringLiteral("keys_pressed"), static_cast<qint64>(progress.keysPressed)}};
}

bool Automation::remoteControllable() const { return m_session.remoteControlEnabled(); }

void Automation::sendPosition(int position) { m_session.sendPosition(position); }

void Automation::pressKey(link::Key key) { m_session.pressKey(key); }

void Automation::tickProfile() {
    if (m_player) schedule(m_player->tick(monotonicMs()));
}

void Automation::schedule(std::optional<std::uint64_t> next) {
    if (!next) {
        m_profileTimer.stop();
        return;
    }
    const std::uint64_t now = monotonicMs();
    m_profileTimer.start(
        static_cast<int>(*next > now ? std::min<std::uint64_t>(*next - now, 60'000) : 0));
}

void Automation::acknowledged(session::Acknowledgement what) {
    if (what != session::Acknowledgement::Position || !m_player) return;
    m_player->positionAcknowledged();
    // The next command may be due; it goes once the answer's frame has been handled.
    if (profileRunning()) m_profileTimer.start(0);
}

void Automation::stateChanged(session::SessionState /*state*/) {
    if (profileRunning()) m_profileTimer.start(0);
}

}  // namespace orvale::app
