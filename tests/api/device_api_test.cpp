#include "api/device_api.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <functional>
#include <set>

#include "model/control_ids.h"
#include "tests/api/api_rig.h"

namespace orvale::api {
namespace {

using link::device::keyAck;
using link::device::positionAck;
using link::device::positionStatusBroadcast;

const model::DisplayEntry& entryAt(std::size_t i) {
    if (i < model::kNumericDisplayCount) return model::kNumericDisplays[i];
    i -= model::kNumericDisplayCount;
    return i < model::kLedCount ? model::kLeds[i] : model::kTextDisplays[i - model::kLedCount];
}

std::set<int> everyId() {
    std::set<int> ids;
    for (std::size_t i = 0; i < kDisplays; ++i) ids.insert(static_cast<int>(entryAt(i).id));
    return ids;
}

std::set<int> changedIds(const QJsonObject& event) {
    std::set<int> ids;
    for (const QJsonValue& change : event[QStringLiteral("changes")].toArray())
        ids.insert(change[QStringLiteral("id")].toInt());
    return ids;
}

TEST(DeviceApi, PositionsAndKeysAreAnsweredOnTheAcknowledgementOrTimeOutAfterOneSecond) {
    const struct {
        const char* line;
        std::string written;
        std::string ack;  // none: the device stays silent
        const char* key;
        QJsonValue value;
    } cases[] = {
        {R"({"id":1,"cmd":"set_position","position":40})", link::positionCommand(40), positionAck(),
         "position", 40},
        {R"({"id":"k","cmd":"press","key":"up"})", link::keyCommand(link::Key::Up), keyAck(), "key",
         QStringLiteral("up")},
        {R"({"id":3,"cmd":"press","key":"dynamic"})", link::keyCommand(link::Key::Dynamic), "",
         "key", QStringLiteral("dynamic")},
        {R"({"id":4,"cmd":"set_position","position":0})", link::positionCommand(0), "", "position",
         0},
    };
    ApiRig r;
    r.identify(15);
    for (const auto& c : cases) {
        r.serial.written.clear();
        r.take();
        r.request(9, c.line);
        EXPECT_EQ(r.serial.written, c.written) << c.line;
        EXPECT_TRUE(r.take().empty()) << c.line << " answered before the device acknowledged";
        const QJsonValue id = std::get<Request>(parseRequest(c.line)).id;
        QJsonObject answer;
        if (!c.ack.empty()) {
            r.deliver(c.ack);
            answer = r.reply(9);
            EXPECT_TRUE(answer[QStringLiteral("ok")].toBool()) << c.line;
            EXPECT_EQ(result(answer, c.key), c.value) << c.line;
        } else {
            r.now += DeviceApi::kAcknowledgeTimeoutMs - 1;
            r.api.expire();
            EXPECT_TRUE(r.take().empty()) << c.line;
            r.now += 1;
            r.api.expire();
            answer = r.reply(9);
            EXPECT_EQ(code(answer), QStringLiteral("timeout")) << c.line;
        }
        EXPECT_EQ(answer[QStringLiteral("id")], id) << c.line;
    }

    // Positions and keys wait in queues of their own, each answered in order.
    r.take();
    r.request(1, R"({"id":10,"cmd":"set_position","position":10})");
    r.request(2, R"({"id":11,"cmd":"set_position","position":11})");
    r.request(3, R"({"id":12,"cmd":"press","key":"down"})");
    for (const auto& [ack, client, id] :
         {std::tuple{keyAck(), 3, 12}, {positionAck(), 1, 10}, {positionAck(), 2, 11}}) {
        r.deliver(ack);
        EXPECT_EQ(r.reply(static_cast<ClientId>(client))[QStringLiteral("id")].toInt(), id);
    }
}

TEST(DeviceApi, RemoteCommandsAreRefusedAndNothingIsWrittenWithoutRemoteControl) {
    const struct {
        const char* state;
        std::function<void(ApiRig&)> setUp;
    } states[] = {
        {"idle", [](ApiRig& r) { r.session.initialise(); }},
        {"identifying",
         [](ApiRig& r) {
             r.session.initialise();
             r.timer.fire();
         }},
        {"identity only", [](ApiRig& r) { r.identify(10); }},
        {"Plus model on 0.3A", [](ApiRig& r) { r.identify(15, 'A'); }},
        {"after Disconnect",
         [](ApiRig& r) {
             r.identify(15);
             r.session.disconnect();
         }},
    };
    for (const auto& s : states) {
        for (const char* line : {R"({"id":1,"cmd":"set_position","position":50})",
                                 R"({"id":1,"cmd":"press","key":"quiet"})"}) {
            ApiRig r;
            s.setUp(r);
            r.serial.written.clear();
            r.take();
            r.request(1, line);
            EXPECT_EQ(code(r.reply(1)), QStringLiteral("not_allowed")) << s.state << " " << line;
            EXPECT_EQ(r.serial.written, "") << s.state << " " << line;
        }
    }
}

// A view reporting a message holds the device (the window's box is open): commands that act on
// the device are refused meanwhile, questions are answered.
TEST(DeviceApi, CommandsAreBusyWhileASessionMessageIsReported) {
    struct DuringMessage final : session::SessionObserver {
        void message(std::string_view, link::MessageIcon) override { run(); }
        std::function<void()> run;
    } observer;
    const struct {
        const char* line;
        const char* code;  // empty: answered
    } cases[] = {
        {R"({"id":1,"cmd":"set_position","position":5})", "busy"},
        {R"({"id":1,"cmd":"press","key":"up"})", "busy"},
        {R"({"id":1,"cmd":"connect"})", "busy"},
        {R"({"id":1,"cmd":"disconnect"})", "busy"},
        {R"({"id":1,"cmd":"select_port","port":"COM2"})", "busy"},
        {R"({"id":1,"cmd":"change_setting","setting":"vin_style","value":"Fixed"})", "busy"},
        {R"({"id":1,"cmd":"profile","action":"start"})", "busy"},
        {R"({"id":1,"cmd":"status"})", ""},
        {R"({"id":1,"cmd":"parameters","labels":["Cruise"]})", ""},
    };
    for (const auto& c : cases) {
        ApiRig r;
        r.host.loaded = true;
        r.session.addObserver(&observer);
        r.session.initialise();
        r.serial.failOn = "PortOpen=1";
        QJsonObject answer;
        std::string writtenBefore;
        observer.run = [&] {
            writtenBefore = r.serial.written;
            r.request(1, c.line);
            answer = r.reply(1);
        };
        EXPECT_FALSE(r.session.connect());
        EXPECT_EQ(code(answer), QLatin1String(c.code)) << c.line;
        EXPECT_EQ(r.serial.written, writtenBefore) << c.line;
        EXPECT_EQ(r.session.fields().portText, "COM1") << c.line;
        EXPECT_FALSE(r.host.running) << c.line;
        if (answer[QStringLiteral("result")].toObject().contains(QStringLiteral("busy"))) {
            EXPECT_TRUE(result(answer, "busy").toBool());
        }
        r.session.removeObserver(&observer);
    }
}

TEST(DeviceApi, ChangeSettingIsAnsweredWithTheIdentityTheDeviceGivesAfterwards) {
    const struct {
        const char* why;
        std::function<void(ApiRig&)> setUp;
        const char* line;
        const char* code;
    } refusals[] = {
        {"not identified", [](ApiRig& r) { r.session.initialise(); },
         R"({"id":1,"cmd":"change_setting","setting":"vin_style","value":"Fixed"})", "not_allowed"},
        {"firmware 0.3A", [](ApiRig& r) { r.identify(13, 'A'); },
         R"({"id":1,"cmd":"change_setting","setting":"can_baud_rate","value":"1M bps"})",
         "not_allowed"},
        {"the other setting's value", [](ApiRig& r) { r.identify(15); },
         R"({"id":1,"cmd":"change_setting","setting":"can_baud_rate","value":"Fixed"})",
         "invalid_argument"},
    };
    for (const auto& c : refusals) {
        ApiRig r;
        c.setUp(r);
        r.serial.written.clear();
        r.take();
        r.request(1, c.line);
        EXPECT_EQ(code(r.reply(1)), QLatin1String(c.code)) << c.why;
        EXPECT_EQ(r.serial.written, "") << c.why;
    }

    ApiRig r;
    r.identify(15);
    r.serial.written.clear();
    r.take();
    r.request(4, R"({"id":"s","cmd":"change_setting","setting":"can_baud_rate","value":"1M bps"})");
    EXPECT_EQ(r.serial.written, link::canBaudRateCommand("1M bps") + link::identifyCommand() +
                                    link::identifyCommand());
    EXPECT_TRUE(r.take().empty()) << "answered before the device was identified again";
    // The device's answers to the identify command, in the order it sends them.
    for (const std::string& answer :
         {link::device::revisionAnswer('B'), link::device::buildAnswer("01072019-01"),
          link::device::canBaudRateAnswer(4), link::device::vinStyleAnswer('0'),
          link::device::identityAnswer({15, 4242, 2})}) {
        r.deliver(answer);
    }
    const QJsonObject answer = r.reply(4);
    EXPECT_EQ(answer[QStringLiteral("id")], QStringLiteral("s"));
    const QJsonObject identity = result(answer, "identity").toObject();
    EXPECT_EQ(identity[QStringLiteral("can_baud_rate")], QStringLiteral("1M bps"));
    EXPECT_EQ(identity[QStringLiteral("serial")], 4242);
    EXPECT_TRUE(identity[QStringLiteral("identified")].toBool());

    // A device that stays silent after the change.
    r.request(4, R"({"id":"t","cmd":"change_setting","setting":"vin_style","value":"Fixed"})");
    r.now += DeviceApi::kIdentityTimeoutMs - 1;
    r.api.expire();
    EXPECT_TRUE(r.take().empty());
    r.now += 1;
    r.api.expire();
    EXPECT_EQ(code(r.reply(4)), QStringLiteral("timeout"));
}

TEST(DeviceApi, ParametersDescribeEveryDisplayOrThoseAskedFor) {
    ApiRig r;
    r.identify(15);
    r.deliver(positionStatusBroadcast({80, 2}));
    r.take();
    r.request(1, R"({"id":1,"cmd":"parameters"})");
    const QJsonArray list = r.reply(1)[QStringLiteral("result")].toArray();
    ASSERT_EQ(list.size(), static_cast<qsizetype>(kDisplays));
    const session::Displays& shown = r.session.displays();
    for (std::size_t i = 0; i < kDisplays; ++i) {
        const QJsonObject d = list[static_cast<qsizetype>(i)].toObject();
        const model::DisplayEntry& entry = entryAt(i);
        EXPECT_EQ(d[QStringLiteral("id")].toInt(), static_cast<int>(entry.id)) << i;
        EXPECT_EQ(d[QStringLiteral("label")].toString().toStdString(), entry.label) << i;
        const QJsonValue value = d[QStringLiteral("value")];
        if (i < model::kNumericDisplayCount) {
            EXPECT_EQ(value.toDouble(), shown.numbers[i]) << entry.label;
        } else if (i < model::kNumericDisplayCount + model::kLedCount) {
            EXPECT_EQ(value.toBool(), shown.leds[i - model::kNumericDisplayCount]) << entry.label;
        } else {
            const std::string& text =
                shown.texts[i - model::kNumericDisplayCount - model::kLedCount];
            EXPECT_TRUE(QString::fromLatin1(text).startsWith(value.toString())) << entry.label;
        }
    }

    const int cruise = static_cast<int>(model::kLeds[0].id);
    const int first = static_cast<int>(model::kNumericDisplays[0].id);
    const int lastText = static_cast<int>(model::kTextDisplays.back().id);
    const QString label = QString::fromUtf8(model::kTextDisplays.back().label.data());
    const struct {
        QJsonObject args;
        std::vector<int> ids;  // in window order
        const char* unknown;   // refused, naming these
    } cases[] = {
        {{{QStringLiteral("ids"), QJsonArray{lastText, first}}}, {first, lastText}, nullptr},
        {{{QStringLiteral("labels"), QJsonArray{QStringLiteral("Cruise")}}}, {cruise}, nullptr},
        {{{QStringLiteral("ids"), QJsonArray{cruise, lastText}},
          {QStringLiteral("labels"), QJsonArray{label}}},
         {cruise, lastText},
         nullptr},
        {{{QStringLiteral("ids"), QJsonArray{first, 99999}}}, {}, "99999"},
        // Beyond int: named as asked, not as what it would wrap to.
        {{{QStringLiteral("ids"), QJsonArray{first, qint64{3000000000}}}}, {}, "3000000000"},
        {{{QStringLiteral("labels"), QJsonArray{QStringLiteral("cruise")}}}, {}, "\"cruise\""},
    };
    for (const auto& c : cases) {
        QJsonObject line = c.args;
        line.insert(QStringLiteral("id"), 2);
        line.insert(QStringLiteral("cmd"), QStringLiteral("parameters"));
        r.request(1, line);
        const QJsonObject answer = r.reply(1);
        if (c.unknown) {
            EXPECT_EQ(code(answer), QStringLiteral("invalid_argument"));
            EXPECT_TRUE(
                answer[QStringLiteral("error")][QStringLiteral("message")].toString().contains(
                    QLatin1String(c.unknown)));
            continue;
        }
        std::vector<int> ids;
        for (const QJsonValue& d : answer[QStringLiteral("result")].toArray())
            ids.push_back(d[QStringLiteral("id")].toInt());
        EXPECT_EQ(ids, c.ids);
    }
}

TEST(DeviceApi, ParameterEventsCarryTheChangedDisplaysOncePerFlushWithinEachClientsRate) {
    ApiRig r;
    r.identify(15);
    r.deliver(link::device::clockBroadcast({12, 30, 8}));  // the date and time box reads it
    r.deliver(positionStatusBroadcast({20, 2}));
    r.request(1, R"({"id":1,"cmd":"subscribe","events":["parameters"]})");
    r.request(2, R"({"id":1,"cmd":"subscribe","events":["parameters"],"max_rate":10})");
    r.request(3, R"({"id":1,"cmd":"subscribe","events":["state"]})");
    EXPECT_EQ(r.take().size(), 3u);

    // What each client was told, per display: the text and when.
    std::map<ClientId, std::map<int, std::pair<QString, qint64>>> told;
    const auto flush = [&] {
        r.api.flushEvents();
        std::map<ClientId, std::set<int>> events;
        for (const Line& l : r.take()) {
            EXPECT_TRUE(l.event);
            EXPECT_EQ(l.json[QStringLiteral("event")], QStringLiteral("parameters"));
            EXPECT_EQ(events.count(l.client), 0u) << "one event per client and flush";
            events[l.client] = changedIds(l.json);
            for (const QJsonValue& change : l.json[QStringLiteral("changes")].toArray()) {
                auto& [text, at] = told[l.client][change[QStringLiteral("id")].toInt()];
                if (l.client == 2 && !text.isNull()) {
                    EXPECT_GE(r.now - at, 100) << "client 2 asked for 10 a second per display";
                }
                text = change[QStringLiteral("text")].toString();
                at = r.now;
            }
        }
        return events;
    };
    // Whether `client` was told what every display shows now.
    const auto upToDate = [&](ClientId client) {
        const std::vector<QString> texts = r.texts();
        for (std::size_t i = 0; i < kDisplays; ++i) {
            if (told[client][static_cast<int>(entryAt(i).id)].first != texts[i]) return false;
        }
        return true;
    };
    // The first event holds every display.
    auto events = flush();
    EXPECT_EQ(events[1], everyId());
    EXPECT_EQ(events[2], everyId());
    EXPECT_EQ(events.count(3), 0u);
    EXPECT_TRUE(flush().empty()) << "nothing changed";

    const struct {
        qint64 at;
        std::uint8_t position;  // 0: no broadcast
    } steps[] = {{50, 30}, {99, 60}, {100, 0}, {130, 90}, {210, 45}, {400, 0}};
    for (const auto& s : steps) {
        const std::vector<QString> before = r.texts();
        r.now = s.at;
        if (s.position != 0) {
            // Several broadcasts between two flushes make one event.
            r.deliver(positionStatusBroadcast({static_cast<std::uint8_t>(s.position - 1), 2}));
            r.deliver(positionStatusBroadcast({s.position, 2}));
        }
        const std::vector<QString> after = r.texts();
        std::set<int> changed;
        for (std::size_t i = 0; i < kDisplays; ++i) {
            if (before[i] != after[i]) changed.insert(static_cast<int>(entryAt(i).id));
        }
        events = flush();
        EXPECT_EQ(events[1], changed) << s.at;
        EXPECT_TRUE(upToDate(1)) << s.at;
        if (s.position != 0) {
            EXPECT_FALSE(changed.empty()) << s.at;
        }
        if (s.at < 100) {
            EXPECT_EQ(events.count(2), 0u) << s.at;
        }
    }
    EXPECT_TRUE(upToDate(2)) << "what was held back went out once its time had come";

    r.request(1, R"({"id":1,"cmd":"unsubscribe","events":["parameters"]})");
    EXPECT_TRUE(result(r.reply(1), "events").toArray().isEmpty());
    r.deliver(positionStatusBroadcast({12, 2}));
    r.now = 1000;
    EXPECT_EQ(flush().count(1), 0u);
}

TEST(DeviceApi, StateAndIdentityEventsGoToTheirSubscribersUntilTheyUnsubscribe) {
    ApiRig r;
    r.session.initialise();
    r.request(1, R"({"id":1,"cmd":"subscribe","events":["state"]})");
    r.request(2, R"({"id":1,"cmd":"subscribe","events":["identity"]})");
    r.take();
    r.timer.fire();
    r.deliver(link::device::revisionAnswer('B'));
    r.deliver(link::device::identityAnswer({15, 77, 2}));
    std::map<ClientId, QStringList> heard;
    for (const Line& l : r.take()) {
        EXPECT_TRUE(l.event);
        heard[l.client].append(
            l.json[QStringLiteral("event")].toString() + QLatin1Char(' ') +
            l.json[QStringLiteral("state")].toString() +
            l.json[QStringLiteral("identity")][QStringLiteral("model")].toString());
    }
    EXPECT_EQ(heard[1], (QStringList{QStringLiteral("state identifying"),
                                     QStringLiteral("state connected")}));
    EXPECT_EQ(heard[2].back(), QStringLiteral("identity Quennet Duo Plus"));

    r.request(1, R"({"id":1,"cmd":"unsubscribe"})");
    EXPECT_TRUE(result(r.reply(1), "events").toArray().isEmpty());
    r.session.disconnect();
    for (const Line& l : r.take()) EXPECT_EQ(l.client, 2u);
}

TEST(DeviceApi, AGoneClientsPendingRepliesAndSubscriptionsAreDropped) {
    ApiRig r;
    r.identify(15);
    r.request(1, R"({"id":1,"cmd":"subscribe","events":["parameters","state"]})");
    r.request(1, R"({"id":2,"cmd":"set_position","position":20})");
    r.request(1, R"({"id":3,"cmd":"press","key":"down"})");
    r.take();
    r.api.clientGone(1);
    r.deliver(positionAck());
    r.deliver(keyAck());
    r.session.disconnect();
    r.now += 10 * DeviceApi::kIdentityTimeoutMs;
    r.api.expire();
    r.api.flushEvents();
    EXPECT_TRUE(r.take().empty());
}

// Clients that keep up are told the same displays at a flush and get the very same line, with
// the descriptions a parameters request gives; one that subscribes later is told every display.
TEST(DeviceApi, ParameterEventsOfClientsThatKeepUpAreOneLineWithTheRepliesDescriptions) {
    ApiRig r;
    r.identify(15);
    r.deliver(positionStatusBroadcast({20, 2}));
    for (const ClientId client : {ClientId{1}, ClientId{2}, ClientId{3}})
        r.request(client, R"({"id":1,"cmd":"subscribe","events":["parameters"]})");
    r.take();
    r.api.flushEvents();
    EXPECT_EQ(r.take().size(), 3u);

    r.now = 40;
    r.deliver(positionStatusBroadcast({70, 2}));
    r.request(4, R"({"id":1,"cmd":"subscribe","events":["parameters"]})");
    r.take();
    r.api.flushEvents();
    std::map<ClientId, Line> events;
    for (Line& l : r.take()) events[l.client] = std::move(l);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].bytes, events[2].bytes);
    EXPECT_EQ(events[1].bytes, events[3].bytes);
    EXPECT_EQ(changedIds(events[4].json), everyId());
    EXPECT_LT(changedIds(events[1].json).size(), kDisplays);
    EXPECT_EQ(events[1].json[QStringLiteral("position")].toInt(), 70);

    r.request(5, R"({"id":1,"cmd":"parameters"})");
    std::map<int, QJsonObject> described;
    for (const QJsonValue& d : r.reply(5)[QStringLiteral("result")].toArray())
        described[d[QStringLiteral("id")].toInt()] = d.toObject();
    for (const ClientId client : {ClientId{1}, ClientId{4}}) {
        for (const QJsonValue& change : events[client].json[QStringLiteral("changes")].toArray()) {
            const QJsonObject d = change.toObject();
            EXPECT_EQ(d, described[d[QStringLiteral("id")].toInt()]) << client;
            EXPECT_EQ(d.keys().join(QLatin1Char(' ')),
                      QStringLiteral("group id kind label text units value"));
        }
    }
}

// The device acknowledges every command in the order it was sent, a gone client's too: that
// acknowledgement must not answer the next client's command, which the device has yet to take.
TEST(DeviceApi, RegressionAGoneClientsAcknowledgementDoesNotAnswerTheNextClient) {
    ApiRig r;
    r.identify(15);
    r.request(1, R"({"id":1,"cmd":"set_position","position":20})");
    r.request(2, R"({"id":2,"cmd":"set_position","position":30})");
    r.take();
    r.api.clientGone(1);
    r.deliver(positionAck());  // position 20 taken
    EXPECT_TRUE(r.take().empty()) << "client 2 answered before its position was acknowledged";
    r.deliver(positionAck());  // position 30 taken
    EXPECT_EQ(r.reply(2)[QStringLiteral("id")].toInt(), 2);
}

// A box the last teardown emptied ("Fuel Type", the door states ...) reads "", which is also
// what a new subscription starts from: it must still be in the first event.
TEST(DeviceApi, RegressionTheFirstParameterEventHoldsTheEmptyBoxesToo) {
    ApiRig r;
    r.session.initialise();
    r.request(1, R"({"id":1,"cmd":"subscribe","events":["parameters"]})");
    r.take();
    r.api.flushEvents();
    const std::vector<Line> events = r.take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(changedIds(events[0].json).size(), kDisplays);
    EXPECT_EQ(changedIds(events[0].json), everyId());
}

// Descriptions are kept from one evaluation to the next and made again only for the displays
// that changed, and a reply for every display is sent again to a request with the same id:
// after every change they must be what an API that never saw the earlier ones describes, and
// each reply must carry its own request's id (two integers one double stands for too).
TEST(DeviceApi, KeptDescriptionsAndRepliesFollowEveryChangeAndEveryId) {
    ApiRig r;
    r.identify(15);
    const QByteArray ids[] = {"1", "1", "\"1\"", "null", "9007199254740992", "9007199254740993"};
    for (int n = 0; n <= 101 + 4; ++n) {
        const auto position = static_cast<std::uint8_t>(n <= 101 ? n * 37 % 101 : n % 2);
        SCOPED_TRACE(position);
        r.deliver(positionStatusBroadcast({position, 2}));
        test::FakeApiHost host;
        const DeviceApi fresh(r.session, host, [](ClientId, const QByteArray&, bool) {});
        QJsonArray every;
        for (std::size_t i = 0; i < kDisplays; ++i) every.append(fresh.describeDisplay(i));
        r.take();
        for (const QByteArray& id : ids) {
            r.request(1, R"({"cmd":"parameters","id":)" + id + '}');
            const std::vector<Line> lines = r.take();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_TRUE(lines[0].bytes.startsWith(R"({"id":)" + id + ',')) << id.toStdString();
            EXPECT_EQ(lines[0].json[QStringLiteral("result")].toArray(), every);
            // Written in pieces, the reply is still byte for byte what Qt writes whole.
            EXPECT_EQ(lines[0].bytes, replyOk(lines[0].json[QStringLiteral("id")], every));
        }
        r.request(1, R"({"id":2,"cmd":"parameters","ids":[1012,1095]})");
        const QJsonArray some = r.reply(1)[QStringLiteral("result")].toArray();
        ASSERT_EQ(some.size(), 2);
        for (const QJsonValue& d : some) EXPECT_TRUE(every.contains(d));
    }
}

}  // namespace
}  // namespace orvale::api
