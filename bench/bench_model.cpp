// Cost of one evaluation of the parameter model with its presentation: the main window runs it
// for every position broadcast, up to about 820 times a second, on the UI thread.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

#include "allocation_counter.h"
#include "model/presentation.h"

namespace {

using orvale::model::evaluate;
using orvale::model::Presentation;
using orvale::model::PresentationInputs;
using orvale::model::VinBuffer;

constexpr PresentationInputs kInputs{"Quennet Duo Plus", 987654321U, "Variable", "12:34:56"};

// Sweeps the slider's range 0 to 100 on a Duo Plus, which carries every group.
void BM_Evaluate(benchmark::State& state) {
    VinBuffer vin;
    Presentation out;
    std::uint8_t p = 0;
    const std::size_t before = orvale::bench::allocationCount();
    for (auto _ : state) {
        evaluate(p, 15, kInputs, vin, out);
        benchmark::DoNotOptimize(out);
        p = p == 100 ? std::uint8_t{0} : static_cast<std::uint8_t>(p + 1);
    }
    const std::size_t allocations = orvale::bench::allocationCount() - before;
    state.counters["allocs_per_eval"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Evaluate);

// Every position 0 to 255 and every product ID, one evaluation per iteration.
void BM_EvaluateAllInputs(benchmark::State& state) {
    VinBuffer vin;
    Presentation out;
    std::uint16_t combo = 0;
    const std::size_t before = orvale::bench::allocationCount();
    for (auto _ : state) {
        const auto p = static_cast<std::uint8_t>(combo & 0xFFU);
        const auto productId = static_cast<std::uint8_t>(combo >> 8U);
        evaluate(p, productId, kInputs, vin, out);
        benchmark::DoNotOptimize(out);
        ++combo;
    }
    const std::size_t allocations = orvale::bench::allocationCount() - before;
    state.counters["allocs_per_eval"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EvaluateAllInputs);

}  // namespace
