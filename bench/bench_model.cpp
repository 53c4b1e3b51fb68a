// Cost of one evaluation of the parameter model with its presentation: the main window runs it
// for every position broadcast, up to about 820 times a second, on the UI thread.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "model/presentation.h"

namespace {

// Counts every allocation of the process, so that a run can report how many one evaluation makes.
std::atomic<std::size_t> g_allocations{0};

}  // namespace

// All three kept out of line: inlined, GCC sees malloc()'s pointer reach operator delete, or
// operator new's reach free(), and warns of a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

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
    const std::size_t before = g_allocations.load(std::memory_order_relaxed);
    for (auto _ : state) {
        evaluate(p, 15, kInputs, vin, out);
        benchmark::DoNotOptimize(out);
        p = p == 100 ? std::uint8_t{0} : static_cast<std::uint8_t>(p + 1);
    }
    const std::size_t allocations = g_allocations.load(std::memory_order_relaxed) - before;
    state.counters["allocs_per_eval"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Evaluate);

// Every position 0 to 255 and every product ID, one evaluation per iteration.
void BM_EvaluateAllInputs(benchmark::State& state) {
    VinBuffer vin;
    Presentation out;
    std::uint16_t combo = 0;
    const std::size_t before = g_allocations.load(std::memory_order_relaxed);
    for (auto _ : state) {
        const auto p = static_cast<std::uint8_t>(combo & 0xFFU);
        const auto productId = static_cast<std::uint8_t>(combo >> 8U);
        evaluate(p, productId, kInputs, vin, out);
        benchmark::DoNotOptimize(out);
        ++combo;
    }
    const std::size_t allocations = g_allocations.load(std::memory_order_relaxed) - before;
    state.counters["allocs_per_eval"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EvaluateAllInputs);

}  // namespace
