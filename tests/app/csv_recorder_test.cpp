#include "app/csv_recorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvale::app {
namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
    const struct {
        const char* field;
        const char* written;
    } cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"6425.500", "6425.500"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"0x08\n", "\"0x08\n\""},
        {"# model: Quennet Duo Plus", "# model: Quennet Duo Plus"},
    };
    for (const auto& c : cases) {
        std::string line;
        appendCsvField(line, c.field);
        EXPECT_EQ(line, c.written) << c.field;
    }
}

class CsvRecorderTest : public ::testing::Test {
protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("orvale-csv-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(CsvRecorderTest, EveryLineReachesTheFileInOrder) {
    const auto path = dir / "drive.csv";
    std::string error;
    auto recorder = CsvRecorder::open(path.string(), &error);
    ASSERT_TRUE(recorder) << error;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string line = "row," + std::to_string(i);
        recorder->writeLine(line);
        expected += line + "\r\n";
    }
    recorder->flushNow();
    EXPECT_EQ(slurp(path), expected) << "flushed while still open";
    recorder->writeLine("last");
    recorder.reset();
    EXPECT_EQ(slurp(path), expected + "last\r\n") << "closed cleanly";
}

TEST_F(CsvRecorderTest, AFileThatCannotBeOpenedIsReported) {
    std::string error;
    EXPECT_FALSE(CsvRecorder::open((dir / "missing" / "drive.csv").string(), &error));
    EXPECT_NE(error.find("missing/drive.csv"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST_F(CsvRecorderTest, AFullDiskStopsRecordingWithoutStallingTheWriter) {
    std::string error;
    auto recorder = CsvRecorder::open("/dev/full", &error);
    ASSERT_TRUE(recorder) << error;
    recorder->writeLine("row");
    recorder->flushNow();
    EXPECT_FALSE(recorder->healthy());
    recorder->writeLine("dropped");  // returns at once
}

}  // namespace
}  // namespace orvale::app
