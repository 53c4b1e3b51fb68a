// The receive path without widgets: bytes as the serial control delivers them, framed,
// dispatched, checksummed, and every position broadcast turned into the values the displays
// show. The line's limit is the reference: 115200 baud 8N1 carries 11,520 bytes a second, about
// 823 position broadcasts of 14 bytes.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "allocation_counter.h"
#include "link/protocol.h"
#include "link/receiver.h"
#include "model/presentation.h"
#include "session/device_session.h"
#include "tests/support/headless_window.h"
#include "tests/support/session_fakes.h"

namespace {

using namespace orvale;

// A connected Duo Plus on firmware 0.3B: broadcasts are applied.
void identify(test::HeadlessWindow& window, link::Receiver& receiver) {
    window.state.portOpen = true;
    window.state.identityAwaited = true;
    window.fields.modelName = "Quennet Duo Plus";
    window.fields.vinStyle = "Variable";
    window.fields.clockText = "12:34:56";
    const std::string answers =
        link::device::revisionAnswer('B') + link::device::identityAnswer({15, 987654321, 2});
    receiver.receive({reinterpret_cast<const std::uint8_t*>(answers.data()), answers.size()});
}

// One second of a saturated line: position broadcasts sweeping 0 to 100, a clock every second.
std::string saturatedSecond() {
    std::string bytes;
    for (int i = 0; i < 823; ++i) {
        bytes += link::device::positionStatusBroadcast(
            {static_cast<std::uint8_t>(i % 101), static_cast<std::uint8_t>(i & 3)});
    }
    bytes += link::device::clockBroadcast({12, 34, 224});
    return bytes;
}

// Frames a second, as a multiple of the line's limit, and heap allocations per frame.
void countFrames(benchmark::State& state, std::size_t evaluations, std::size_t allocationsBefore) {
    const auto frames = static_cast<double>(evaluations);
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["x_line_limit"] =
        benchmark::Counter(frames / 823.0, benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] =
        static_cast<double>(orvale::bench::allocationCount() - allocationsBefore) / frames;
}

// Delivered in chunks of `state.range(0)` bytes, as receive events would.
void BM_ReceivePath(benchmark::State& state) {
    test::NoSerial serial;
    test::HeadlessWindow window;
    link::Receiver receiver(serial, window, window.state, window.fields);
    identify(window, receiver);
    const std::string second = saturatedSecond();
    const auto chunk = static_cast<std::size_t>(state.range(0));
    const auto* data = reinterpret_cast<const std::uint8_t*>(second.data());

    // One pass first: the receiver's delivery buffer reaches its working size.
    receiver.receive({data, second.size()});
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    const std::size_t evaluationsBefore = window.evaluations;
    for (auto _ : state) {
        for (std::size_t at = 0; at < second.size(); at += chunk) {
            receiver.receive({data + at, std::min(chunk, second.size() - at)});
        }
        benchmark::DoNotOptimize(window.presentation);
    }
    countFrames(state, window.evaluations - evaluationsBefore, allocationsBefore);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(second.size()));
}
BENCHMARK(BM_ReceivePath)->Arg(1)->Arg(14)->Arg(4096);

// The same through the device session, as the program runs it: each delivery is a receive event
// of the session, and every evaluation is reported to one observer (the window's share is
// bench_window's).
void BM_SessionReceivePath(benchmark::State& state) {
    test::FeedSerial serial;
    link::SteadyMillisecondClock clock;
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer watchdog;
    session::DeviceSession deviceSession(serial, clock, portFile, watchdog);
    struct Counter final : session::SessionObserver {
        void displaysChanged(std::uint8_t, const session::Displays&) override { ++evaluations; }
        std::size_t evaluations = 0;
    } view;
    deviceSession.addObserver(&view);
    deviceSession.initialise();
    const auto deliver = [&](std::span<const std::uint8_t> bytes) {
        serial.next = bytes;
        deviceSession.onComm();
    };
    watchdog.fire();  // connects: the identify command goes out (paced) and the port is open
    const std::string answers = link::device::revisionAnswer('B') +
                                link::device::identityAnswer({15, 987654321, 2}) +
                                link::device::clockBroadcast({12, 34, 224});
    deliver({reinterpret_cast<const std::uint8_t*>(answers.data()), answers.size()});

    const std::string second = saturatedSecond();
    const auto chunk = static_cast<std::size_t>(state.range(0));
    const auto* data = reinterpret_cast<const std::uint8_t*>(second.data());
    deliver({data, second.size()});
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    const std::size_t evaluationsBefore = view.evaluations;
    for (auto _ : state) {
        for (std::size_t at = 0; at < second.size(); at += chunk) {
            deliver({data + at, std::min(chunk, second.size() - at)});
        }
        benchmark::DoNotOptimize(deviceSession.displays());
    }
    countFrames(state, view.evaluations - evaluationsBefore, allocationsBefore);
    deviceSession.removeObserver(&view);
}
BENCHMARK(BM_SessionReceivePath)->Arg(1)->Arg(14)->Arg(4096);

// Framing alone: the cost of cutting bytes into frames.
void BM_Framer(benchmark::State& state) {
    const std::string second = saturatedSecond();
    link::Framer framer;
    std::size_t frames = 0;
    for (auto _ : state) {
        for (const char c : second) {
            if (framer.push(static_cast<std::uint8_t>(c))) ++frames;
        }
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Framer);

}  // namespace
