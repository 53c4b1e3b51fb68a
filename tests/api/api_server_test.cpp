#include "api/api_server.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTest>
#include <memory>

#include "tests/api/api_test_support.h"

namespace orvale::api {
namespace {

constexpr int kDeadlineMs = 30000;

// The server with its API over a session with fakes, listening on a port the system chooses.
struct ServerRig {
    explicit ServerRig(ServerOptions options = {}) : server(std::move(options)) {
        server.setApi(&api);
        QString error;
        EXPECT_TRUE(server.listen(&error)) << error.toStdString();
    }

    test::SessionRig device;
    test::FakeApiHost host;
    std::vector<ClientId> answered;  // the clients the API sent a line to
    ApiServer server;
    DeviceApi api{device.session, host, [this](ClientId client, const QByteArray& line, bool e) {
                      answered.push_back(client);
                      server.send(client, line, e);
                  }};
};

// A client over loopback that collects what it is sent as lines.
class Client {
public:
    explicit Client(quint16 port) {
        socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        EXPECT_TRUE(QTest::qWaitFor(
            [this] { return socket.state() == QAbstractSocket::ConnectedState; }, kDeadlineMs));
    }
    void send(const QByteArray& bytes) { socket.write(bytes); }
    // Every line read so far, once there are `count` (or the deadline has passed).
    const std::vector<QJsonObject>& lines(std::size_t count) {
        static_cast<void>(QTest::qWaitFor(
            [&] {
                read();
                return received.size() >= count;
            },
            kDeadlineMs));
        return received;
    }
    [[nodiscard]] bool closedByServer() {
        return QTest::qWaitFor(
            [this] {
                read();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            kDeadlineMs);
    }
    void read() {
        buffer += socket.readAll();
        for (qsizetype end; (end = buffer.indexOf('\n')) >= 0; buffer.remove(0, end + 1))
            received.push_back(test::jsonLine(buffer.left(end)));
    }

    QTcpSocket socket;
    std::vector<QJsonObject> received;
    QByteArray buffer;
};

QString code(const QJsonObject& line) {
    return line[QStringLiteral("error")][QStringLiteral("code")].toString();
}

QByteArray status(int id) { return "{\"id\":" + QByteArray::number(id) + ",\"cmd\":\"status\"}\n"; }

TEST(ApiServer, RefusesALineOverTheLimitAndClosesItsClient) {
    ServerOptions options;
    options.maxLineBytes = 1000;
    const QByteArray request = R"({"id":1,"cmd":"status"})";
    const struct {
        const char* what;
        QByteArray bytes;
        bool refused;
    } cases[] = {
        {"at the limit", request.leftJustified(1000, ' ') + "\n", false},
        {"at the limit with CR LF", request.leftJustified(1000, ' ') + "\r\n", false},
        {"one byte over", request.leftJustified(1001, ' ') + "\n", true},
        {"over, no line end yet", request.leftJustified(5000, ' '), true},
    };
    for (const auto& c : cases) {
        ServerRig rig(options);
        Client client(rig.server.port());
        client.send(c.bytes);
        ASSERT_GE(client.lines(1).size(), 1u) << c.what;
        const QJsonObject first = client.received[0];
        if (c.refused) {
            EXPECT_EQ(code(first), QStringLiteral("too_large")) << c.what;
            EXPECT_TRUE(client.closedByServer()) << c.what;
            EXPECT_TRUE(QTest::qWaitFor([&] { return rig.server.clientCount() == 0; }));
        } else {
            EXPECT_TRUE(first[QStringLiteral("ok")].toBool()) << c.what;
            client.send(status(2));
            EXPECT_EQ(client.lines(2).size(), 2u) << c.what;
        }
    }
}

// A CR LF line of exactly the limit whose LF comes in a later read is no longer than the limit.
TEST(ApiServer, TakesALineOfTheLimitWhoseLineEndIsSplitAcrossReads) {
    ServerOptions options;
    options.maxLineBytes = 1000;
    ServerRig rig(options);
    Client client(rig.server.port());
    client.send(QByteArray(R"({"id":1,"cmd":"status"})").leftJustified(1000, ' ') + '\r');
    ASSERT_TRUE(client.socket.waitForBytesWritten(kDeadlineMs));
    // The server reads what has come so far; a slow machine only lets both parts come together.
    QTest::qWait(50);
    client.send("\n" + status(2));
    const auto& lines = client.lines(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0][QStringLiteral("ok")].toBool()) << code(lines[0]).toStdString();
    EXPECT_TRUE(lines[1][QStringLiteral("ok")].toBool());
}

TEST(ApiServer, RefusesRequestsOverTheRateWithTheirIdsAndTakesThemAgainASecondLater) {
    ServerOptions options;
    options.maxRequestsPerSecond = 5;
    qint64 now = 5000;
    options.clock = [&now] { return now; };
    ServerRig rig(options);
    Client client(rig.server.port());
    QByteArray burst;
    for (int id = 1; id <= 8; ++id) burst += status(id);
    client.send(burst);
    const auto& lines = client.lines(8);
    ASSERT_EQ(lines.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(lines[static_cast<std::size_t>(i)][QStringLiteral("id")].toInt(), i + 1);
        EXPECT_EQ(code(lines[static_cast<std::size_t>(i)]),
                  i < 5 ? QString() : QStringLiteral("rate_limited"))
            << i;
    }
    now += 999;  // still the second the requests are counted in
    client.send(status(9));
    EXPECT_EQ(code(client.lines(9).at(8)), QStringLiteral("rate_limited"));
    now += 1;
    client.send(status(10));
    EXPECT_TRUE(client.lines(10).at(9)[QStringLiteral("ok")].toBool());
}

TEST(ApiServer, AClientMustPresentTheTokenOnItsFirstLine) {
    const QByteArray token = "0123456789abcdef0123456789ABCDEF";
    const struct {
        QByteArray first;
        bool authorized;
    } cases[] = {
        {R"({"id":"t","token":")" + token + "\"}\n", true},
        {R"({"id":"t","token":")" + token.left(31) + "0\"}\n", false},
        {R"({"id":"t","token":")" + token + "0\"}\n", false},
        {R"({"id":"t","cmd":"status"})"
         "\n",
         false},
        {"token\n", false},
    };
    for (const auto& c : cases) {
        ServerOptions options;
        options.token = token;
        ServerRig rig(options);
        Client client(rig.server.port());
        client.send(c.first + status(2));
        const QJsonObject reply = client.lines(1).at(0);
        if (c.authorized) {
            EXPECT_EQ(reply[QStringLiteral("id")], QStringLiteral("t"));
            EXPECT_TRUE(reply[QStringLiteral("result")][QStringLiteral("authorized")].toBool());
            EXPECT_TRUE(client.lines(2).at(1)[QStringLiteral("ok")].toBool());
        } else {
            EXPECT_EQ(code(reply), QStringLiteral("unauthorized")) << c.first.toStdString();
            EXPECT_TRUE(client.closedByServer()) << c.first.toStdString();
            EXPECT_TRUE(rig.answered.empty()) << "a request reached the API";
        }
    }
}

// A refused first line ends the connection: what the client sent after it in the same burst is
// not read, so a second try at the token is never taken and no request reaches the API.
TEST(ApiServer, RegressionNothingIsReadAfterARefusedFirstLine) {
    const QByteArray token = "0123456789abcdef0123456789ABCDEF";
    ServerOptions options;
    options.token = token;
    ServerRig rig(options);
    Client client(rig.server.port());
    client.send("{}\n{\"token\":\"" + token + "\"}\n" + status(2));
    EXPECT_TRUE(client.closedByServer());
    ASSERT_EQ(client.received.size(), 1u);
    EXPECT_EQ(code(client.received[0]), QStringLiteral("unauthorized"));
    EXPECT_TRUE(rig.answered.empty()) << "a request reached the API";
}

TEST(ApiServer, TurnsAwayClientsOverTheCapUntilOneLeaves) {
    ServerRig rig;
    const int cap = ServerOptions{}.maxClients;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < cap; ++i) {
        clients.push_back(std::make_unique<Client>(rig.server.port()));
        clients.back()->send(status(i));
        ASSERT_EQ(clients.back()->lines(1).size(), 1u) << i;
    }
    Client turnedAway(rig.server.port());
    EXPECT_EQ(code(turnedAway.lines(1).at(0)), QStringLiteral("busy"));
    EXPECT_TRUE(turnedAway.closedByServer());
    EXPECT_EQ(rig.server.clientCount(), cap);

    clients.front()->socket.disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.server.clientCount() == cap - 1; }));
    Client next(rig.server.port());
    next.send(status(99));
    EXPECT_TRUE(next.lines(1).at(0)[QStringLiteral("ok")].toBool());
}

// A client that stops reading loses events beyond its queue, never replies, and is told how
// many it lost once it reads again: every event is either received or counted.
TEST(ApiServer, CountsTheEventsDroppedForAClientThatDoesNotRead) {
    ServerRig rig;
    Client slow(rig.server.port());
    slow.send(status(1));
    ASSERT_EQ(slow.lines(1).size(), 1u);
    const ClientId id = rig.answered.back();
    slow.received.clear();
    slow.socket.setReadBufferSize(1);  // takes nothing more off the line

    int pushed = 0;
    const auto push = [&](int bytes) {
        rig.server.send(id,
                        eventLine(QStringLiteral("test"),
                                  {{QStringLiteral("n"), pushed++},
                                   {QStringLiteral("pad"), QString(bytes, QLatin1Char('x'))}}),
                        true);
    };
    // 20 MiB: more than the queue and the system's buffers hold.
    for (int n = 0; n < 320; ++n) {
        push(64 * 1024);
        QCoreApplication::processEvents();
    }
    // The queue filled to within a few bytes of its cap; a reply still goes.
    for (int n = 0; n < 17; ++n) push(64 * 1024);
    for (int n = 0; n < 700; ++n) push(100);
    rig.server.send(id, replyOk(2, QJsonObject{}), false);
    slow.socket.setReadBufferSize(0);

    qint64 dropped = 0;
    int events = 0;
    int last = -1;
    bool replied = false;
    const bool all = QTest::qWaitFor(
        [&] {
            slow.read();
            for (const QJsonObject& line : std::exchange(slow.received, {})) {
                const QString event = line[QStringLiteral("event")].toString();
                if (event == QLatin1String("dropped")) {
                    dropped += line[QStringLiteral("count")].toInteger();
                } else if (event == QLatin1String("test")) {
                    const int n = line[QStringLiteral("n")].toInt();
                    EXPECT_GT(n, last) << "events in order";
                    last = n;
                    ++events;
                } else {
                    replied = line[QStringLiteral("id")].toInt() == 2;
                }
            }
            return replied && events + dropped == pushed;
        },
        kDeadlineMs);
    EXPECT_TRUE(all) << events << " received, " << dropped << " counted as dropped, reply "
                     << replied;
    EXPECT_GT(dropped, 0);
}

}  // namespace
}  // namespace orvale::api
