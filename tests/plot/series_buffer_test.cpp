#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "plot/series_buffer.h"
#include "plot/series_store.h"

namespace orvale::plot {
namespace {

std::vector<Point> pointsOf(const SeriesBuffer& buffer) {
    std::vector<Point> points;
    for (std::size_t i = 0; i < buffer.size(); ++i) points.push_back(buffer[i]);
    return points;
}

TEST(PlotSeriesBuffer, KeepsEachChangeAndAtMostOnePointPerRefresh) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<Point> recorded;
        std::vector<Point> kept;
    } cases[] = {
        {"a display standing still costs one point", {{0, 5}, {100, 5}, {5000, 5}}, {{0, 5}}},
        {"changes a broadcast apart are all kept",
         {{0, 1}, {100, 2}, {200, 3}},
         {{0, 1}, {100, 2}, {200, 3}}},
        {"within a refresh the latest value wins",
         {{0, 1}, {100, 2}, {105, 3}, {116, 4}},
         {{0, 1}, {100, 4}}},
        {"the next refresh starts a point",
         {{0, 1}, {100, 2}, {117, 3}},
         {{0, 1}, {100, 2}, {117, 3}}},
        {"a change undone within its refresh was no change",
         {{0, 1}, {100, 9}, {101, 1}},
         {{0, 1}}},
        {"a clock set back changes the last point", {{1000, 1}, {900, 2}}, {{1000, 2}}},
        {"nan stays nan", {{0, nan}, {100, nan}, {200, 1}}, {{0, nan}, {200, 1}}},
    };
    for (const auto& c : cases) {
        SeriesBuffer buffer;
        for (const Point& p : c.recorded) buffer.record(p.time, p.value);
        const std::vector<Point> kept = pointsOf(buffer);
        ASSERT_EQ(kept.size(), c.kept.size()) << c.name;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(kept[i].time, c.kept[i].time) << c.name << " point " << i;
            EXPECT_TRUE(kept[i].value == c.kept[i].value ||
                        (std::isnan(kept[i].value) && std::isnan(c.kept[i].value)))
                << c.name << " point " << i;
        }
    }
}

// A display changing at every report, at the device's broadcast rate and at the line's full
// rate: the ring holds an hour at 10 a second, and never more than its capacity at any rate.
TEST(PlotSeriesBuffer, StaysWithinItsCapacityAtAnyRate) {
    constexpr TimeMs kHour = 3'600'000;
    const struct {
        const char* name;
        double perSecond;
        TimeMs duration;
        std::size_t keptMin, keptMax;
        TimeMs oldestMin, oldestMax;  // the oldest point kept
    } cases[] = {
        {"10/s for an hour: all of it", 10, kHour, 36'000, 36'000, 0, 0},
        {"10/s for two hours: the last hour", 10, 2 * kHour, 36'000, 36'000, kHour, kHour},
        // Reports 1 or 2 ms apart: the points are 17 or 18 ms apart.
        {"820/s for an hour: one point per refresh, the last ten minutes or so", 820, kHour, 36'000,
         36'000, kHour - 36'000 * 18, kHour - 36'000 * 17},
        {"820/s for a minute: one point per refresh", 820, 60'000, 60'000 / 18 + 1, 60'000 / 17 + 1,
         0, 0},
    };
    for (const auto& c : cases) {
        SeriesBuffer buffer;
        std::size_t memoryAtHalf = 0;
        const auto reports =
            static_cast<long long>(c.perSecond * static_cast<double>(c.duration) / 1000);
        for (long long i = 0; i < reports; ++i) {
            const auto time = static_cast<TimeMs>(static_cast<double>(i) * 1000 / c.perSecond);
            buffer.record(time, static_cast<double>(i));
            if (i == reports / 2) memoryAtHalf = buffer.memoryBytes();
        }
        EXPECT_GE(buffer.size(), c.keptMin) << c.name;
        EXPECT_LE(buffer.size(), c.keptMax) << c.name;
        EXPECT_LE(buffer.memoryBytes(), SeriesBuffer::kHourAtBroadcastRate * sizeof(Point))
            << c.name;
        EXPECT_GE(buffer.front().time, c.oldestMin) << c.name;
        EXPECT_LE(buffer.front().time, c.oldestMax) << c.name;
        EXPECT_EQ(buffer.back().value, static_cast<double>(reports - 1)) << c.name;
        for (std::size_t i = 1; i < buffer.size(); ++i) {
            ASSERT_GE(buffer[i].time - buffer[i - 1].time,
                      c.perSecond > 10 ? SeriesBuffer::kRefreshMs : 100)
                << c.name << " point " << i;
        }
        if (c.duration >= kHour && c.perSecond > 10) {
            EXPECT_EQ(buffer.memoryBytes(), memoryAtHalf) << c.name << ": memory is flat";
        }
    }
}

// Half an hour is enough: every ring is full after about ten minutes at this rate.
TEST(PlotSeriesStore, EveryDisplayChangingAtTheFullRateStaysBoundedAndFlat) {
    SeriesStore store;
    std::array<double, model::kNumericDisplayCount> numbers{};
    std::array<bool, model::kLedCount> leds{};
    std::size_t memoryAtHalf = 0;
    // 820 reports a second for half an hour, every display changing with each.
    constexpr long long kReports = 820LL * 1800;
    for (long long i = 0; i < kReports; ++i) {
        for (double& n : numbers) n = static_cast<double>(i);
        for (bool& l : leds) l = i % 2 == 1;
        store.record(i * 1000 / 820, numbers, leds);
        if (i == kReports / 2) memoryAtHalf = store.memoryBytes();
    }
    constexpr std::size_t kBound =
        kSeriesCount * SeriesBuffer::kHourAtBroadcastRate * sizeof(Point);
    EXPECT_EQ(kBound, 25'920'000u);
    EXPECT_LE(store.memoryBytes(), kBound + sizeof(SeriesStore));
    EXPECT_EQ(store.memoryBytes(), memoryAtHalf) << "memory is flat once the rings are full";
    EXPECT_EQ(*store.end(), (kReports - 1) * 1000 / 820);
}

}  // namespace
}  // namespace orvale::plot
