#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "plot/iso_time.h"
#include "plot/recording_reader.h"

namespace orvale::plot {
namespace {

// A recording as `Orvale --log` writes one, by hand and with fewer parameter columns: text
// boxes between the numbers, a label with a comma, an LED, CRLF line ends.
const std::string kHeader =
    "time,position,model,serial number,firmware version,firmware build,CAN baud rate,VIN style,"
    "Vehicle Identification number,Engine total fuel used (L),Engine speed (rpm),"
    "Service brake air pressure 1 (kPa),\"Retarder Selection, non-engine (%)\",Brake,"
    "Driver 1 Card\r\n";

std::string row(std::string_view time, std::string_view cells) {
    return std::string(time) +
           ",20,Quennet Duo Plus,4242, 0.3B,BUILD 7               ,250K bps,"
           "WMI+VDS+VIS,WDB1234," +
           std::string(cells) + ",01=Card present\r\n";
}

const std::string kRow1 = row("2026-12-08T15:30:01.123+01:00", "1.5,1200.000,600,12.5,0");
const std::string kRow2 = row("2026-12-08T15:30:01.223+01:00", "1.5,1250.500,600,12.5,1");
const std::string kRow3 = row("2026-12-08T15:30:01.323+01:00", "2.0,1300.000,610,13.0,1");
constexpr TimeMs kTime1 = 1'796'740'201'123;

std::size_t series(model::ControlId id) { return *seriesOf(id); }

TEST(PlotRecordingReader, ReadsTheTimesValuesAndIdentityOfEachRow) {
    const ReadResult read = readRecording(kHeader + kRow1 + kRow2 + kRow3);
    ASSERT_TRUE(read.recording) << read.error.reason;
    const Recording& r = *read.recording;
    EXPECT_EQ(r.rowsRead, 3u);
    EXPECT_EQ(r.rowsSkipped, 0u);
    EXPECT_FALSE(r.cutShortAtLine);
    namespace c = model::control;
    const SeriesBuffer& speed = r.store.series(series(c::kEngineSpeed));
    ASSERT_EQ(speed.size(), 3u);
    EXPECT_EQ(speed[0].time, kTime1);
    EXPECT_EQ(speed[1].time, kTime1 + 100);
    EXPECT_EQ(speed[1].value, 1250.5);
    EXPECT_EQ(speed[2].value, 1300.0);
    EXPECT_EQ(r.store.series(series(c::kRetarderSelection)).back().value, 13.0);
    EXPECT_EQ(r.store.series(series(c::kBrakeLed)).back().value, 1.0);
    EXPECT_EQ(r.store.series(series(c::kServiceBrakeAirPressure1)).size(), 2u)
        << "a point per change only";
    EXPECT_EQ(*r.store.end(), kTime1 + 200);
    EXPECT_TRUE(r.present[series(c::kEngineSpeed)]);
    EXPECT_FALSE(r.present[series(c::kFuelRate)]) << "a column the file lacks";
    EXPECT_EQ(r.identity, (RecordingIdentity{"Quennet Duo Plus", "4242", " 0.3B",
                                             "BUILD 7               ", "250K bps", "WMI+VDS+VIS"}));
}

TEST(PlotRecordingReader, DamagedFilesAreReportedWithTheLineAtFault) {
    // As the recorder writes it when the disk is full: every cell after the model's empty.
    const std::string stopped =
        "2026-12-08T15:30:05.000+01:00,,recording stopped: No space left "
        "on device" +
        std::string(12, ',') + "\r\n";
    // A firmware build text with a line end in it, quoted.
    std::string twoLines = row("2026-12-08T15:30:01.123+01:00", "1.5,1,600,12.5,1");
    twoLines.replace(twoLines.find("BUILD 7"), 22, "\"B\r\nD 7\"");
    const struct {
        const char* name;
        std::string text;
        std::size_t errorLine;  // 0: the file reads
        std::size_t rows;
        std::size_t skipped;
        std::optional<std::size_t> cutShortAt;
        std::string problem;  // what the first problem says, in part
    } cases[] = {
        {"not a recording", "a,b,c\r\n1,2,3\r\n", 1, 0, 0, {}, "not a recording of Orvale"},
        {"an empty file", "", 1, 0, 0, {}, "empty"},
        {"a header cut short", kHeader.substr(0, kHeader.size() - 2), 1, 0, 0, {}, "header"},
        {"no parameter column",
         "time,position,model,serial number,firmware version,firmware build,CAN baud rate,"
         "VIN style,Driver 1 Card\r\n",
         1,
         0,
         0,
         {},
         "none of its columns"},
        {"the last line without its end", kHeader + kRow1 + kRow2 + kRow3.substr(0, 60), 0, 2, 0, 4,
         ""},
        {"a quoted cell open at the end",
         kHeader + kRow1 + kRow2 + "2026-12-08T15:30:01.323+01:00,20,\"Quennet", 0, 2, 0, 4, ""},
        {"a number that does not read",
         kHeader + kRow1 + row("2026-12-08T15:30:01.223+01:00", "1.5,12x0,600,12.5,1") + kRow3,
         0,
         2,
         1,
         {},
         "line 3: \"Engine speed (rpm)\" holds \"12x0\""},
        {"an empty number",
         kHeader + kRow1 + row("2026-12-08T15:30:01.223+01:00", "1.5,,600,12.5,1"),
         0,
         1,
         1,
         {},
         "line 3: \"Engine speed (rpm)\" holds \"\""},
        {"an LED neither 0 nor 1",
         kHeader + kRow1 + row("2026-12-08T15:30:01.223+01:00", "1.5,1,600,12.5,2"),
         0,
         1,
         1,
         {},
         "line 3: \"Brake\" holds \"2\""},
        {"a row missing a cell",
         kHeader + kRow1 + row("2026-12-08T15:30:01.223+01:00", "1.5,1,600,1") + kRow3,
         0,
         2,
         1,
         {},
         "line 3: 14 cells where the header has 15"},
        {"a time that does not read",
         kHeader + kRow1 + row("2026-12-08 15:30:01.223", "1.5,1,600,12.5,1"),
         0,
         1,
         1,
         {},
         "line 3: the time"},
        {"a time before the row above",
         kHeader + kRow2 + kRow1 + kRow3,
         0,
         2,
         1,
         {},
         "line 3: its time is before"},
        {"a line end in a quoted cell moves the lines after it",
         kHeader + twoLines + row("2026-12-08T15:30:01.223+01:00", "1.5,bad,600,12.5,1"),
         0,
         1,
         1,
         {},
         "line 4: "},
        {"the recording's own last row says why it stopped",
         kHeader + kRow1 + stopped,
         0,
         1,
         0,
         {},
         ""},
    };
    for (const auto& c : cases) {
        const ReadResult read = readRecording(c.text);
        if (c.errorLine > 0) {
            EXPECT_FALSE(read.recording) << c.name;
            EXPECT_EQ(read.error.line, c.errorLine) << c.name;
            EXPECT_NE(read.error.reason.find(c.problem), std::string::npos)
                << c.name << ": " << read.error.reason;
            continue;
        }
        ASSERT_TRUE(read.recording) << c.name << ": " << read.error.reason;
        const Recording& r = *read.recording;
        EXPECT_EQ(r.rowsRead, c.rows) << c.name;
        EXPECT_EQ(r.rowsSkipped, c.skipped) << c.name;
        EXPECT_EQ(r.cutShortAtLine, c.cutShortAt) << c.name;
        if (!c.problem.empty()) {
            ASSERT_FALSE(r.problems.empty()) << c.name;
            EXPECT_TRUE(r.problems.front().starts_with(c.problem))
                << c.name << ": " << r.problems.front();
        }
    }

    const ReadResult read = readRecording(kHeader + kRow1 + stopped);
    ASSERT_TRUE(read.recording);
    EXPECT_EQ(read.recording->stoppedReason, "No space left on device");
    EXPECT_EQ(*read.recording->store.end(), kTime1 + 3877) << "the data holds until it stopped";
}

TEST(PlotRecordingReader, ParsesTheTimesRecordingsWriteAndNothingElse) {
    const struct {
        const char* text;
        std::optional<TimeMs> ms;
    } cases[] = {
        {"2026-12-08T15:30:01.123+01:00", kTime1},
        {"2028-02-29T23:59:59.999-05:30", 1'835'501'399'999},
        {"1970-01-01T00:00:00.000Z", 0},
        {"2026-02-29T00:00:00.000+00:00", std::nullopt},  // no such day
        {"2026-12-08T24:00:00.000+00:00", std::nullopt},
        {"2026-12-08T15:30:01+01:00", std::nullopt},  // no milliseconds
        {"2026-12-08T15:30:01.123+0100", std::nullopt},
        {"2026-12-08T15:30:01.123", std::nullopt},  // no offset: the time is not known
        {" 2026-12-08T15:30:01.123+01:00", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseIsoTime(c.text), c.ms) << c.text;
    // Written back in local time, it reads as the same instant.
    EXPECT_EQ(parseIsoTime(isoLocalTime(kTime1)), kTime1) << isoLocalTime(kTime1);
}

}  // namespace
}  // namespace orvale::plot
