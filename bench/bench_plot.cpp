// The plot window's share of a repaint: 10 visible series of 36,000 points each (an hour of
// changes at the device's 10 broadcasts a second), drawn offscreen on a plot of 1200 x 700.
//
// BM_PlotRepaint paints the whole plot (decimation, axes, curves) into an image; the argument
// is the time window in seconds: 3600 shows every point, 60 the last minute as live does.
// BM_Decimate is the decimation of the 10 series alone, for the same windows.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "plot/decimation.h"
#include "plot/plot_widget.h"
#include "plot/series_store.h"

namespace {

using namespace orvale::plot;

constexpr std::size_t kVisible = 10;
constexpr TimeMs kStart = 1'796'740'200'000;
constexpr TimeMs kHour = 3'600'000;

// Every series changes at every broadcast, each its own way, with a spike now and then.
const SeriesStore& hourOfData() {
    static const SeriesStore store = [] {
        SeriesStore s;
        for (std::size_t i = 0; i < SeriesBuffer::kHourAtBroadcastRate; ++i) {
            const TimeMs time = kStart + static_cast<TimeMs>(i) * 100;
            for (std::size_t series = 0; series < kVisible; ++series) {
                const double phase =
                    static_cast<double>(i) / (50.0 + 37.0 * static_cast<double>(series));
                const double spike = i % (997 + series * 13) == 0 ? 500 : 0;
                s.record(time, series, 100 * std::sin(phase) + static_cast<double>(i % 7) + spike);
            }
        }
        s.extendTo(kStart + kHour);
        return s;
    }();
    return store;
}

void BM_PlotRepaint(benchmark::State& state) {
    const SeriesStore& store = hourOfData();
    for (std::size_t s = 0; s < kVisible; ++s) {
        if (store.series(s).size() != SeriesBuffer::kHourAtBroadcastRate) {
            state.SkipWithError("the series do not hold 36,000 points each");
            return;
        }
    }
    PlotWidget plot(store);
    plot.resize(1200, 700);
    for (std::size_t s = 0; s < kVisible; ++s) plot.setSeriesVisible(s, true);
    plot.setSpan(static_cast<double>(state.range(0)) * 1000);  // live: the last of the data
    QImage image(plot.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        plot.render(&image);
        benchmark::ClobberMemory();
    }
    state.counters["points_shown"] = static_cast<double>(
        state.range(0) >= 3600 ? kVisible * SeriesBuffer::kHourAtBroadcastRate
                               : kVisible * static_cast<std::size_t>(state.range(0)) * 10);
}
BENCHMARK(BM_PlotRepaint)->Arg(3600)->Arg(60)->Unit(benchmark::kMillisecond);

void BM_Decimate(benchmark::State& state) {
    const SeriesStore& store = hourOfData();
    const auto end = static_cast<double>(*store.end());
    const TimeRange range{end - static_cast<double>(state.range(0)) * 1000, end};
    std::vector<ColumnExtent> columns(1100);
    for (auto _ : state) {
        for (std::size_t s = 0; s < kVisible; ++s) {
            decimate(store.series(s), range, end, columns);
            benchmark::DoNotOptimize(columns.data());
        }
    }
}
BENCHMARK(BM_Decimate)->Arg(3600)->Arg(60)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // No display is needed, and none is measured.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
