// The bus check: every frame of a device's traffic decoded and kept for the comparison, and the
// rows built four times a second as the window would refresh them. A 250 kbit/s bus carries at
// most about 2,000 frames a second; the check must keep up with far more (1,000,000 frames a
// second on one core, replaying logs) and never allocate once running.

#include <benchmark/benchmark.h>

#include <optional>
#include <vector>

#include "allocation_counter.h"
#include "bus/bus_check.h"
#include "bus/expected_state.h"
#include "fms/encoder.h"
#include "model/presentation.h"

namespace {

using namespace orvale;

// A Duo Plus, which carries every group, at position 80 and 12:34:56, as the window shows it.
struct Window {
    Window() {
        const model::PresentationInputs inputs{"Quennet Duo Plus", 987654321U, "Variable",
                                               "12:34:56"};
        model::VinBuffer vin;
        model::Presentation shown;
        model::evaluate(80, 15, inputs, vin, shown);
        for (std::size_t i = 0; i < shown.numbers.size(); ++i) {
            displays.numbers[i] = shown.numbers[i].value;
        }
        for (std::size_t i = 0; i < shown.leds.size(); ++i) displays.leds[i] = shown.leds[i].lit;
        for (std::size_t i = 0; i < shown.texts.size(); ++i) {
            displays.texts[i] = shown.texts[i].text();
        }
        expectation = bus::expectationOf(80, 15, displays);
        fms::EncodedFrames encoded;
        fms::encode(expectation->deviceState(), encoded);
        second = fms::schedule(encoded, 0, 1000);
    }
    session::Displays displays;
    std::optional<bus::Expectation> expectation;  // as expectationOf(session) gives it
    std::vector<fms::TimedFrame> second;          // one second of the device's traffic
};

constexpr std::uint64_t kRefreshMs = 250;

// Feeds one second from `baseMs` on, with expect() and refresh() every kRefreshMs.
void runSecond(bus::BusCheck& check, const Window& window, std::uint64_t baseMs) {
    std::uint64_t nextRefresh = baseMs + kRefreshMs;
    for (const fms::TimedFrame& t : window.second) {
        const std::uint64_t at = baseMs + t.timeMs;
        for (; at >= nextRefresh; nextRefresh += kRefreshMs) {
            check.expect(window.expectation, window.displays, nextRefresh);
            check.refresh(nextRefresh);
        }
        check.onFrame(t.frame, at);
    }
    for (; nextRefresh <= baseMs + 1000; nextRefresh += kRefreshMs) {
        check.expect(window.expectation, window.displays, nextRefresh);
        check.refresh(nextRefresh);
    }
}

void BM_BusCheckTraffic(benchmark::State& state) {
    const Window window;
    bus::BusCheck check;
    check.expect(window.expectation, window.displays, 0);
    runSecond(check, window, 0);  // every text reaches its working size
    std::uint64_t base = 1000;
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    for (auto _ : state) {
        runSecond(check, window, base);
        base += 1000;
    }
    const std::size_t allocations = orvale::bench::allocationCount() - allocationsBefore;
    const bus::BusSummary& s = check.summary();
    if (s.count(bus::RowState::kMatch) != bus::BusCheck::kRowCount - 1) {
        state.SkipWithError("a display does not match");
    }
    const auto frames =
        static_cast<double>(state.iterations()) * static_cast<double>(window.second.size());
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / frames;
    state.counters["frames_per_bus_second"] = static_cast<double>(window.second.size());
}
BENCHMARK(BM_BusCheckTraffic);

// The frames alone (source address filter, decoding, the copies of the repeated fields).
void BM_BusCheckFramesOnly(benchmark::State& state) {
    const Window window;
    bus::BusCheck check;
    check.expect(window.expectation, window.displays, 0);
    std::uint64_t base = 0;
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    for (auto _ : state) {
        for (const fms::TimedFrame& t : window.second) check.onFrame(t.frame, base + t.timeMs);
        base += 1000;
    }
    const std::size_t allocations = orvale::bench::allocationCount() - allocationsBefore;
    check.refresh(base);
    if (check.summary().otherSenders != 0) state.SkipWithError("a frame was not the device's");
    const auto frames =
        static_cast<double>(state.iterations()) * static_cast<double>(window.second.size());
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / frames;
}
BENCHMARK(BM_BusCheckFramesOnly);

// Building the 83 rows and the summary alone, as one refresh of the window does.
void BM_BusCheckRefresh(benchmark::State& state) {
    const Window window;
    bus::BusCheck check;
    check.expect(window.expectation, window.displays, 0);
    runSecond(check, window, 0);
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    for (auto _ : state) {
        check.refresh(1000);
        benchmark::DoNotOptimize(check.summary());
    }
    state.counters["allocs_per_refresh"] =
        static_cast<double>(orvale::bench::allocationCount() - allocationsBefore) /
        static_cast<double>(state.iterations());
}
BENCHMARK(BM_BusCheckRefresh);

}  // namespace
