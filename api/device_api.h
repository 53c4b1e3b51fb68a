#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "api/api_protocol.h"
#include "session/device_session.h"

namespace orvale::api {

/// A client of the API, as the transport numbers them.
using ClientId = std::uint64_t;

/// What the API needs from the program around the session: where a port leads, the recording
/// and the drive profiles. The application implements it.
class ApiHost {
public:
    virtual ~ApiHost() = default;
    /// The device path port COM`number` opens ("/dev/ttyUSB0").
    [[nodiscard]] virtual QString devicePath(int number) const = 0;
    /// Starts recording into `file` as --log does; the reason when it cannot.
    virtual std::optional<QString> startRecording(const QString& file) = 0;
    /// Stops the recording; false when none was running.
    virtual bool stopRecording() = 0;
    [[nodiscard]] virtual std::optional<QString> recordingFile() const = 0;
    /// Loads a drive profile; the reason (file, line and what is wrong) when it cannot.
    virtual std::optional<QString> loadProfile(const QString& file, bool loop) = 0;
    /// Starts the loaded profile; the reason when it cannot.
    virtual std::optional<QString> startProfile() = 0;
    virtual void stopProfile() = 0;
    /// The profile's progress: {"state", "file", "elapsed_s", "duration_s", ...}.
    [[nodiscard]] virtual QJsonObject profileStatus() const = 0;
    [[nodiscard]] virtual bool profileRunning() const = 0;
};

/// The control API's commands and events over the device session. Every command acts through
/// the session the window uses (its busy flags, the paced transmitter, the settings flow), so
/// the window shows what a script does. Replies and events leave through `send`; the transport
/// (ApiServer) owns the connections and their limits.
class DeviceApi final : public QObject, public session::SessionObserver {
    Q_OBJECT

public:
    /// Hands a line to the transport; `event` lines may be dropped for a client that does not
    /// read, replies never are.
    using Send = std::function<void(ClientId client, const QByteArray& line, bool event)>;
    using Clock = std::function<qint64()>;  ///< milliseconds, monotonic

    /// How long a position or key command waits for the device's acknowledgement, and a
    /// settings change for the device's identity.
    static constexpr qint64 kAcknowledgeTimeoutMs = 1000;
    static constexpr qint64 kIdentityTimeoutMs = 3000;
    /// Parameter events are gathered for one screen refresh.
    static constexpr int kEventFrameMs = 16;

    DeviceApi(session::DeviceSession& session, ApiHost& host, Send send, Clock clock = {},
              QObject* parent = nullptr);
    ~DeviceApi() override;

    /// Runs a checked request of `client`. The reply goes out now, or, for commands that wait
    /// for the device, when it answers or the wait times out.
    void handle(ClientId client, const Request& request);
    /// The client has gone: its pending replies and subscriptions are dropped, nothing else
    /// changes.
    void clientGone(ClientId client);
    /// A drive profile's progress, told to clients subscribed to "profile".
    void profileProgress(const QJsonObject& progress);
    /// Answers what has waited too long; a timer calls it, tests may too.
    void expire();
    /// Sends the parameter events gathered so far; a timer calls it once per screen refresh.
    void flushEvents();

    /// A display as the API describes it: id, label, group, kind, value, units, text.
    [[nodiscard]] QJsonObject describeDisplay(std::size_t index) const;
    /// "closed", "identifying", "connected", "identified".
    [[nodiscard]] static QString stateName(session::SessionState state);

    // session::SessionObserver
    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void stateChanged(session::SessionState state) override;
    void identityChanged(const session::Identity& identity) override;
    void acknowledged(session::Acknowledgement what) override;

private:
    struct Pending {
        ClientId client;
        QJsonValue id;
        qint64 deadline;
        QJsonObject result;
    };
    struct Subscription {
        std::set<QString> events;
        double maxRate = 0;             // parameter events a second per display; 0: one per refresh
        std::vector<QString> lastSent;  // the text last sent, per display
        std::vector<qint64> lastSentAt;  // when, per display
    };

    void reply(ClientId client, const QJsonValue& id, const QJsonValue& result);
    void fail(ClientId client, const QJsonValue& id, ErrorCode code, const QString& message);
    [[nodiscard]] bool refuseWhileBusy(ClientId client, const QJsonValue& id);
    [[nodiscard]] QJsonObject status() const;
    [[nodiscard]] QJsonObject identityObject() const;
    void parameters(ClientId client, const Request& request);
    void setPosition(ClientId client, const Request& request);
    void press(ClientId client, const Request& request);
    void changeSetting(ClientId client, const Request& request);
    void subscribe(ClientId client, const Request& request);
    void unsubscribe(ClientId client, const Request& request);
    void record(ClientId client, const Request& request);
    void profile(ClientId client, const Request& request);
    void broadcast(const QString& event, const QByteArray& line);
    void scheduleExpiry();
    [[nodiscard]] qint64 now() const;
    [[nodiscard]] QString displayText(std::size_t index) const;

    session::DeviceSession& m_session;
    ApiHost& m_host;
    Send m_send;
    Clock m_clock;
    std::deque<Pending> m_positions;   // awaiting "ACK %", in order
    std::deque<Pending> m_keys;        // awaiting "ACK KI"
    std::optional<Pending> m_setting;  // awaiting the identity after a settings change
    std::map<ClientId, Subscription> m_subscriptions;
    QTimer m_expiry;
    QTimer m_frame;
};

}  // namespace orvale::api
