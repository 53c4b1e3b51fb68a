#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "plot/decimation.h"

namespace orvale::plot {
namespace {

SeriesBuffer bufferOf(const std::vector<Point>& points) {
    SeriesBuffer buffer;
    for (const Point& p : points) buffer.record(p.time, p.value);
    return buffer;
}

struct Column {
    bool present;
    double min, max, first, last;
};

constexpr Column kNone{false, 0, 0, 0, 0};
constexpr Column flat(double v) { return {true, v, v, v, v}; }

// Points are seconds apart, so that the buffer keeps each of them.
TEST(PlotDecimation, EveryColumnKeepsItsLeastAndGreatestValue) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<Point> points;
        TimeRange range;
        double end;
        std::vector<Column> columns;
    } cases[] = {
        {"a flat line", {{0, 5}}, {0, 40'000}, 40'000, {flat(5), flat(5), flat(5), flat(5)}},
        {"a step inside a column",
         {{0, 0}, {25'000, 10}},
         {0, 40'000},
         40'000,
         {flat(0), flat(0), {true, 0, 10, 0, 10}, flat(10)}},
        {"a step on a column's edge shows in the column it starts",
         {{0, 0}, {20'000, 10}},
         {0, 40'000},
         40'000,
         {flat(0), flat(0), {true, 0, 10, 0, 10}, flat(10)}},
        {"a spike of one point up",
         {{0, 0}, {13'000, 100}, {14'000, 0}},
         {0, 40'000},
         40'000,
         {flat(0), {true, 0, 100, 0, 0}, flat(0), flat(0)}},
        {"a spike of one point down, among several in a column",
         {{0, 50}, {11'000, 60}, {12'000, -70}, {13'000, 55}},
         {0, 20'000},
         20'000,
         {flat(50), {true, -70, 60, 50, 55}}},
        {"nothing before the first point",
         {{15'000, 3}},
         {0, 40'000},
         40'000,
         {kNone, {true, 3, 3, 3, 3}, flat(3), flat(3)}},
        {"nothing after the data's end",
         {{0, 3}},
         {0, 40'000},
         20'000,
         {flat(3), flat(3), kNone, kNone}},
        {"the value held from before the range",
         {{-60'000, 7}, {25'000, 8}},
         {0, 40'000},
         40'000,
         {flat(7), flat(7), {true, 7, 8, 7, 8}, flat(8)}},
        {"a value that is no number leaves a gap",
         {{0, 1}, {15'000, nan}, {32'000, 2}},
         {0, 40'000},
         40'000,
         {flat(1), flat(1), kNone, flat(2)}},
    };
    for (const auto& c : cases) {
        const SeriesBuffer buffer = bufferOf(c.points);
        const auto got = decimate(buffer, c.range, c.end, c.columns.size());
        ASSERT_EQ(got.size(), c.columns.size()) << c.name;
        for (std::size_t k = 0; k < got.size(); ++k) {
            const Column& want = c.columns[k];
            ASSERT_EQ(got[k].present, want.present) << c.name << ", column " << k;
            if (!want.present) continue;
            EXPECT_EQ(got[k].min, want.min) << c.name << ", column " << k;
            EXPECT_EQ(got[k].max, want.max) << c.name << ", column " << k;
            EXPECT_EQ(got[k].first, want.first) << c.name << ", column " << k;
            EXPECT_EQ(got[k].last, want.last) << c.name << ", column " << k;
        }
    }
}

// Against the definition, column by column, for random series with spikes and random views:
// the value held from before the column and every point inside it count, nothing else does.
TEST(PlotDecimation, MatchesAColumnByColumnScanOfRandomSeries) {
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 40; ++trial) {
        SeriesBuffer buffer;
        std::vector<Point> points;
        TimeMs time = 0;
        for (int i = 0; i < 2000; ++i) {
            time += std::uniform_int_distribution<TimeMs>(17, 400)(random);
            // Mostly a slow wander, now and then a spike far off it.
            const double value = std::uniform_int_distribution<int>(0, 49)(random) == 0
                                     ? std::uniform_real_distribution<double>(-1e4, 1e4)(random)
                                     : std::sin(static_cast<double>(i) / 50) * 100;
            buffer.record(time, value);
        }
        for (std::size_t i = 0; i < buffer.size(); ++i) points.push_back(buffer[i]);
        const double from =
            std::uniform_real_distribution<double>(-1000, 0.8 * static_cast<double>(time))(random);
        const double to =
            from + std::uniform_real_distribution<double>(50, static_cast<double>(time))(random);
        const double end =
            std::uniform_real_distribution<double>(from, static_cast<double>(time) + 1000)(random);
        const std::size_t columns = std::uniform_int_distribution<std::size_t>(1, 700)(random);
        const auto got = decimate(buffer, {from, to}, end, columns);

        const double width = (to - from) / static_cast<double>(columns);
        for (std::size_t k = 0; k < columns; ++k) {
            const double start = from + static_cast<double>(k) * width;
            const double stop = from + static_cast<double>(k + 1) * width;
            std::vector<double> shown;
            const Point* before = nullptr;
            for (const Point& p : points) {
                if (k == 0 ? static_cast<double>(p.time) <= start
                           : static_cast<double>(p.time) < start)
                    before = &p;
                if (static_cast<double>(p.time) >= start && static_cast<double>(p.time) < stop &&
                    !(k == 0 && static_cast<double>(p.time) == start)) {
                    shown.push_back(p.value);
                }
            }
            if (before) shown.insert(shown.begin(), before->value);
            const bool known = start < std::min(to, end);
            ASSERT_EQ(got[k].present, known && !shown.empty())
                << "trial " << trial << ", column " << k;
            if (!got[k].present) continue;
            EXPECT_EQ(got[k].min, *std::min_element(shown.begin(), shown.end()))
                << "trial " << trial << ", column " << k;
            EXPECT_EQ(got[k].max, *std::max_element(shown.begin(), shown.end()))
                << "trial " << trial << ", column " << k;
            EXPECT_EQ(got[k].first, shown.front()) << "trial " << trial << ", column " << k;
            EXPECT_EQ(got[k].last, shown.back()) << "trial " << trial << ", column " << k;
        }
    }
}

}  // namespace
}  // namespace orvale::plot
