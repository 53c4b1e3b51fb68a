#pragma once

// A device session over fakes for the control API's tests and its fuzz target: the serial
// control records what Orvale writes, the device's answers are queued and delivered as receive
// events, and the program around the API is a host that remembers what it was asked.

#include <QJsonDocument>
#include <QJsonObject>
#include <optional>
#include <string_view>

#include "api/device_api.h"
#include "link/protocol.h"
#include "session/device_session.h"
#include "tests/support/fakes.h"
#include "tests/support/session_fakes.h"

namespace orvale::test {

class FakeApiHost final : public api::ApiHost {
public:
    [[nodiscard]] QString devicePath(int number) const override {
        return QStringLiteral("/dev/ttyS%1").arg(number - 1);
    }
    std::optional<QString> startRecording(const QString& file) override {
        if (file.startsWith(QLatin1Char('!'))) return QStringLiteral("cannot open ") + file;
        recording = file;
        return std::nullopt;
    }
    bool stopRecording() override { return std::exchange(recording, std::nullopt).has_value(); }
    [[nodiscard]] std::optional<QString> recordingFile() const override { return recording; }
    std::optional<QString> loadProfile(const QString& file, bool) override {
        if (file.startsWith(QLatin1Char('!'))) return file + QStringLiteral(":1: no time_s");
        loaded = true;
        return std::nullopt;
    }
    std::optional<QString> startProfile() override {
        if (!loaded) return QStringLiteral("no profile is loaded");
        running = true;
        return std::nullopt;
    }
    void stopProfile() override { running = false; }
    [[nodiscard]] QJsonObject profileStatus() const override {
        return {{QStringLiteral("state"), running ? QStringLiteral("running") : QString()}};
    }
    [[nodiscard]] bool profileRunning() const override { return running; }

    std::optional<QString> recording;
    bool loaded = false;
    bool running = false;
};

/// A device session whose device is played by the test.
struct SessionRig {
    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        session.onComm();
    }
    /// Start-up, the first tick and a device answering as a Quennet device does.
    void identify(std::uint8_t productId, char revision = 'B') {
        session.initialise();
        timer.fire();
        deliver(link::device::revisionAnswer(revision));
        deliver(link::device::identityAnswer({productId, 4242, 2}));
    }

    SteppingClock clock;
    FakeSerialControl serial{&clock};
    MemoryPortFile portFile;
    ManualWatchdogTimer timer;
    session::DeviceSession session{serial, clock, portFile, timer};
};

/// A JSON line as an object; an empty object when it is not one.
inline QJsonObject jsonLine(const QByteArray& line) {
    return QJsonDocument::fromJson(line).object();
}

}  // namespace orvale::test
