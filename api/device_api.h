#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "api/api_protocol.h"
#include "bus/bus_monitor.h"
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
class DeviceApi final : public QObject, public session::SessionObserver, public bus::BusListener {
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

    /// The bus check the `bus` command and events report; nullptr while Orvale listens on no
    /// CAN bus. The API listens to it until it is replaced; the monitor must outlive that.
    void setBusMonitor(bus::BusMonitor* monitor);

    /// A display as the API describes it: group, id, kind, label, text, units, value. Replies
    /// and events carry it as written in pieces (writtenDisplay), which must be this object as
    /// QJsonDocument writes it.
    [[nodiscard]] QJsonObject describeDisplay(std::size_t index) const;
    /// The `bus` reply's object (the event's fields besides "event" and "time"), built once per
    /// refresh of the monitor; empty while there is none.
    [[nodiscard]] QJsonObject busObject() const;
    /// "closed", "identifying", "connected", "identified".
    [[nodiscard]] static QString stateName(session::SessionState state);

    // session::SessionObserver
    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void stateChanged(session::SessionState state) override;
    void identityChanged(const session::Identity& identity) override;
    void acknowledged(session::Acknowledgement what) override;
    // bus::BusListener
    void busRefreshed(const bus::BusMonitor& monitor) override;

private:
    struct Pending {
        ClientId client;
        QJsonValue id;
        qint64 deadline;
        QJsonObject result;
        bool gone = false;  // its client left; the device's answer is still awaited
    };
    struct Subscription {
        std::set<QString> events;
        double maxRate = 0;  // parameter events a second per display; 0: one per refresh
        // Per display: whether it was sent at all, the text last sent, the version of the text
        // it was (a quick test that nothing changed) and when. Empty while not subscribed.
        std::vector<bool> sent;
        std::vector<std::string> lastSent;
        std::vector<std::uint64_t> lastVersion;
        std::vector<qint64> lastSentAt;
        qint64 lastBusAt = std::numeric_limits<qint64>::min() / 2;
    };
    // The displays of the last evaluation as the API describes them, made when first asked for.
    struct DisplayCache {
        bool textsFresh = false;
        std::vector<std::string> texts;       // as the window shows them, UTF-8 or Latin-1
        std::vector<std::uint64_t> versions;  // counts each change of texts[i]
        std::vector<double> numbers;          // the value last described (numbers only)
        // describeDisplay(i) as QJsonDocument writes it: written once per change, sent in
        // every reply and event that holds the display.
        std::vector<bool> writtenFresh;
        std::vector<QByteArray> written;
        bool allFresh = false;
        QByteArray all;  // every display, in the window's order, as QJsonDocument writes it
        // The last reply to a parameters request for every display, and the id it answered:
        // a script that polls with one id is sent the same bytes until the displays change.
        QJsonValue allReplyId;
        QByteArray allReply;
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
    void refreshTexts() const;
    [[nodiscard]] const QByteArray& writtenDisplay(std::size_t index) const;
    void writeChangedDisplays() const;
    [[nodiscard]] const QByteArray& allDisplays() const;

    session::DeviceSession& m_session;
    ApiHost& m_host;
    Send m_send;
    Clock m_clock;
    std::deque<Pending> m_positions;   // awaiting "ACK %", in order
    std::deque<Pending> m_keys;        // awaiting "ACK KI"
    std::optional<Pending> m_setting;  // awaiting the identity after a settings change
    std::map<ClientId, Subscription> m_subscriptions;
    mutable DisplayCache m_cache;
    bus::BusMonitor* m_bus = nullptr;
    mutable std::optional<QJsonObject> m_busBody;  // busObject, until the next refresh
    mutable std::string m_busBodyStatus;           // the link's status m_busBody holds
    QTimer m_expiry;
    QTimer m_frame;
};

}  // namespace orvale::api
