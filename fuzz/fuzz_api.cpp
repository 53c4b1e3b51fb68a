// Arbitrary bytes as the control API's request lines: each line is checked against the command
// table, and every request that passes is handled by the API over a device session with fakes
// (no sockets), the device acknowledging or staying silent. Checks that nothing crashes, that
// every request gets exactly one reply, a JSON object carrying the request's id, that every
// event is a JSON object naming its event, and that a client that has gone is sent nothing.

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <variant>
#include <vector>

#include "api/api_protocol.h"
#include "api/device_api.h"
#include "tests/api/api_test_support.h"

namespace {

using namespace orvale;

[[noreturn]] void fault(const char* what, const QByteArray& line) {
    std::fprintf(stderr, "fuzz_api: %s: %s\n", what, line.constData());
    std::abort();
}

struct Client {
    QJsonValue id;
    int replies = 0;
    bool gone = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The API's timers need an event dispatcher on this thread; none of them is ever run.
    static int argc = 1;
    static char name[] = "fuzz_api";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte chooses the device's state and how it answers: bits 0-1 the state (not
    // started, looking for a device, identity only, remote-controlled), bit 2 a serial control
    // that refuses to write, bit 3 every third client leaving before the waits end, bits 4 and
    // 5 the device acknowledging positions and keys after every line, bits 6-7 the time that
    // passes between two lines.
    const std::uint8_t control = data[0];
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));

    test::SessionRig rig;
    switch (control & 3u) {
        case 1:
            rig.session.initialise();
            break;
        case 2:
            rig.identify(10);
            break;
        case 3:
            rig.identify(15);
            break;
        default:
            break;
    }
    if ((control & 4u) != 0) rig.serial.failOn = "Output";

    test::FakeApiHost host;
    qint64 now = 0;
    std::vector<Client> clients;
    const auto check = [&clients](api::ClientId id, const QByteArray& line, bool event) {
        if (line.count('\n') != 1 || !line.endsWith('\n')) fault("not one line", line);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            fault("not a JSON object", line);
        if (id == 0 || id > clients.size()) fault("sent to no client", line);
        Client& client = clients[id - 1];
        if (client.gone) fault("sent to a client that has gone", line);
        const QJsonObject object = document.object();
        if (event) {
            if (!object.value(QStringLiteral("event")).isString()) fault("event unnamed", line);
            return;
        }
        if (++client.replies > 1) fault("a second reply", line);
        if (object.value(QStringLiteral("id")) != client.id) fault("another id", line);
        const QJsonValue ok = object.value(QStringLiteral("ok"));
        if (!ok.isBool()) fault("no ok", line);
        if (!ok.toBool() &&
            !object.value(QStringLiteral("error"))[QStringLiteral("code")].isString())
            fault("no error code", line);
    };
    api::DeviceApi deviceApi(rig.session, host, check, [&now] { return now; });

    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (line.trimmed().isEmpty()) continue;
        const api::ClientId id = clients.size() + 1;
        const std::variant<api::Request, api::Refusal> parsed = api::parseRequest(line);
        if (const auto* refusal = std::get_if<api::Refusal>(&parsed)) {
            clients.push_back({refusal->id});
            check(id, api::replyError(refusal->id, refusal->error), false);
        } else {
            const api::Request& request = std::get<api::Request>(parsed);
            clients.push_back({request.id});
            deviceApi.handle(id, request);
        }
        if ((control & 0x10u) != 0) rig.deliver(link::device::positionAck());
        if ((control & 0x20u) != 0) rig.deliver(link::device::keyAck());
        now += 300 * (control >> 6u);
        deviceApi.expire();
    }
    deviceApi.flushEvents();
    if ((control & 8u) != 0) {
        for (std::size_t i = 0; i < clients.size(); i += 3) {
            deviceApi.clientGone(i + 1);
            clients[i].gone = true;
        }
    }
    // Every wait has ended by now.
    now += 10 * api::DeviceApi::kIdentityTimeoutMs;
    deviceApi.expire();
    for (const Client& client : clients) {
        if (!client.gone && client.replies != 1) {
            fault("unanswered", QJsonDocument(QJsonObject{{QStringLiteral("id"), client.id}})
                                    .toJson(QJsonDocument::Compact));
        }
    }
    return 0;
}
