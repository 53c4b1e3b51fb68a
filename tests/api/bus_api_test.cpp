// The `bus` command and event over a bus monitor of a session with fakes: the frames are what
// the encoder makes of an expectation, so a device that sends what the window shows matches,
// one that sends another position's values does not.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <memory>

#include "bus/bus_monitor.h"
#include "fms/encoder.h"
#include "tests/api/api_rig.h"

namespace orvale::api {
namespace {

using link::device::positionStatusBroadcast;

constexpr std::uint64_t kTrafficMs = 10000;

// The least rows in some states.
struct Least {
    qint64 match = 0;
    qint64 mismatch = 0;
    qint64 missing = 0;
};

struct BusRig : ApiRig {
    BusRig() {
        session.addObserver(&monitor);
        api.setBusMonitor(&monitor);
        monitor.setLinkStatus("listening", false);
    }
    // The monitor goes first, before the API that listens to it.
    ~BusRig() {
        api.setBusMonitor(nullptr);
        session.removeObserver(&monitor);
    }
    // A connected device at `shown` whose bus carries what a device at `sentFrom` sends.
    void drive(std::uint8_t shown, std::optional<std::uint8_t> sentFrom) {
        identify(15);
        deliver(positionStatusBroadcast({shown, 2}));
        monitor.refresh(0);  // the expectation begins
        if (sentFrom) {
            const bus::Expectation expectation =
                *sentFrom == shown ? *bus::expectationOf(session)
                                   : bus::expectationOf(*sentFrom, 15, session.displays());
            fms::EncodedFrames encoded;
            fms::encode(expectation.deviceState(), encoded);
            for (const fms::TimedFrame& t : fms::schedule(encoded, 0, kTrafficMs))
                monitor.onFrame(t.frame, t.timeMs);
        }
        monitor.refresh(kTrafficMs);
        take();
    }

    bus::BusMonitor monitor{session, "virtualcan:can0"};
};

// A display value as `parameters` gives it.
QJsonValue valueOf(const bus::DisplayValue& value) {
    switch (value.kind) {
        case bus::DisplayValue::Kind::kNumber:
            return value.number;
        case bus::DisplayValue::Kind::kBool:
            return value.lit;
        case bus::DisplayValue::Kind::kText:
            return QString::fromLatin1(value.text.data(),
                                       static_cast<qsizetype>(value.text.size()));
        case bus::DisplayValue::Kind::kNone:
            break;
    }
    return QJsonValue::Null;
}

// `body` (a reply's result or an event) against the monitor's check, row by row.
void expectCheck(const QJsonObject& body, const bus::BusMonitor& monitor) {
    const bus::BusCheck& check = monitor.check();
    const bus::BusSummary& summary = check.summary();
    EXPECT_EQ(body[QStringLiteral("interface")], QStringLiteral("virtualcan:can0"));
    EXPECT_EQ(body[QStringLiteral("status")], QStringLiteral("listening"));
    EXPECT_EQ(body[QStringLiteral("frames_per_second")].toInteger(), summary.framesPerSecond);
    EXPECT_EQ(body[QStringLiteral("bam_completed")].toInteger(),
              static_cast<qint64>(summary.bamCompleted));
    EXPECT_EQ(body[QStringLiteral("bam_dropped")].toInteger(),
              static_cast<qint64>(summary.bamDropped));
    EXPECT_EQ(body[QStringLiteral("other_senders")].toInteger(),
              static_cast<qint64>(summary.otherSenders));
    const QJsonObject counts = body[QStringLiteral("counts")].toObject();
    EXPECT_EQ(counts.size(), 4);
    const QJsonArray rows = body[QStringLiteral("rows")].toArray();
    ASSERT_EQ(rows.size(), static_cast<qsizetype>(check.rows().size()));
    std::map<QString, qint64> states;
    for (std::size_t i = 0; i < check.rows().size(); ++i) {
        const bus::BusRow& row = check.rows()[i];
        const QJsonObject got = rows[static_cast<qsizetype>(i)].toObject();
        SCOPED_TRACE(row.label);
        EXPECT_EQ(got[QStringLiteral("id")].toInt(), static_cast<int>(row.id));
        EXPECT_EQ(got[QStringLiteral("label")].toString().toStdString(), row.label);
        EXPECT_EQ(got[QStringLiteral("expected")], valueOf(row.expected));
        EXPECT_EQ(got[QStringLiteral("observed")], valueOf(row.observed));
        EXPECT_EQ(got[QStringLiteral("age_ms")],
                  row.ageMs ? QJsonValue(static_cast<qint64>(*row.ageMs)) : QJsonValue());
        const QString state = got[QStringLiteral("state")].toString();
        EXPECT_EQ(state.toStdString(), bus::nameOf(row.state));
        ++states[state];
        if (row.state == bus::RowState::kMismatch) {
            EXPECT_EQ(got[QStringLiteral("difference")].toString().toStdString(), row.difference);
        } else {
            EXPECT_FALSE(got.contains(QStringLiteral("difference")));
        }
    }
    for (const bus::RowState state : {bus::RowState::kMatch, bus::RowState::kMismatch,
                                      bus::RowState::kMissing, bus::RowState::kNotModelled}) {
        const QString name = QString::fromLatin1(bus::nameOf(state).data());
        EXPECT_EQ(counts[name].toInteger(), static_cast<qint64>(summary.count(state)))
            << name.toStdString();
        EXPECT_EQ(states[name], static_cast<qint64>(summary.count(state))) << name.toStdString();
    }
}

TEST(BusApi, TheReplyIsTheChecksRowsAndCountsInTheParametersValueForm) {
    const struct {
        const char* what;
        std::uint8_t shown;
        std::optional<std::uint8_t> sent;  // none: the bus is silent
        Least least;
    } cases[] = {
        {"the device sends what the window shows", 40, 40, {.match = 40}},
        {"the device sends another position", 40, 90, {.mismatch = 10}},
        {"nothing on the bus", 40, std::nullopt, {.missing = 40}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BusRig r;
        r.drive(c.shown, c.sent);
        r.request(7, R"({"id":"b","cmd":"bus"})");
        const QJsonObject reply = r.reply(7);
        EXPECT_EQ(reply[QStringLiteral("id")], QStringLiteral("b"));
        EXPECT_TRUE(reply[QStringLiteral("ok")].toBool());
        const QJsonObject body = reply[QStringLiteral("result")].toObject();
        expectCheck(body, r.monitor);
        const QJsonObject counts = body[QStringLiteral("counts")].toObject();
        EXPECT_GE(counts[QStringLiteral("match")].toInteger(), c.least.match);
        EXPECT_GE(counts[QStringLiteral("mismatch")].toInteger(), c.least.mismatch);
        EXPECT_GE(counts[QStringLiteral("missing")].toInteger(), c.least.missing);
    }
}

// The reply is made once per refresh of the monitor: it must still follow each refresh, and
// the link's status, which the interface reports between refreshes.
TEST(BusApi, TheReplyFollowsEachRefreshAndTheLinksStatus) {
    BusRig r;
    r.drive(40, 40);
    const auto body = [&r] {
        r.request(1, R"({"id":1,"cmd":"bus"})");
        return r.reply(1)[QStringLiteral("result")].toObject();
    };
    const QJsonObject agreeing = body();
    expectCheck(agreeing, r.monitor);
    EXPECT_EQ(body(), agreeing) << "asked again before the next refresh";

    // The device moves on; the bus carries another position's values.
    const bus::Expectation other = bus::expectationOf(90, 15, r.session.displays());
    fms::EncodedFrames encoded;
    fms::encode(other.deviceState(), encoded);
    for (const fms::TimedFrame& t : fms::schedule(encoded, kTrafficMs, kTrafficMs))
        r.monitor.onFrame(t.frame, t.timeMs);
    r.monitor.refresh(2 * kTrafficMs);
    const QJsonObject disagreeing = body();
    expectCheck(disagreeing, r.monitor);
    EXPECT_GT(disagreeing[QStringLiteral("counts")][QStringLiteral("mismatch")].toInteger(), 0);

    r.monitor.setLinkStatus("gone: no such device", true);
    EXPECT_EQ(body()[QStringLiteral("status")], QStringLiteral("gone: no such device"));
}

TEST(BusApi, WithoutAMonitorTheCommandAndTheEventAreNotAvailable) {
    ApiRig r;
    r.identify(15);
    r.take();
    for (const char* line :
         {R"({"id":1,"cmd":"bus"})", R"({"id":1,"cmd":"subscribe","events":["state","bus"]})"}) {
        r.request(1, line);
        const QJsonObject reply = r.reply(1);
        EXPECT_EQ(code(reply), QStringLiteral("not_available")) << line;
        EXPECT_TRUE(reply[QStringLiteral("error")][QStringLiteral("message")].toString().contains(
            QStringLiteral("--can")))
            << line;
    }
    r.request(1, R"({"id":1,"cmd":"unsubscribe"})");
    EXPECT_TRUE(result(r.reply(1), "events").toArray().isEmpty()) << "the refusal subscribed";
    r.request(1, R"({"id":1,"cmd":"hello"})");
    const QJsonArray commands = result(r.reply(1), "commands").toArray();
    EXPECT_TRUE(std::any_of(commands.begin(), commands.end(), [](const QJsonValue& c) {
        return c[QStringLiteral("cmd")] == QStringLiteral("bus");
    }));
}

// After each refresh of the monitor its subscribers are told the whole check, within their
// max_rate; a monitor no longer set, or an API gone, is not listened to.
TEST(BusApi, EventsFollowEachRefreshWithinTheSubscribersRate) {
    BusRig r;
    r.drive(40, 40);
    r.request(1, R"({"id":1,"cmd":"subscribe","events":["bus"]})");
    r.request(2, R"({"id":1,"cmd":"subscribe","events":["bus"],"max_rate":2})");
    r.request(3, R"({"id":1,"cmd":"subscribe","events":["parameters"]})");
    r.take();
    std::map<ClientId, std::vector<qint64>> heard;
    for (const qint64 at : {0, 250, 500, 750, 1000}) {
        r.now = at;
        r.monitor.refresh(kTrafficMs + static_cast<std::uint64_t>(at));
        const std::vector<Line> lines = r.take();
        for (const Line& l : lines) {
            ASSERT_TRUE(l.event);
            EXPECT_EQ(l.json[QStringLiteral("event")], QStringLiteral("bus"));
            EXPECT_FALSE(l.json[QStringLiteral("time")].toString().isEmpty());
            expectCheck(l.json, r.monitor);
            // The subscribers of one refresh share its line.
            EXPECT_EQ(l.bytes, lines.front().bytes);
            heard[l.client].push_back(at);
        }
    }
    EXPECT_EQ(heard[1], (std::vector<qint64>{0, 250, 500, 750, 1000}));
    EXPECT_EQ(heard[2], (std::vector<qint64>{0, 500, 1000}));
    EXPECT_EQ(heard.count(3), 0u);

    r.api.setBusMonitor(nullptr);
    r.monitor.refresh(kTrafficMs + 2000);
    EXPECT_TRUE(r.take().empty());
    {
        test::FakeApiHost host;
        auto gone = std::make_unique<DeviceApi>(r.session, host,
                                                [](ClientId, const QByteArray&, bool) { FAIL(); });
        gone->setBusMonitor(&r.monitor);
        gone.reset();
    }
    r.monitor.refresh(kTrafficMs + 3000);  // told no API that has gone
}

}  // namespace
}  // namespace orvale::api
