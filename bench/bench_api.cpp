// The control API's work on the user-interface thread, without sockets: a parameters request
// (checked, handled, its reply written as one JSON line) and the parameter events of one screen
// refresh for a number of subscribed clients. At the line's full rate the displays change with
// every broadcast, about 14 times per refresh, and every refresh ends in one flush of events.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <string>

#include "allocation_counter.h"
#include "api/api_protocol.h"
#include "api/device_api.h"
#include "link/protocol.h"
#include "session/device_session.h"
#include "tests/api/api_test_support.h"
#include "tests/support/headless_window.h"

namespace {

using namespace orvale;

// A connected Bus Plus on firmware 0.3B whose broadcasts are applied, and the API over it. The
// lines the API sends are counted, not kept.
struct Rig {
    Rig() {
        session.initialise();
        watchdog.fire();
        deliver(link::device::revisionAnswer('B') +
                link::device::identityAnswer({15, 987654321, 2}) +
                link::device::clockBroadcast({12, 34, 224}));
    }
    void deliver(const std::string& frames) {
        serial.next = {reinterpret_cast<const std::uint8_t*>(frames.data()), frames.size()};
        session.onComm();
    }

    test::FeedSerial serial;
    link::SteadyMillisecondClock clock;
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer watchdog;
    session::DeviceSession session{serial, clock, portFile, watchdog};
    test::FakeApiHost host;
    std::size_t lines = 0;
    std::size_t bytes = 0;
    api::DeviceApi api{session, host, [this](api::ClientId, const QByteArray& line, bool) {
                           ++lines;
                           bytes += static_cast<std::size_t>(line.size());
                       }};
};

api::Request request(const char* line) {
    return std::get<api::Request>(api::parseRequest(QByteArray(line)));
}

// One parameters request from its line to its reply: every display, asked again with the same
// id (0), every display with a broadcast between two requests, so that each reply is written
// afresh as at the line's full rate (1; the broadcast itself is not timed, its allocations are
// counted), two of them (2), or every display with a new id each time, as a script numbers its
// requests, while the displays stay (3).
void BM_ParametersRequest(benchmark::State& state) {
    Rig rig;
    rig.deliver(link::device::positionStatusBroadcast({57, 2}));
    const QByteArray line =
        state.range(0) != 2 ? QByteArrayLiteral(R"({"id":1,"cmd":"parameters"})")
                            : QByteArrayLiteral(R"({"id":1,"cmd":"parameters","ids":[1012,1095]})");
    std::string broadcasts[101];
    for (int p = 0; p <= 100; ++p) {
        broadcasts[p] = link::device::positionStatusBroadcast({static_cast<std::uint8_t>(p), 2});
    }
    int position = 0;
    qint64 id = 0;
    const std::size_t allocationsBefore = bench::allocationCount();
    for (auto _ : state) {
        if (state.range(0) == 1) {
            state.PauseTiming();
            rig.deliver(broadcasts[position]);
            position = (position + 7) % 101;
            state.ResumeTiming();
        }
        api::Request parsed = std::get<api::Request>(api::parseRequest(line));
        if (state.range(0) == 3) parsed.id = ++id;
        rig.api.handle(1, parsed);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["reply_bytes"] = static_cast<double>(rig.bytes) / n;
    state.counters["allocs_per_request"] =
        static_cast<double>(bench::allocationCount() - allocationsBefore) / n;
}
BENCHMARK(BM_ParametersRequest)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

// One screen refresh at the line's full rate: 14 broadcasts, each moving the position, then
// the flush, for `state.range(0)` clients subscribed to parameter events (0: the session's own
// work, to subtract). The events' share of a core is the difference times 60 refreshes.
void BM_RefreshWithSubscribers(benchmark::State& state) {
    Rig rig;
    const auto clients = static_cast<api::ClientId>(state.range(0));
    for (api::ClientId client = 1; client <= clients; ++client) {
        rig.api.handle(client, request(R"({"id":1,"cmd":"subscribe","events":["parameters"]})"));
    }
    std::string broadcasts[101];
    for (int p = 0; p <= 100; ++p) {
        for (int i = 0; i < 14; ++i) {
            broadcasts[p] += link::device::positionStatusBroadcast(
                {static_cast<std::uint8_t>((p + i) % 101), 2});
        }
    }
    rig.api.flushEvents();
    rig.lines = rig.bytes = 0;
    const std::size_t allocationsBefore = bench::allocationCount();
    int position = 0;
    for (auto _ : state) {
        rig.deliver(broadcasts[position]);
        position = (position + 7) % 101;
        rig.api.flushEvents();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["event_bytes"] = static_cast<double>(rig.bytes) / n;
    state.counters["allocs_per_refresh"] =
        static_cast<double>(bench::allocationCount() - allocationsBefore) / n;
}
BENCHMARK(BM_RefreshWithSubscribers)->Arg(0)->Arg(1)->Arg(8);

}  // namespace

int main(int argc, char** argv) {
    // The API's timers need an event dispatcher; none of them runs here.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
