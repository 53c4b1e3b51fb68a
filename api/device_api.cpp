#include "api/device_api.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

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

QString kindName(Kind kind) {
    switch (kind) {
        case Kind::Number:
            return QStringLiteral("number");
        case Kind::Led:
            return QStringLiteral("led");
        case Kind::Text:
            return QStringLiteral("text");
    }
    return QStringLiteral("text");
}

// The displays an event carries, one bit each.
using DisplayMask = std::array<std::uint64_t, (kDisplayCount + 63) / 64>;

QJsonValue jsonOf(const bus::DisplayValue& value) {
    switch (value.kind) {
        case bus::DisplayValue::Kind::kNone:
            break;
        case bus::DisplayValue::Kind::kNumber:
            return value.number;
        case bus::DisplayValue::Kind::kBool:
            return value.lit;
        case bus::DisplayValue::Kind::kText:
            // The device's texts are Latin-1, on the bus as in its boxes.
            return latin1(value.text);
    }
    return QJsonValue::Null;
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

// What never changes in the displays' descriptions (group, id, kind, label, units), as objects
// and written with the text and value left open: the catalogue's, made once for the program.
struct FixedDescriptions {
    std::vector<QJsonObject> objects;
    std::vector<ObjectFrame> frames;
};

const FixedDescriptions& fixedDescriptions() {
    static const FixedDescriptions fixed = [] {
        FixedDescriptions made;
        made.objects.reserve(kDisplayCount);
        made.frames.reserve(kDisplayCount);
        for (std::size_t i = 0; i < kDisplayCount; ++i) {
            const DisplayRef display = displayAt(i);
            std::string_view units = display.entry->units;
            while (!units.empty() && units.front() == ' ') units.remove_prefix(1);
            made.objects.push_back(
                QJsonObject{{QStringLiteral("group"), utf8(model::caption(display.entry->group))},
                            {QStringLiteral("id"), static_cast<qint64>(display.entry->id)},
                            {QStringLiteral("kind"), kindName(display.kind)},
                            {QStringLiteral("label"), utf8(display.entry->label)},
                            {QStringLiteral("units"), utf8(units)}});
            made.frames.push_back(
                objectFrame(made.objects.back(), QStringLiteral("text"), QStringLiteral("value")));
        }
        return made;
    }();
    return fixed;
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
    m_cache.texts.resize(kDisplayCount);
    m_cache.versions.assign(kDisplayCount, 0);
    m_cache.numbers.assign(kDisplayCount, 0.0);
    m_cache.writtenFresh.assign(kDisplayCount, false);
    m_cache.written.resize(kDisplayCount);
    m_session.addObserver(this);
}

DeviceApi::~DeviceApi() {
    if (m_bus != nullptr) m_bus->removeListener(this);
    m_session.removeObserver(this);
}

void DeviceApi::setBusMonitor(bus::BusMonitor* monitor) {
    if (monitor == m_bus) return;
    if (m_bus != nullptr) m_bus->removeListener(this);
    m_bus = monitor;
    m_busBody.reset();
    if (m_bus != nullptr) m_bus->addListener(this);
}

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
    } else if (name == QLatin1String("bus")) {
        if (m_bus == nullptr) {
            fail(client, id, ErrorCode::NotAvailable,
                 QStringLiteral("Orvale listens on no CAN bus (start it with --can)"));
            return;
        }
        reply(client, id, busObject());
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

// The text as the window shows it, in the encoding it comes in: a number's digits and units
// and an LED's state in UTF-8, a box's text in Latin-1 as the device sent it.
void DeviceApi::refreshTexts() const {
    if (m_cache.textsFresh) return;
    m_cache.textsFresh = true;
    const session::Displays& displays = m_session.displays();
    std::string text;
    for (std::size_t i = 0; i < kDisplayCount; ++i) {
        const DisplayRef display = displayAt(i);
        text.clear();
        switch (display.kind) {
            case Kind::Number: {
                const int decimals = display.entry->decimals == model::kDisplayDefaultDecimals
                                         ? model::kDefaultDisplayDecimals
                                         : display.entry->decimals;
                model::appendFixed(text, displays.numbers[display.index], decimals);
                text += display.entry->units;
                break;
            }
            case Kind::Led:
                text = displays.leds[display.index] ? "on" : "off";
                break;
            case Kind::Text: {
                // A single-line box shows no line end.
                std::string_view shown = displays.texts[display.index];
                while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
                    shown.remove_suffix(1);
                text = shown;
                break;
            }
        }
        bool changed = false;
        if (text != m_cache.texts[i]) {
            m_cache.texts[i] = text;
            ++m_cache.versions[i];
            changed = true;
        }
        if (display.kind == Kind::Number) {
            // A number may change without its text (digits beyond the decimals shown). Compared
            // bit for bit, so that a NaN does not count as a change at every look.
            const double number = displays.numbers[display.index];
            if (std::bit_cast<std::uint64_t>(number) !=
                std::bit_cast<std::uint64_t>(m_cache.numbers[i])) {
                m_cache.numbers[i] = number;
                changed = true;
            }
        }
        if (changed) {
            m_cache.writtenFresh[i] = false;
            m_cache.allFresh = false;
        }
    }
}

QString DeviceApi::displayText(std::size_t index) const {
    refreshTexts();
    const std::string& text = m_cache.texts[index];
    return displayAt(index).kind == Kind::Text ? latin1(text) : utf8(text);
}

QJsonObject DeviceApi::describeDisplay(std::size_t index) const {
    const session::Displays& displays = m_session.displays();
    const DisplayRef display = displayAt(index);
    const QString text = displayText(index);
    QJsonObject object = fixedDescriptions().objects[index];
    object.insert(QStringLiteral("text"), text);
    switch (display.kind) {
        case Kind::Number:
            object.insert(QStringLiteral("value"), displays.numbers[display.index]);
            break;
        case Kind::Led:
            object.insert(QStringLiteral("value"), displays.leds[display.index]);
            break;
        case Kind::Text:
            // A box's value is its text.
            object.insert(QStringLiteral("value"), text);
            break;
    }
    return object;
}

const QByteArray& DeviceApi::writtenDisplay(std::size_t index) const {
    refreshTexts();
    if (!m_cache.writtenFresh[index]) writeChangedDisplays();
    return m_cache.written[index];
}

void DeviceApi::writeChangedDisplays() const {
    // Only a display's text and value change: they are written into its frame, which is then
    // what describeDisplay() would give written whole. All that changed are written at once,
    // in one document, at a fraction of the cost of one each.
    const session::Displays& displays = m_session.displays();
    std::vector<std::size_t> changed;
    QJsonArray values;
    for (std::size_t i = 0; i < kDisplayCount; ++i) {
        if (m_cache.writtenFresh[i]) continue;
        changed.push_back(i);
        values.append(displayText(i));
        const DisplayRef display = displayAt(i);
        if (display.kind == Kind::Number) values.append(displays.numbers[display.index]);
        if (display.kind == Kind::Led) values.append(displays.leds[display.index]);
    }
    const WrittenValues written(values);
    Q_ASSERT(written.size() == static_cast<std::size_t>(values.size()));
    const std::vector<ObjectFrame>& frames = fixedDescriptions().frames;
    std::size_t next = 0;
    for (const std::size_t i : changed) {
        const DisplayRef display = displayAt(i);
        const ObjectFrame& frame = frames[i];
        const QByteArrayView text = written[next++];
        // A box's value is its text; the others' were written after it.
        const QByteArrayView value = display.kind == Kind::Text ? text : written[next++];
        QByteArray& out = m_cache.written[i];
        out.truncate(0);  // keeps its room for the next
        out.reserve(frame.head.size() + text.size() + frame.middle.size() + value.size() +
                    frame.tail.size());
        out += frame.head;
        out += text;
        out += frame.middle;
        out += value;
        out += frame.tail;
        m_cache.writtenFresh[i] = true;
    }
}

const QByteArray& DeviceApi::allDisplays() const {
    refreshTexts();
    if (m_cache.allFresh) return m_cache.all;
    m_cache.allFresh = true;
    m_cache.allReply.clear();
    std::vector<const QByteArray*> all(kDisplayCount);
    for (std::size_t i = 0; i < kDisplayCount; ++i) all[i] = &writtenDisplay(i);
    m_cache.all = arrayOfWritten(all);
    return m_cache.all;
}

void DeviceApi::parameters(ClientId client, const Request& request) {
    std::vector<bool> wanted(kDisplayCount, true);
    const QJsonArray ids = request.args.value(QStringLiteral("ids")).toArray();
    const QJsonArray labels = request.args.value(QStringLiteral("labels")).toArray();
    const bool every = ids.isEmpty() && labels.isEmpty();
    if (!every) {
        std::fill(wanted.begin(), wanted.end(), false);
        QStringList unknown;
        for (const auto& value : ids) {
            // Any integer the table lets through, those beyond a control ID's range too.
            const double id = value.toDouble();
            bool found = false;
            for (std::size_t i = 0; i < kDisplayCount; ++i) {
                if (static_cast<double>(displayAt(i).entry->id) == id) wanted[i] = found = true;
            }
            if (!found) unknown.append(QString::number(static_cast<qint64>(id)));
        }
        for (const auto& value : labels) {
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
    if (every) {
        const QByteArray& all = allDisplays();
        if (m_cache.allReply.isEmpty() || m_cache.allReplyId != request.id) {
            m_cache.allReply = replyOkWritten(request.id, all);
            m_cache.allReplyId = request.id;
        }
        m_send(client, m_cache.allReply, false);
        return;
    }
    std::vector<const QByteArray*> list;
    for (std::size_t i = 0; i < kDisplayCount; ++i) {
        if (wanted[i]) list.push_back(&writtenDisplay(i));
    }
    m_send(client, replyOkWritten(request.id, arrayOfWritten(list)), false);
}

QJsonObject DeviceApi::busObject() const {
    if (m_bus == nullptr) return {};
    // The check changes at a refresh; the link's status whenever the interface reports.
    if (m_busBody && m_busBodyStatus == m_bus->linkStatus()) return *m_busBody;
    const bus::BusCheck& check = m_bus->check();
    const bus::BusSummary& summary = check.summary();
    QJsonObject counts;
    for (const bus::RowState state : {bus::RowState::kMatch, bus::RowState::kMismatch,
                                      bus::RowState::kMissing, bus::RowState::kNotModelled}) {
        counts.insert(latin1(bus::nameOf(state)), static_cast<qint64>(summary.count(state)));
    }
    QJsonArray rows;
    for (const bus::BusRow& row : check.rows()) {
        QJsonObject described{
            {QStringLiteral("id"), static_cast<qint64>(row.id)},
            {QStringLiteral("label"), utf8(row.label)},
            {QStringLiteral("expected"), jsonOf(row.expected)},
            {QStringLiteral("observed"), jsonOf(row.observed)},
            {QStringLiteral("age_ms"),
             row.ageMs ? QJsonValue(static_cast<qint64>(*row.ageMs)) : QJsonValue()},
            {QStringLiteral("state"), latin1(bus::nameOf(row.state))}};
        if (row.state == bus::RowState::kMismatch) {
            // UTF-8: a number's difference carries its units ("+1.500 °C").
            described.insert(QStringLiteral("difference"), utf8(row.difference));
        }
        rows.append(described);
    }
    m_busBodyStatus = m_bus->linkStatus();
    m_busBody = QJsonObject{
        {QStringLiteral("interface"), utf8(m_bus->interfaceText())},
        {QStringLiteral("status"), utf8(m_busBodyStatus)},
        {QStringLiteral("frames_per_second"), static_cast<qint64>(summary.framesPerSecond)},
        {QStringLiteral("bam_completed"), static_cast<qint64>(summary.bamCompleted)},
        {QStringLiteral("bam_dropped"), static_cast<qint64>(summary.bamDropped)},
        {QStringLiteral("other_senders"), static_cast<qint64>(summary.otherSenders)},
        {QStringLiteral("counts"), counts},
        {QStringLiteral("rows"), rows}};
    return *m_busBody;
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
    const QJsonArray wanted = request.args.value(QStringLiteral("events")).toArray();
    if (m_bus == nullptr && wanted.contains(QStringLiteral("bus"))) {
        fail(client, request.id, ErrorCode::NotAvailable,
             QStringLiteral("Orvale listens on no CAN bus (start it with --can)"));
        return;
    }
    Subscription& subscription = m_subscriptions[client];
    for (const auto& event : wanted) {
        subscription.events.insert(event.toString());
    }
    if (request.args.contains(QStringLiteral("max_rate"))) {
        subscription.maxRate = request.args.value(QStringLiteral("max_rate")).toDouble();
    }
    if (subscription.sent.empty()) {
        // The first parameter event holds every display, whatever it shows (an empty box too).
        subscription.sent.assign(kDisplayCount, false);
        subscription.lastSent.assign(kDisplayCount, std::string());
        subscription.lastVersion.assign(kDisplayCount, 0);
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
            for (const auto& event : request.args.value(QStringLiteral("events")).toArray()) {
                it->second.events.erase(event.toString());
            }
            if (it->second.events.count(QStringLiteral("parameters")) == 0) {
                it->second.sent.clear();
                it->second.lastSent.clear();
                it->second.lastVersion.clear();
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
    // Its commands stay sent, and the device acknowledges them in turn: they keep their place
    // in the queues, so that their acknowledgements are not taken as the next client's.
    for (auto* queue : {&m_positions, &m_keys}) {
        for (Pending& pending : *queue) {
            if (pending.client == client) pending.gone = true;
        }
    }
    if (m_setting && m_setting->client == client) m_setting.reset();
}

void DeviceApi::acknowledged(session::Acknowledgement what) {
    std::deque<Pending>& waiting =
        what == session::Acknowledgement::Position ? m_positions : m_keys;
    if (waiting.empty()) return;
    const Pending answered = waiting.front();
    waiting.pop_front();
    if (!answered.gone) reply(answered.client, answered.id, answered.result);
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
    // Looked at when first asked for: only the displays that changed are described afresh.
    m_cache.textsFresh = false;
    // Gathered for a screen refresh: a saturated line changes the displays 820 times a second.
    if (!m_frame.isActive() && !m_subscriptions.empty()) m_frame.start(kEventFrameMs);
}

void DeviceApi::flushEvents() {
    const bool wanted = std::any_of(
        m_subscriptions.begin(), m_subscriptions.end(),
        [](const auto& s) { return s.second.events.count(QStringLiteral("parameters")) != 0; });
    if (!wanted) return;
    const qint64 at = now();
    bool withheld = false;
    refreshTexts();
    // Clients that keep up are told the same displays at the same flush: they share one line.
    std::vector<std::pair<DisplayMask, QByteArray>> lines;
    QString time;  // one for every line of the flush
    for (auto& [client, subscription] : m_subscriptions) {
        if (subscription.events.count(QStringLiteral("parameters")) == 0) continue;
        const qint64 gap =
            subscription.maxRate > 0 ? static_cast<qint64>(1000.0 / subscription.maxRate) : 0;
        DisplayMask changes{};
        bool any = false;
        for (std::size_t i = 0; i < kDisplayCount; ++i) {
            if (subscription.sent[i]) {
                if (subscription.lastVersion[i] == m_cache.versions[i]) continue;
                // Changed and changed back since it was last sent: nothing new.
                if (subscription.lastSent[i] == m_cache.texts[i]) {
                    subscription.lastVersion[i] = m_cache.versions[i];
                    continue;
                }
            }
            if (at - subscription.lastSentAt[i] < gap) {
                withheld = true;
                continue;
            }
            subscription.sent[i] = true;
            subscription.lastSent[i] = m_cache.texts[i];
            subscription.lastVersion[i] = m_cache.versions[i];
            subscription.lastSentAt[i] = at;
            changes[i / 64] |= std::uint64_t{1} << (i % 64);
            any = true;
        }
        if (!any) continue;
        const auto shared = std::find_if(lines.begin(), lines.end(),
                                         [&](const auto& line) { return line.first == changes; });
        if (shared != lines.end()) {
            m_send(client, shared->second, true);
            continue;
        }
        if (time.isNull()) time = timestampNow();
        std::vector<const QByteArray*> described;
        for (std::size_t i = 0; i < kDisplayCount; ++i) {
            if ((changes[i / 64] & (std::uint64_t{1} << (i % 64))) != 0)
                described.push_back(&writtenDisplay(i));
        }
        // The position the displays were computed for: a script that moved the slider knows
        // when the displays have followed.
        QByteArray line = eventLineWritten(
            QStringLiteral("parameters"),
            {{QStringLiteral("position"), static_cast<int>(m_session.evaluatedPosition())},
             {QStringLiteral("time"), time}},
            QStringLiteral("changes"), arrayOfWritten(described));
        m_send(client, line, true);
        lines.emplace_back(changes, std::move(line));
    }
    // A display held back by a client's rate goes out when its time has come.
    if (withheld && !m_frame.isActive()) m_frame.start(kEventFrameMs);
}

void DeviceApi::busRefreshed(const bus::BusMonitor& monitor) {
    if (&monitor != m_bus) return;
    const qint64 at = now();
    m_busBody.reset();
    QByteArray line;
    for (auto& [client, subscription] : m_subscriptions) {
        if (subscription.events.count(QStringLiteral("bus")) == 0) continue;
        // Every event holds the whole check: one held back is only superseded by the next.
        const qint64 gap =
            subscription.maxRate > 0 ? static_cast<qint64>(1000.0 / subscription.maxRate) : 0;
        if (at - subscription.lastBusAt < gap) continue;
        subscription.lastBusAt = at;
        // One line for every subscriber of this refresh.
        if (line.isEmpty()) line = eventLine(QStringLiteral("bus"), busObject());
        m_send(client, line, true);
    }
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
            if (late.gone) continue;
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
