// The FMS codec alone: every group of one position encoded, and frames decoded one by one,
// ordinary and as broadcasts (BAM), and as a second of a device's bus traffic. A 250 kbit/s bus
// carries at most about 2,000 frames of 8 bytes a second; decoding must keep up with far more
// (1,000,000 frames a second on one core, replaying logs), and never allocate per frame.

#include <benchmark/benchmark.h>

#include <vector>

#include "allocation_counter.h"
#include "fms/decoder.h"
#include "fms/encoder.h"
#include "model/presentation.h"

namespace {

using namespace orvale;

// A Duo Plus, which carries every group, at position 80 and 12:34:56.
struct Device {
    Device() {
        const model::PresentationInputs inputs{"Quennet Duo Plus", 987654321U, "Variable",
                                               "12:34:56"};
        raw = model::computeRawParameters(80, 15);
        model::present(raw, 80, 15, inputs, vin, shown);
        state = fms::deviceStateOf(raw, 15, shown, model::swVersionFor("Quennet Duo Plus"),
                                   fms::parseClock("12:34:56"));
    }
    model::RawParameters raw{};
    model::VinBuffer vin;
    model::Presentation shown;
    fms::DeviceState state;
};

std::size_t iterations(const benchmark::State& state) {
    return static_cast<std::size_t>(state.iterations());
}

void perFrame(benchmark::State& state, std::size_t frames, std::size_t allocationsBefore) {
    const std::size_t allocations = orvale::bench::allocationCount() - allocationsBefore;
    const auto n = static_cast<double>(frames);
    state.counters["frames_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / n;
}

void BM_EncodeAllGroups(benchmark::State& state) {
    const Device device;
    fms::EncodedFrames encoded;
    fms::encode(device.state, encoded);  // the vectors reach their working size
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    for (auto _ : state) {
        fms::encode(device.state, encoded);
        benchmark::DoNotOptimize(encoded.frames.data());
    }
    perFrame(state, iterations(state) * encoded.frames.size(), allocationsBefore);
    state.counters["frames"] = static_cast<double>(encoded.frames.size());
}
BENCHMARK(BM_EncodeAllGroups);

// CCVS1 over and over, 100 ms apart.
void BM_DecodeOrdinaryFrame(benchmark::State& state) {
    fms::CanFrame frame{0x18FEF100, 8, {0xF3, 0xCC, 0xC8, 0x1D, 0xFF, 0xFF, 0x1F, 0xFF}};
    fms::Decoder decoder;
    std::uint64_t t = 0;
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    for (auto _ : state) {
        decoder.onFrame(frame, t += 100);
        benchmark::DoNotOptimize(decoder.value(2));
    }
    perFrame(state, iterations(state), allocationsBefore);
}
BENCHMARK(BM_DecodeOrdinaryFrame);

// The DI broadcast of both drivers: an announcement and six packets a message.
void BM_DecodeBam(benchmark::State& state) {
    const Device device;
    fms::EncodedFrames encoded;
    fms::encode(device.state, encoded);
    std::vector<fms::CanFrame> message;
    for (const fms::GroupFrames& g : encoded.groups) {
        if (g.group == fms::GroupId::kDi) {
            const auto frames = encoded.framesOf(g);
            message.assign(frames.begin(), frames.end());
        }
    }
    fms::Decoder decoder;
    std::uint64_t t = 0;
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    for (auto _ : state) {
        for (const fms::CanFrame& f : message) decoder.onFrame(f, t += 50);
    }
    benchmark::DoNotOptimize(decoder.text(fms::fieldIndex(model::control::kDriver2Id)));
    if (decoder.counters().bamCompleted != iterations(state)) state.SkipWithError("BAM lost");
    perFrame(state, iterations(state) * message.size(), allocationsBefore);
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(iterations(state)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeBam);

// One second of the device's traffic (every group at its period, both broadcasts), replayed
// second after second.
void BM_DecodeBusTraffic(benchmark::State& state) {
    const Device device;
    fms::EncodedFrames encoded;
    fms::encode(device.state, encoded);
    const std::vector<fms::TimedFrame> second = fms::schedule(encoded, 0, 1000);
    fms::Decoder decoder;
    std::uint64_t base = 0;
    const std::size_t allocationsBefore = orvale::bench::allocationCount();
    for (auto _ : state) {
        for (const fms::TimedFrame& t : second) decoder.onFrame(t.frame, base + t.timeMs);
        base += 1000;
    }
    benchmark::DoNotOptimize(decoder.counters());
    if (decoder.counters().bamDropped != 0) state.SkipWithError("BAM dropped");
    perFrame(state, iterations(state) * second.size(), allocationsBefore);
    state.counters["frames_per_bus_second"] = static_cast<double>(second.size());
}
BENCHMARK(BM_DecodeBusTraffic);

}  // namespace
