// The reader against files written by the real recorder (app/display_recording), whole and
// damaged after the fact.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/display_recording.h"
#include "link/protocol.h"
#include "model/display_format.h"
#include "plot/recording_reader.h"
#include "support/fakes.h"
#include "support/session_fakes.h"

namespace orvale::plot {
namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

// A device session driven by fakes, recorded by the real recorder; the device is a Duo Plus
// reporting the positions given, and the file is closed whole.
struct Drive {
    explicit Drive(std::initializer_list<std::uint8_t> positions) {
        path = std::filesystem::temp_directory_path() /
               ("orvale-plot-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".csv");
        std::string error;
        auto recording = std::make_unique<app::DisplayRecording>(
            app::CsvRecorder::open(path.string(), &error), session);
        session.addObserver(recording.get());
        session.initialise();
        timer.fire();
        deliver(link::device::revisionAnswer('B'));
        deliver(link::device::buildAnswer("BUILD 7"));
        deliver(link::device::canBaudRateAnswer(0));
        deliver(link::device::vinStyleAnswer('0'));
        deliver(link::device::identityAnswer({15, 4242, 2}));
        for (const std::uint8_t position : positions) {
            deliver(link::device::positionStatusBroadcast({position, 1}));
        }
        session.removeObserver(recording.get());
        recording->finish();
    }
    ~Drive() { std::filesystem::remove(path); }
    Drive(const Drive&) = delete;
    Drive& operator=(const Drive&) = delete;

    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        session.onComm();
    }
    // Lines of the file: the header and a row per change.
    [[nodiscard]] std::size_t lines() const {
        const std::string text = slurp(path);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    std::filesystem::path path;
    test::SteppingClock clock;
    test::FakeSerialControl serial{&clock};
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer timer;
    session::DeviceSession session{serial, clock, portFile, timer};
};

TEST(PlotRecordedFile, EveryNumberAndLedOfTheRecorderReadsBack) {
    const Drive drive({20, 55, 80});
    const ReadResult read = readRecordingFile(drive.path.string());
    ASSERT_TRUE(read.recording) << read.error.line << ": " << read.error.reason;
    const Recording& r = *read.recording;
    EXPECT_EQ(r.rowsRead, drive.lines() - 1) << "every row, the identification's included";
    EXPECT_GE(r.rowsRead, 4u);
    EXPECT_EQ(r.rowsSkipped, 0u);
    EXPECT_FALSE(r.cutShortAtLine);
    for (std::size_t s = 0; s < kSeriesCount; ++s) {
        ASSERT_TRUE(r.present[s]) << "no column for " << columnName(s);
    }
    // The last values read are the session's, as the displays showed them.
    const session::Displays& shown = drive.session.displays();
    for (std::size_t s = 0; s < kSeriesCount; ++s) {
        const SeriesBuffer& buffer = r.store.series(s);
        ASSERT_FALSE(buffer.empty()) << columnName(s);
        if (seriesInfo(s).led) {
            EXPECT_EQ(buffer.back().value, shown.leds[s - kFirstLedSeries] ? 1.0 : 0.0)
                << columnName(s);
        } else {
            EXPECT_EQ(model::formatFixed(buffer.back().value, seriesInfo(s).decimals),
                      model::formatFixed(shown.numbers[s], seriesInfo(s).decimals))
                << columnName(s);
        }
    }
    EXPECT_EQ(r.identity.model, "Quennet Duo Plus");
    EXPECT_EQ(r.identity.serialNumber, "4242");
    EXPECT_EQ(r.identity.firmwareVersion, " 0.3B");
    EXPECT_EQ(r.identity.canBaudRate, "250K bps");
    EXPECT_EQ(r.identity.firmwareBuild.substr(0, 7), "BUILD 7");
}

TEST(PlotRecordedFile, DamageAfterTheFactIsFoundWhereItIs) {
    const Drive drive({20, 55, 80});
    const std::string whole = slurp(drive.path);
    const std::size_t lines = drive.lines();
    ASSERT_GE(lines, 5u);
    // Where each line starts.
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i + 1 < whole.size(); ++i) {
        if (whole[i] == '\n') starts.push_back(i + 1);
    }
    ASSERT_EQ(starts.size(), lines);
    // Line 3's Engine speed cell made unreadable; the cell found by its column.
    std::string damagedCell = whole;
    {
        const std::size_t line3 = starts[2];
        std::size_t at = line3;
        const std::string header = whole.substr(0, starts[1]);
        // The number of commas before "Engine speed (rpm)" in the header, quotes counted out.
        std::size_t column = 0;
        bool quoted = false;
        for (std::size_t i = 0; i < header.find("Engine speed (rpm)"); ++i) {
            if (header[i] == '"') quoted = !quoted;
            if (header[i] == ',' && !quoted) ++column;
        }
        quoted = false;
        for (std::size_t seen = 0; seen < column; ++at) {
            if (damagedCell[at] == '"') quoted = !quoted;
            if (damagedCell[at] == ',' && !quoted) ++seen;
        }
        damagedCell.insert(at, "x");
    }
    const struct {
        const char* name;
        std::string text;
        std::size_t rows;
        std::size_t skipped;
        std::optional<std::size_t> cutShortAt;
        std::string problem;
    } cases[] = {
        {"cut in the middle of the last row", whole.substr(0, starts.back() + 100), lines - 2, 0,
         lines, ""},
        {"cut just before the last line end", whole.substr(0, whole.size() - 2), lines - 2, 0,
         lines, ""},
        {"a cell made unreadable", damagedCell, lines - 2, 1, std::nullopt,
         "line 3: \"Engine speed (rpm)\" holds \"x"},
    };
    for (const auto& c : cases) {
        const ReadResult read = readRecording(c.text);
        ASSERT_TRUE(read.recording) << c.name << ": " << read.error.reason;
        EXPECT_EQ(read.recording->rowsRead, c.rows) << c.name;
        EXPECT_EQ(read.recording->rowsSkipped, c.skipped) << c.name;
        EXPECT_EQ(read.recording->cutShortAtLine, c.cutShortAt) << c.name;
        if (!c.problem.empty()) {
            ASSERT_FALSE(read.recording->problems.empty()) << c.name;
            EXPECT_TRUE(read.recording->problems.front().starts_with(c.problem))
                << c.name << ": " << read.recording->problems.front();
        }
    }
}

}  // namespace
}  // namespace orvale::plot
