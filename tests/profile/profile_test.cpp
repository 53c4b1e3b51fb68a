#include "profile/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace orvale::profile {
namespace {

using link::Key;

const std::string kForms = "time_s,position or time_s,position,key";
const std::string kHeaders = "(" + kForms + ")";

TEST(ParseProfileTest, RefusesWithFileLineAndReason) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"", "drive.csv: no header " + kHeaders + " and no rows"},
        {"# only a comment\r\n\r\n", "drive.csv: no header " + kHeaders + " and no rows"},
        {"time_s,position\n# nothing yet\n", "drive.csv: no rows after the header"},
        {"\n0,10\n1,20\n", "drive.csv:2: missing header: the first line must be " + kForms},
        {"t,pos\n0,10\n", "drive.csv:1: unknown header \"t,pos\": expected " + kForms},
        {"time_s,key,position\n",
         "drive.csv:1: unknown header \"time_s,key,position\": expected " + kForms},
        {"time_s,position\n0\n", "drive.csv:2: position is missing"},
        {"time_s,position\n0,\n", "drive.csv:2: position is missing"},
        {"time_s,position\n,5\n", "drive.csv:2: time is missing"},
        {"time_s,position\nabc,5\n", "drive.csv:2: time \"abc\" is not a number"},
        {"time_s,position\n0,5x\n", "drive.csv:2: position \"5x\" is not a number"},
        {"time_s,position\n0,+5\n", "drive.csv:2: position \"+5\" is not a number"},
        {"time_s,position\n0,5,up\n", "drive.csv:2: 3 fields where the header has 2"},
        {"time_s,position\n0,5,\n", "drive.csv:2: 3 fields where the header has 2"},
        {"time_s,position,key\n0,5,up,1\n", "drive.csv:2: 4 fields where the header has 3"},
        // Line numbers count comments, blank lines and CR LF line ends as an editor does.
        {"# drive\r\ntime_s,position\r\n\r\n0,0\r\n# up\r\n\r\n9,120\r\n",
         "drive.csv:7: position 120 is outside 0 to 100"},
        {"time_s,position\n0,-1\n", "drive.csv:2: position -1 is outside 0 to 100"},
        {"time_s,position\n0,100.001\n", "drive.csv:2: position 100.001 is outside 0 to 100"},
        {"time_s,position\n-1,0\n", "drive.csv:2: time -1 is negative"},
        {"time_s,position\n2e9,0\n", "drive.csv:2: time 2e9 is later than 1000000000 s"},
        {"time_s,position\n0,0\n1,5\n1,6\n",
         "drive.csv:4: time 1 is not after the time 1 on line 3"},
        {"time_s,position\n0,0\n2,5\n#\n1.5,6\n",
         "drive.csv:5: time 1.5 is not after the time 2 on line 3"},
        // Played to the millisecond: two times within one are the same time.
        {"time_s,position\n0,0\n0.0001,6\n",
         "drive.csv:3: time 0.0001 is not after the time 0 on line 2"},
        {"time_s,position,key\n0,0,left\n",
         "drive.csv:2: unknown key \"left\" (down, up, dynamic or quiet)"},
        {"time_s,position\n0,nan\n", "drive.csv:2: position nan is not a finite number"},
        {"time_s,position\ninf,0\n", "drive.csv:2: time inf is not a finite number"},
        {"time_s,position\n0,1e400\n", "drive.csv:2: position \"1e400\" is out of range"},
        {"time_s,position\n#" + std::string(kMaxLineBytes, 'x') + "\n0,0\n",
         "drive.csv:2: line is longer than 4 KiB"},
        {std::string(kMaxFileBytes + 1, '#'), "drive.csv: larger than 16 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const ProfileResult result = parseProfile(c.text, "drive.csv");
        ASSERT_TRUE(std::holds_alternative<ProfileError>(result));
        EXPECT_EQ(std::get<ProfileError>(result).message(), c.message);
    }
}

TEST(ParseProfileTest, AcceptsTheWrittenForms) {
    struct Case {
        std::string text;
        std::vector<ProfileRow> rows;
    };
    const std::vector<Case> cases = {
        {"time_s,position\n0,0\n10,100\n", {{0, 0, {}, 2}, {10000, 100, {}, 3}}},
        // Byte-order mark, CR LF, header in any case with blanks, no final line end.
        {"\xEF\xBB\xBF Time_S , POSITION \r\n0.5 ,\t50.5\r\n1.25,100",
         {{500, 50.5, {}, 2}, {1250, 100, {}, 3}}},
        {"  # comment first\n\n time_s,position,key\n\t\n0,0,Dynamic\n# mid\n1,1,\n2,2\n3,3, "
         "QUIET \n4,4,down\n5,5,UP\n",
         {{0, 0, Key::Dynamic, 5},
          {1000, 1, {}, 7},
          {2000, 2, {}, 8},
          {3000, 3, Key::Quiet, 9},
          {4000, 4, Key::Down, 10},
          {5000, 5, Key::Up, 11}}},
        {"time_s,position\n2,1e1\n#" + std::string(kMaxLineBytes - 1, 'x') + "\r\n",
         {{2000, 10, {}, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const ProfileResult result = parseProfile(c.text, "drive.csv");
        ASSERT_TRUE(std::holds_alternative<Profile>(result))
            << std::get<ProfileError>(result).message();
        EXPECT_EQ(std::get<Profile>(result).name, "drive.csv");
        EXPECT_EQ(std::get<Profile>(result).rows, c.rows);
    }
}

TEST(ProfileTest, PositionIsLinearBetweenRowsAndHeldOutside) {
    const Profile profile =
        std::get<Profile>(parseProfile("time_s,position\n1,10\n2,20\n2.5,0.5\n", "p.csv"));
    const std::vector<std::pair<std::uint64_t, double>> cases = {
        {0, 10}, {1000, 10}, {1500, 15}, {2000, 20}, {2250, 10.25}, {2500, 0.5}, {9000, 0.5},
    };
    for (const auto& [timeMs, position] : cases) {
        EXPECT_DOUBLE_EQ(profile.positionAt(timeMs), position) << timeMs;
    }
    EXPECT_EQ(profile.durationMs(), 2500U);
}

TEST(LoadProfileTest, ReadsRegularFilesOnly) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("orvale_profile_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string good = (dir / "good.csv").string();
    std::ofstream(good) << "time_s,position\n0,0\n1,200\n";
    const std::string fifo = (dir / "fifo.csv").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string missing = (dir / "missing.csv").string();

    // A FIFO without a writer would block an open for reading: it must be refused at once.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {good, good + ":3: position 200 is outside 0 to 100"},
        {fifo, fifo + ": not a regular file"},
        {dir.string(), dir.string() + ": not a regular file"},
        {missing, missing + ": cannot be read: No such file or directory"},
    };
    for (const auto& [path, message] : cases) {
        const ProfileResult result = loadProfile(path);
        ASSERT_TRUE(std::holds_alternative<ProfileError>(result)) << path;
        EXPECT_EQ(std::get<ProfileError>(result).message(), message);
    }
    std::ofstream(good) << "time_s,position\n0,0\n1,100\n";
    const ProfileResult loaded = loadProfile(good);
    ASSERT_TRUE(std::holds_alternative<Profile>(loaded));
    EXPECT_EQ(std::get<Profile>(loaded).durationMs(), 1000U);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orvale::profile
