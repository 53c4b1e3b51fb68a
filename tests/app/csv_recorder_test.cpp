#include "app/csv_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_size_limit.h"

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
        // pandas' comment='#' would cut the row at a '#' outside quotes.
        {"# model: Quennet Duo Plus", "\"# model: Quennet Duo Plus\""},
        {"N\xB0 #7", "\"N\xB0 #7\""},
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

    bool healthy = true;
    {
        test::FileSizeLimit full(2);
        ASSERT_TRUE(full.ok());
        recorder->writeLine("row");
        recorder->flushNow();
        healthy = recorder->healthy();
        recorder->writeLine("dropped");  // returns at once
    }
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

// The README promises what was recorded is on the disk within a second; fflush alone left it in
// the system's cache, where a power cut loses it.
TEST_F(CsvRecorderTest, RegressionWrittenLinesAreSyncedToTheDiskWithoutBeingAsked) {
    const auto path = dir / "synced.csv";
    std::atomic<int> syncs{0};
    std::atomic<long> sizeAtLastSync{-1};
    CsvRecorder::Disk disk;
    disk.sync = [&](int fd) {
        // What the file holds when the sync is asked for, through a descriptor of its own.
        sizeAtLastSync = static_cast<long>(std::filesystem::file_size(path));
        ++syncs;
        return ::fsync(fd);
    };
    std::string error;
    auto recorder = CsvRecorder::open(path.string(), &error, disk);
    ASSERT_TRUE(recorder) << error;

    recorder->writeLine("first");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (syncs == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(syncs, 1) << "the writer syncs on its own";
    EXPECT_EQ(sizeAtLastSync, 7) << "after the line was written";

    recorder->writeLine("second");
    recorder->flushNow();
    EXPECT_EQ(syncs, 2);
    EXPECT_EQ(sizeAtLastSync, 15);
    recorder->flushNow();
    EXPECT_EQ(syncs, 2) << "nothing new, nothing to sync";

    recorder->writeLine("last");
    recorder.reset();
    EXPECT_EQ(syncs, 3) << "on close";
    EXPECT_EQ(sizeAtLastSync, 21);
}

// A failed write left half a line (an open quote swallows the rest of the file for a reader)
// and nothing in the file said the recording had stopped.
TEST_F(CsvRecorderTest, RegressionAFailedWriteLeavesWholeLinesAndTheFailureLineLast) {
    const std::string before = "header\r\nrow 1\r\n";
    const std::string longLine(1000, 'x');
    const struct {
        const char* what;
        std::uintmax_t room;  // bytes the file may grow past `before`; 0: no limit
        bool syncFails;
        std::string reason;
        std::string after;  // what the file holds past `before`
    } cases[] = {
        {"full in the middle of a line", 100, false, "File too large",
         "row 2\r\nstopped: File too large\r\n"},
        {"no room even for the failure line", 10, false, "File too large", "row 2\r\n"},
        {"the disk reports an I/O error", 0, true, "Input/output error",
         "row 2\r\n" + longLine + "\r\nstopped: Input/output error\r\n"},
    };
    for (const auto& c : cases) {
        const auto path = dir / "failing.csv";
        std::atomic<bool> syncFails{false};
        CsvRecorder::Disk disk;
        disk.sync = [&](int fd) {
            if (!syncFails) return ::fsync(fd);
            errno = EIO;
            return -1;
        };
        std::string error;
        auto recorder = CsvRecorder::open(path.string(), &error, disk);
        ASSERT_TRUE(recorder) << error;
        recorder->setFailureLine(
            [](std::string_view reason) { return "stopped: " + std::string(reason); });
        recorder->writeLine("header");
        recorder->writeLine("row 1");
        recorder->flushNow();
        ASSERT_EQ(slurp(path), before) << c.what;
        {
            std::optional<test::FileSizeLimit> full;
            if (c.room > 0) {
                full.emplace(before.size() + c.room);
                ASSERT_TRUE(full->ok());
            }
            syncFails = c.syncFails;
            // One batch, as a rule: the whole line before the long one stays.
            recorder->writeLine("row 2");
            recorder->writeLine(longLine);
            recorder->flushNow();
        }
        EXPECT_FALSE(recorder->healthy()) << c.what;
        EXPECT_EQ(recorder->failureReason(), c.reason) << c.what;
        recorder->writeLine("dropped");
        recorder->flushNow();
        recorder.reset();
        EXPECT_EQ(slurp(path), before + c.after) << c.what;
    }
}

}  // namespace
}  // namespace orvale::app
