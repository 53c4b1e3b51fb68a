#include "api/device_api.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <algorithm>
#include <cmath>

#include "link/connection.h"
#include "link/protocol.h"
#include "model/control_ids.h"
#include "model/display_format.h"

namespace orvale::api {
namespace {

constexpr std::size_t kDisplayCount =
    model::kNumericDisplayCount + model::kLedCount + model::kTextDisplayCount;

enum class Kind { Number, Led, Text };

struct DisplayRef {
    Kind kind;
    std::size_t index;  // into its kind's table
    const model::DisplayEntry* entry;
};

// The displays in one list: numbers, LEDs, texts, each in the model's (the window's) order.
DisplayRef displayAt(std::size_t i) {
    if (i < model::kNumericDisplayCount) {
        return {Kind::Number, i, &model::kNumericDisplays[i]};
    }
    i -= model::kNumericDisplayCount;
    if (i < model::kLedCount) return {Kind::Led, i, &model::kLeds[i]};
    i -= model::kLedCount;
    return {Kind::Text, i, &model::kTextDisplays[i]};
}

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString trimmedUnits(std::string_view units) {
    while (!units.empty() && units.front() == ' ') units.remove_prefix(1);
    return utf8(units);
}

std::optional<link::Key> keyNamed(const QString& name) {
    if (name == QLatin1String("down")) return link::Key::Down;
    if (name == QLatin1String("up")) return link::Key::Up;
    if (name == QLatin1String("dynamic")) return link::Key::Dynamic;
    if (name == QLatin1String("quiet")) return link::Key::Quiet;
    return std::nullopt;
}

qint64 monotonicMs() {
    static QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return started.elapsed();
}

}  // namespace

DeviceApi::DeviceApi(session::DeviceSession& session, ApiHost& host, Send send, Clock clock,
                     QObject* parent)
    : QObject(parent),
      m_session(session),
      m_host(host),
      m_send(std::move(send)),
      m_clock(clock ? std::move(clock) : Clock(monotonicMs)) {
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &DeviceApi::expire);
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &DeviceApi::flushEvents);
    m_session.addObserver(this);
}

DeviceApi::~DeviceApi() { m_session.removeObserver(this); }

qint64 DeviceApi::now() const { return m_clock(); }

QString DeviceApi::stateName(session::SessionState state) {
    switch (state) {
        case session::SessionState::Identifying:
            return QStringLiteral("identifying");
        case session::SessionState::Connected:
            return QStringLiteral("connected");
        case session::SessionState::IdentityOnly:
            return QStringLiteral("identified");
        case session::SessionState::IdleWatchdogRunning:
        case session::SessionState::IdleWatchdogStopped:
            break;
    }
    return QStringLiteral("closed");
}

void DeviceApi::reply(ClientId client, const QJsonValue& id, const QJsonValue& result) {
    m_send(client, replyOk(id, result), false);
}

void DeviceApi::fail(ClientId client, const QJsonValue& id, ErrorCode code,
                     const QString& message) {
    m_send(client, replyError(id, {code, message}), false);
}

bool DeviceApi::refuseWhileBusy(ClientId client, const QJsonValue& id) {
    const std::string reason = m_session.busyReason();
    if (reason.empty()) return false;
    fail(client, id, ErrorCode::Busy, QStringLiteral("not now: %1").arg(latin1(reason)));
    return true;
}

void DeviceApi::handle(ClientId client, const Request& request) {
    const QString& name = request.command->name;
    const QJsonValue& id = request.id;
    if (name == QLatin1String("hello")) {
        reply(client, id,
              QJsonObject{{QStringLiteral("program"), QStringLiteral("Orvale")},
                          {QStringLiteral("version"), QCoreApplication::applicationVersion()},
                          {QStringLiteral("protocol"), kProtocolVersion},
                          {QStringLiteral("commands"), describeCommands()}});
    } else if (name == QLatin1String("status")) {
        reply(client, id, status());
    } else if (name == QLatin1String("parameters")) {
        parameters(client, request);
    } else if (name == QLatin1String("set_position")) {
        setPosition(client, request);
    } else if (name == QLatin1String("press")) {
        press(client, request);
    } else if (name == QLatin1String("connect") || name == QLatin1String("disconnect")) {
        if (refuseWhileBusy(client, id)) return;
        const bool done =
            name == QLatin1String("connect") ? m_session.connect() : m_session.disconnect();
        if (!done) {
            fail(client, id, ErrorCode::NotAllowed, latin1(m_session.lastError()));
            return;
        }
        reply(client, id, status());
    } else if (name == QLatin1String("select_port")) {
        if (refuseWhileBusy(client, id)) return;
        m_session.selectPort(request.args.value(QStringLiteral("port")).toString().toStdString());
        reply(client, id, status());
    } else if (name == QLatin1String("change_setting")) {
        changeSetting(client, request);
    } else if (name == QLatin1String("subscribe")) {
        subscribe(client, request);
    } else if (name == QLatin1String("unsubscribe")) {
        unsubscribe(client, request);
    } else if (name == QLatin1String("record")) {
        record(client, request);
    } else if (name == QLatin1String("profile")) {
        profile(client, request);
    } else {
        fail(client, id, ErrorCode::UnknownCommand, QStringLiteral("no handler for %1").arg(name));
    }
}

QJsonObject DeviceApi::identityObject() const {
    const link::WindowFields& fields = m_session.fields();
    return {{QStringLiteral("model"), latin1(fields.modelName)},
            {QStringLiteral("serial"), static_cast<qint64>(fields.serialNumber)},
            {QStringLiteral("firmware"), latin1(fields.firmwareVersion)},
            {QStringLiteral("build"), latin1(fields.firmwareBuild)},
            {QStringLiteral("can_baud_rate"), latin1(fields.canBaudRate)},
            {QStringLiteral("vin_style"), latin1(fields.vinStyle)},
            {QStringLiteral("identified"), m_session.connection().deviceIdentified}};
}

QJsonObject DeviceApi::status() const {
    const link::WindowFields& fields = m_session.fields();
    const int number = link::portNumber(fields.portText);
    const bool profileRunning = m_host.profileRunning();
    return {{QStringLiteral("port"), latin1(fields.portText)},
            {QStringLiteral("path"), m_host.devicePath(number)},
            {QStringLiteral("state"), stateName(m_session.state())},
            {QStringLiteral("identity"), identityObject()},
            {QStringLiteral("remote_control"), m_session.remoteControlEnabled()},
            {QStringLiteral("position"),
             static_cast<int>(std::trunc(std::clamp(m_session.sliderPosition(), 0.0, 255.0)))},
            {QStringLiteral("dynamic"), fields.dynamicChecked != 0},
            {QStringLiteral("quiet"), fields.quietChecked != 0},
            {QStringLiteral("busy"), !m_session.busyReason().empty() || profileRunning},
            {QStringLiteral("recording"), m_host.recordingFile().value_or(QString())},
            {QStringLiteral("profile"), profileRunning}};
}

QString DeviceApi::displayText(std::size_t index) const {
    const session::Displays& displays = m_session.displays();
    const DisplayRef display = displayAt(index);
    switch (display.kind) {
        case Kind::Number: {
            std::string text;
            const int decimals = display.entry->decimals == model::kDisplayDefaultDecimals
                                     ? model::kDefaultDisplayDecimals
                                     : display.entry->decimals;
            model::appendFixed(text, displays.numbers[display.index], decimals);
            return utf8(text) + utf8(display.entry->units);
        }
        case Kind::Led:
            return displays.leds[display.index] ? QStringLiteral("on") : QStringLiteral("off");
        case Kind::Text: {
            // A single-line box shows no line end.
            QString text = latin1(displays.texts[display.index]);
            while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
                text.chop(1);
            return text;
        }
    }
    return {};
}

QJsonObject DeviceApi::describeDisplay(std::size_t index) const {
    const session::Displays& displays = m_session.displays();
    const DisplayRef display = displayAt(index);
    QJsonObject described{{QStringLiteral("id"), static_cast<int>(display.entry->id)},
                          {QStringLiteral("label"), utf8(display.entry->label)},
                          {QStringLiteral("group"), utf8(model::caption(display.entry->group))},
                          {QStringLiteral("units"), trimmedUnits(display.entry->units)},
                          {QStringLiteral("text"), displayText(index)}};
    switch (display.kind) {
        case Kind::Number:
            described.insert(QStringLiteral("kind"), QStringLiteral("number"));
            described.insert(QStringLiteral("value"), displays.numbers[display.index]);
            break;
        case Kind::Led:
            described.insert(QStringLiteral("kind"), QStringLiteral("led"));
            described.insert(QStringLiteral("value"), displays.leds[display.index]);
            break;
        case Kind::Text:
            described.insert(QStringLiteral("kind"), QStringLiteral("text"));
            described.insert(QStringLiteral("value"), displayText(index));
            break;
    }
    return described;
}

void DeviceApi::parameters(ClientId client, const Request& request) {
    std::vector<bool> wanted(kDisplayCount, true);
    const QJsonArray ids = request.args.value(QStringLiteral("ids")).toArray();
    const QJsonArray labels = request.args.value(QStringLiteral("labels")).toArray();
    if (!ids.isEmpty() || !labels.isEmpty()) {
        std::fill(wanted.begin(), wanted.end(), false);
        QStringList unknown;
        for (const QJsonValue& value : ids) {
            bool found = false;
            for (std::size_t i = 0; i < kDisplayCount; ++i) {
                if (displayAt(i).entry->id == value.toInt()) wanted[i] = found = true;
            }
            if (!found) unknown.append(QString::number(value.toInt()));
        }
        for (const QJsonValue& value : labels) {
            bool found = false;
            for (std::size_t i = 0; i < kDisplayCount; ++i) {
                if (utf8(displayAt(i).entry->label) == value.toString()) wanted[i] = found = true;
            }
            if (!found)
                unknown.append(QLatin1Char('"') + value.toString().left(64) + QLatin1Char('"'));
        }
        if (!unknown.isEmpty()) {
            fail(client, request.id, ErrorCode::InvalidArgument,
                 QStringLiteral("no parameter display %1").arg(unknown.join(QStringLiteral(", "))));
            return;
        }
    }
    QJsonArray list;
    for (std::size_t i = 0; i < kDisplayCount; ++i) {
        if (wanted[i]) list.append(describeDisplay(i));
    }
    reply(client, request.id, list);
}

void DeviceApi::setPosition(ClientId client, const Request& request) {
    if (refuseWhileBusy(client, request.id)) return;
    if (!m_session.remoteControlEnabled()) {
        fail(client, request.id, ErrorCode::NotAllowed,
             QStringLiteral("remote control is not enabled (state %1)")
                 .arg(stateName(m_session.state())));
        return;
    }
    const int position = request.args.value(QStringLiteral("position")).toInt();
    if (!m_session.sendPosition(position)) {
        fail(client, request.id, ErrorCode::NotAllowed, latin1(m_session.lastError()));
        return;
    }
    m_positions.push_back({client, request.id, now() + kAcknowledgeTimeoutMs,
                           QJsonObject{{QStringLiteral("position"), position}}});
    scheduleExpiry();
}

void DeviceApi::press(ClientId client, const Request& request) {
    if (refuseWhileBusy(client, request.id)) return;
    if (!m_session.remoteControlEnabled()) {
        fail(client, request.id, ErrorCode::NotAllowed,
             QStringLiteral("remote control is not enabled (state %1)")
                 .arg(stateName(m_session.state())));
        return;
    }
    const QString name = request.args.value(QStringLiteral("key")).toString();
    const std::optional<link::Key> key = keyNamed(name);
    if (!key || !m_session.pressKey(*key)) {
        fail(client, request.id, ErrorCode::NotAllowed, latin1(m_session.lastError()));
        return;
    }
    m_keys.push_back({client, request.id, now() + kAcknowledgeTimeoutMs,
                      QJsonObject{{QStringLiteral("key"), name}}});
    scheduleExpiry();
}

void DeviceApi::changeSetting(ClientId client, const Request& request) {
    if (refuseWhileBusy(client, request.id)) return;
    if (m_setting) {
        fail(client, request.id, ErrorCode::Busy, QStringLiteral("a settings change is running"));
        return;
    }
    const QString setting = request.args.value(QStringLiteral("setting")).toString();
    const QString value = request.args.value(QStringLiteral("value")).toString();
    const bool rate = setting == QLatin1String("can_baud_rate");
    QStringList choices;
    for (const std::string_view text : link::kCanBaudRateChoices) {
        if (rate) choices.append(utf8(text));
    }
    for (const std::string_view text : link::kVinStyleChoices) {
        if (!rate) choices.append(utf8(text));
    }
    if (!choices.contains(value)) {
        fail(client, request.id, ErrorCode::InvalidArgument,
             QStringLiteral("%1 takes %2").arg(setting, choices.join(QStringLiteral(", "))));
        return;
    }
    // The settings dialog's firmware gate.
    if (!m_session.settingsChangeAllowed()) {
        fail(client, request.id, ErrorCode::NotAllowed,
             QStringLiteral("an identified device with firmware 0.3B or 0.3C is needed to change "
                            "its settings"));
        return;
    }
    const std::string text = value.toStdString();
    const std::string command = rate ? link::canBaudRateCommand(text) : link::vinStyleCommand(text);
    if (!m_session.changeSetting(command)) {
        fail(client, request.id, ErrorCode::NotAllowed, latin1(m_session.lastError()));
        return;
    }
    // Answered once the device has been identified afresh, with its new identity.
    m_setting = Pending{client, request.id, now() + kIdentityTimeoutMs, {}};
    scheduleExpiry();
    identityChanged(m_session.identity());
}

void DeviceApi::subscribe(ClientId client, const Request& request) {
    Subscription& subscription = m_subscriptions[client];
    for (const QJsonValue& event : request.args.value(QStringLiteral("events")).toArray()) {
        subscription.events.insert(event.toString());
    }
    if (request.args.contains(QStringLiteral("max_rate"))) {
        subscription.maxRate = request.args.value(QStringLiteral("max_rate")).toDouble();
    }
    if (subscription.lastSent.empty()) {
        // The first parameter event holds every display.
        subscription.lastSent.assign(kDisplayCount, QString());
        subscription.lastSentAt.assign(kDisplayCount, std::numeric_limits<qint64>::min() / 2);
    }
    QJsonArray events;
    for (const QString& event : subscription.events) events.append(event);
    reply(client, request.id, QJsonObject{{QStringLiteral("events"), events}});
    if (subscription.events.count(QStringLiteral("parameters")) != 0 && !m_frame.isActive()) {
        m_frame.start(0);
    }
}

void DeviceApi::unsubscribe(ClientId client, const Request& request) {
    const auto it = m_subscriptions.find(client);
    if (it != m_subscriptions.end()) {
        if (!request.args.contains(QStringLiteral("events"))) {
            m_subscriptions.erase(it);
        } else {
            for (const QJsonValue& event : request.args.value(QStringLiteral("events")).toArray()) {
                it->second.events.erase(event.toString());
            }
            if (it->second.events.count(QStringLiteral("parameters")) == 0) {
                it->second.lastSent.clear();
                it->second.lastSentAt.clear();
            }
        }
    }
    QJsonArray events;
    if (const auto left = m_subscriptions.find(client); left != m_subscriptions.end()) {
        for (const QString& event : left->second.events) events.append(event);
    }
    reply(client, request.id, QJsonObject{{QStringLiteral("events"), events}});
}

void DeviceApi::record(ClientId client, const Request& request) {
    const QString action = request.args.value(QStringLiteral("action")).toString();
    if (action == QLatin1String("start")) {
        const QString file = request.args.value(QStringLiteral("file")).toString();
        if (file.isEmpty()) {
            fail(client, request.id, ErrorCode::InvalidArgument,
                 QStringLiteral("start needs \"file\""));
            return;
        }
        if (m_host.recordingFile()) {
            fail(client, request.id, ErrorCode::Busy,
                 QStringLiteral("already recording into %1").arg(*m_host.recordingFile()));
            return;
        }
        if (const auto error = m_host.startRecording(file)) {
            fail(client, request.id, ErrorCode::InvalidArgument, *error);
            return;
        }
        reply(client, request.id, QJsonObject{{QStringLiteral("recording"), file}});
        return;
    }
    if (!m_host.stopRecording()) {
        fail(client, request.id, ErrorCode::NotAllowed, QStringLiteral("no recording is running"));
        return;
    }
    reply(client, request.id, QJsonObject{{QStringLiteral("recording"), QString()}});
}

void DeviceApi::profile(ClientId client, const Request& request) {
    const QString action = request.args.value(QStringLiteral("action")).toString();
    std::optional<QString> error;
    if (action == QLatin1String("load")) {
        const QString file = request.args.value(QStringLiteral("file")).toString();
        if (file.isEmpty()) {
            fail(client, request.id, ErrorCode::InvalidArgument,
                 QStringLiteral("load needs \"file\""));
            return;
        }
        if (m_host.profileRunning()) {
            fail(client, request.id, ErrorCode::Busy, QStringLiteral("a profile is running"));
            return;
        }
        error = m_host.loadProfile(file, request.args.value(QStringLiteral("loop")).toBool());
        if (error) {
            fail(client, request.id, ErrorCode::InvalidArgument, *error);
            return;
        }
    } else if (action == QLatin1String("start")) {
        if (refuseWhileBusy(client, request.id)) return;
        error = m_host.startProfile();
        if (error) {
            fail(client, request.id, ErrorCode::NotAllowed, *error);
            return;
        }
    } else if (action == QLatin1String("stop")) {
        m_host.stopProfile();
    }
    reply(client, request.id, m_host.profileStatus());
}

void DeviceApi::clientGone(ClientId client) {
    m_subscriptions.erase(client);
    const auto gone = [client](const Pending& p) { return p.client == client; };
    // Its commands stay sent; only their answers have nowhere to go.
    std::erase_if(m_positions, gone);
    std::erase_if(m_keys, gone);
    if (m_setting && m_setting->client == client) m_setting.reset();
}

void DeviceApi::acknowledged(session::Acknowledgement what) {
    std::deque<Pending>& waiting =
        what == session::Acknowledgement::Position ? m_positions : m_keys;
    if (waiting.empty()) return;
    const Pending answered = waiting.front();
    waiting.pop_front();
    reply(answered.client, answered.id, answered.result);
}

void DeviceApi::identityChanged(const session::Identity& identity) {
    if (m_setting && identity.identified && identity.modelName != link::kNotFoundYet &&
        !m_session.connection().identityAwaited) {
        const Pending answered = *m_setting;
        m_setting.reset();
        reply(answered.client, answered.id,
              QJsonObject{{QStringLiteral("identity"), identityObject()}});
    }
    broadcast(
        QStringLiteral("identity"),
        eventLine(QStringLiteral("identity"), {{QStringLiteral("identity"), identityObject()}}));
}

void DeviceApi::stateChanged(session::SessionState state) {
    broadcast(QStringLiteral("state"),
              eventLine(QStringLiteral("state"), {{QStringLiteral("state"), stateName(state)},
                                                  {QStringLiteral("remote_control"),
                                                   state == session::SessionState::Connected}}));
}

void DeviceApi::profileProgress(const QJsonObject& progress) {
    broadcast(QStringLiteral("profile"),
              eventLine(QStringLiteral("profile"), {{QStringLiteral("profile"), progress}}));
}

void DeviceApi::broadcast(const QString& event, const QByteArray& line) {
    for (const auto& [client, subscription] : m_subscriptions) {
        if (subscription.events.count(event) != 0) m_send(client, line, true);
    }
}

void DeviceApi::displaysChanged(std::uint8_t /*position*/, const session::Displays& /*displays*/) {
    // Gathered for a screen refresh: a saturated line changes the displays 820 times a second.
    if (!m_frame.isActive() && !m_subscriptions.empty()) m_frame.start(kEventFrameMs);
}

void DeviceApi::flushEvents() {
    const qint64 at = now();
    bool withheld = false;
    std::array<QString, kDisplayCount> texts;
    std::array<bool, kDisplayCount> textKnown{};
    for (auto& [client, subscription] : m_subscriptions) {
        if (subscription.events.count(QStringLiteral("parameters")) == 0) continue;
        const qint64 gap =
            subscription.maxRate > 0 ? static_cast<qint64>(1000.0 / subscription.maxRate) : 0;
        QJsonArray changes;
        for (std::size_t i = 0; i < kDisplayCount; ++i) {
            if (!textKnown[i]) {
                texts[i] = displayText(i);
                textKnown[i] = true;
            }
            if (texts[i] == subscription.lastSent[i]) continue;
            if (at - subscription.lastSentAt[i] < gap) {
                withheld = true;
                continue;
            }
            subscription.lastSent[i] = texts[i];
            subscription.lastSentAt[i] = at;
            changes.append(describeDisplay(i));
        }
        if (!changes.isEmpty()) {
            // The position the displays were computed for: a script that moved the slider knows
            // when the displays have followed.
            m_send(client,
                   eventLine(QStringLiteral("parameters"),
                             {{QStringLiteral("changes"), changes},
                              {QStringLiteral("position"), m_session.evaluatedPosition()}}),
                   true);
        }
    }
    // A display held back by a client's rate goes out when its time has come.
    if (withheld && !m_frame.isActive()) m_frame.start(kEventFrameMs);
}

void DeviceApi::scheduleExpiry() {
    qint64 next = std::numeric_limits<qint64>::max();
    for (const auto* queue : {&m_positions, &m_keys}) {
        if (!queue->empty()) next = std::min(next, queue->front().deadline);
    }
    if (m_setting) next = std::min(next, m_setting->deadline);
    if (next == std::numeric_limits<qint64>::max()) {
        m_expiry.stop();
        return;
    }
    m_expiry.start(static_cast<int>(std::clamp<qint64>(next - now(), 0, 60'000)));
}

void DeviceApi::expire() {
    const qint64 at = now();
    for (auto* queue : {&m_positions, &m_keys}) {
        while (!queue->empty() && queue->front().deadline <= at) {
            const Pending late = queue->front();
            queue->pop_front();
            fail(late.client, late.id, ErrorCode::Timeout,
                 QStringLiteral("the device did not acknowledge within %1 ms")
                     .arg(kAcknowledgeTimeoutMs));
        }
    }
    if (m_setting && m_setting->deadline <= at) {
        const Pending late = *m_setting;
        m_setting.reset();
        fail(late.client, late.id, ErrorCode::Timeout,
             QStringLiteral("the device was not identified again within %1 ms")
                 .arg(kIdentityTimeoutMs));
    }
    scheduleExpiry();
}

}  // namespace orvale::api
