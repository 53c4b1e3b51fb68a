#include "app/csv_recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Only a regular file takes a recording now, so a full disk is a file-size limit here: writes
// past it fail as they would on a full disk (EFBIG rather than ENOSPC).
TEST_F(CsvRecorderTest, AFullDiskStopsRecordingWithoutStallingTheWriter) {
    std::string error;
    auto recorder = CsvRecorder::open((dir / "full.csv").string(), &error);
    ASSERT_TRUE(recorder) << error;

    struct sigaction ignore {};
    struct sigaction oldAction {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &oldAction), 0);
    rlimit oldLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit limit = oldLimit;
    limit.rlim_cur = 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

    recorder->writeLine("row");
    recorder->flushNow();
    const bool healthy = recorder->healthy();
    recorder->writeLine("dropped");  // returns at once

    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    ::sigaction(SIGXFSZ, &oldAction, nullptr);
    EXPECT_FALSE(healthy);
}

TEST_F(CsvRecorderTest, AnEarlierRecordingIsReplaced) {
    const auto path = dir / "drive.csv";
    std::ofstream(path, std::ios::binary) << "an older and longer recording\r\n";
    std::string error;
    auto recorder = CsvRecorder::open(path.string(), &error);
    ASSERT_TRUE(recorder) << error;
    recorder->writeLine("new");
    recorder.reset();
    EXPECT_EQ(slurp(path), "new\r\n");
}

// A FIFO as --log held up start-up in open() until something read it.
TEST_F(CsvRecorderTest, ANonRegularTargetIsRefusedAtOnce) {
    const std::string fifo = (dir / "fifo.csv").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string readFifo = (dir / "read-fifo.csv").string();
    ASSERT_EQ(::mkfifo(readFifo.c_str(), 0600), 0);
    // With a reader a non-blocking open succeeds; the check after it must still refuse.
    const int reader = ::open(readFifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string directory = dir.string();

    for (const std::string& path : {fifo, readFifo, directory, std::string("/dev/null")}) {
        std::string error;
        auto pending =
            std::async(std::launch::async, [&] { return CsvRecorder::open(path, &error); });
        int unblocker = -1;
        if (pending.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Stuck in open() waiting for a reader: give it one, so the test fails, not hangs.
            ADD_FAILURE() << "waited on " << path;
            unblocker = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        }
        EXPECT_FALSE(pending.get()) << path;
        if (unblocker >= 0) ::close(unblocker);
        EXPECT_EQ(error, "Cannot open " + path + " for recording: it is not a regular file");
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_FALSE(S_ISREG(info.st_mode)) << path << " was replaced";
    }
    ::close(reader);
}

}  // namespace
}  // namespace orvale::app
