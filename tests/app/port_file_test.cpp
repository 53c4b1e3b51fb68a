#include "app/port_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using orvale::app::PortFile;
using orvale::app::StepOutcome;
using orvale::app::StoreStep;

namespace {

/// A fresh directory per test, removed afterwards.
class PortFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "orvale-port-file-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    [[nodiscard]] std::string file(const std::string& name = "quennet.ini") const {
        return (m_dir / name).string();
    }
    [[nodiscard]] std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    fs::path m_dir;
};

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::optional<std::string> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(PortFileParse, LineRules) {
    struct Case {
        std::string contents;
        std::string port;
        bool fallback;
    };
    const Case cases[] = {
        {"", "COM1", false},
        {"com=4;\r\n", "COM4", false},
        {"; the port\r\nCOM=5;\r\n", "COM5", false},
        {"// the port\r\nCOM=5;\r\n", "COM5", false},
        {"\r\nCOM=6;\r\n", "COM6", false},
        {"COM=3;\r\nCOM=7;\r\n", "COM7", false},
        {"COM=3;\nCOM=8;\n", "COM8", false},
        {"COM=6;", "COM6", false},
        {" COM=3;\r\n", "COM1", false},
        {"PORT=3;\r\n", "COM1", false},
        {"CO=3;\r\n", "COM1", false},
        {"COM=X1;\r\n", "COMX1", false},
        {"com=x1;rest\r\n", "COMX1", false},
        {"COMM=7;\r\n", "COM7", false},
        {"COM=COM7;\r\n", "COM7", false},
        {"COM 5;\r\n", "COM 5", false},
        {"COM=1;2;\r\n", "COM1", false},
        {"COM=3;\r\n\n", "COM3", false},
        {"COM=;\r\n", "COM1", true},
        {"COM=9\r\n", "COM1", true},
        {"COM=9", "COM1", true},
        {"COM=5;\r\nCOM=;\r\n", "COM1", true},
        {"COM=;\r\nCOM=5;\r\n", "COM5", true},
    };
    for (const Case& c : cases) {
        const auto parsed = orvale::app::parsePortFile(c.contents);
        EXPECT_EQ(parsed.portText, c.port) << '"' << c.contents << '"';
        EXPECT_EQ(parsed.fallbackStoreNeeded, c.fallback) << '"' << c.contents << '"';
    }
}

TEST(PortFilePath, TrimsExecutableCharactersFromTheEnd) {
    struct Case {
        std::string exe;
        std::string exeName;
        std::string expected;
    };
    const Case cases[] = {
        {"C:\\Tools\\Orvale.exe", "Orvale.exe", "C:\\Tools\\quennet.ini"},
        {"C:\\x\\Orvale2.exe", "Orvale.exe", "C:\\x\\Orvale2quennet.ini"},
        {"C:\\x\\ORVALE.EXE", "Orvale.exe", "C:\\x\\ORVALE.EXEquennet.ini"},
        {"/opt/x/Orvale", "Orvale.exe", "/opt/x/quennet.ini"},
        {"/usr/bin/Orvale", "Orvale", "/usr/bin/quennet.ini"},
        {"/srv/Orvale/Orvale", "Orvale", "/srv/Orvale/quennet.ini"},
        {"/home/lea/eval/Orvale", "Orvale.exe", "/home/lea/eval/quennet.ini"},
        {"/opt/x/orvale", "Orvale.exe", "/opt/x/oquennet.ini"},
        {"/opt/x/Orvale.x", "Orvale", "/opt/x/Orvale.xquennet.ini"},
        {"Orvale", "Orvale.exe", "quennet.ini"},
        {"", "Orvale.exe", "quennet.ini"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(orvale::app::portFilePathBesideExecutable(c.exe, c.exeName), c.expected) << c.exe;
    }
    EXPECT_EQ(orvale::app::portFilePathBesideExecutable("/a/Orvale.exe"), "/a/quennet.ini");
}

TEST(PortFilePath, UserConfigDirectoryFromEnvironment) {
    using Env = std::map<std::string, std::string>;
    const std::pair<Env, std::string> cases[] = {
        {{{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/home/lea"}}, "/x/cfg/Orvale"},
        {{{"XDG_CONFIG_HOME", "rel/cfg"}, {"HOME", "/home/lea"}}, "/home/lea/.config/Orvale"},
        {{{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/lea"}}, "/home/lea/.config/Orvale"},
        {{{"HOME", "/home/lea"}}, "/home/lea/.config/Orvale"},
        {{}, ""},
    };
    for (const auto& [env, expected] : cases) {
        const auto getEnv = [&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(orvale::app::userConfigDirectory(getEnv), expected);
    }
}

TEST_F(PortFileTest, ResolvesBesideTheExecutableOnlyWhenItsDirectoryIsWritable) {
    fs::create_directory(m_dir / "bin");
    writeBytes(file("a-file"), "x");
    const std::string config = (m_dir / "cfg" / "Orvale").string();
    const std::string inConfig = config + "/quennet.ini";
    const std::string writable = (m_dir / "bin" / "Orvale").string();
    EXPECT_EQ(orvale::app::resolvePortFilePath(writable, config), file("bin/quennet.ini"));
    EXPECT_FALSE(fs::exists(config));

    // Root writes anywhere, so unwritable directories are a missing one, a file, and a
    // directory the injected check refuses.
    const auto refuse = [](const std::string&) { return false; };
    EXPECT_EQ(orvale::app::resolvePortFilePath(writable, config, "Orvale", refuse), inConfig);
    for (const char* exe : {"missing/bin/Orvale", "a-file/Orvale"}) {
        EXPECT_EQ(orvale::app::resolvePortFilePath(file(exe), config), inConfig) << exe;
    }
    EXPECT_TRUE(fs::is_directory(config));
    PortFile portFile(inConfig);
    EXPECT_EQ(portFile.read().portText, "COM1");
    EXPECT_TRUE(portFile.store("COM9"));
    EXPECT_EQ(readBytes(inConfig), "COM=9;\r\n");
}

TEST_F(PortFileTest, ReadWritesTheDefaultOrRepairsLinesThatNameNoPort) {
    struct Case {
        std::optional<std::string> before;  // nullopt: no file
        std::string port;
        std::string after;
        bool defaultWritten;
        bool fallbackStored;
    };
    const Case cases[] = {
        {std::nullopt, "COM1", "COM=1;\r\n", true, false},
        {"", "COM1", "COM=1;\r\n", true, false},
        {"COM=;\r\n", "COM1", "COM=1;\r\n", false, true},
        {"COM=9\r\n", "COM1", "COM=1;\r\n", false, true},
        {"COM=9", "COM1", "COM=1;\r\n", false, true},
        {"; keep\r\nCOM=;\r\nCOM=5;\r\n", "COM5", "; keep\r\nCOM=1;\r\nCOM=5;\r\n", false, true},
        {"; keep\r\ncom=4;\r\n", "COM4", "; keep\r\ncom=4;\r\n", false, false},
    };
    for (const Case& c : cases) {
        fs::remove(file());
        if (c.before) {
            writeBytes(file(), *c.before);
        }
        PortFile portFile(file());
        const auto result = portFile.read();
        EXPECT_EQ(result.portText, c.port) << c.after;
        EXPECT_EQ(readBytes(file()), c.after);
        EXPECT_EQ(result.defaultWritten, c.defaultWritten) << c.after;
        EXPECT_EQ(result.fallbackStored, c.fallbackStored) << c.after;
        EXPECT_FALSE(result.writeFailed);

        const auto again = portFile.read();
        EXPECT_EQ(again.portText, c.port) << "a repaired file reads the same";
        EXPECT_FALSE(again.fallbackStored || again.defaultWritten);
    }
}

// Stores used to write over the start of the file without truncating it: a comment line
// first, or a shorter port after a longer one, left old bytes that brought the old port back.
TEST_F(PortFileTest, StoreReplacesThePortLineAndKeepsEverythingElse) {
    struct Case {
        std::optional<std::string> before;
        std::string port;
        std::string after;
        std::string readBack;
    };
    const Case cases[] = {
        {"COM=1;\r\n", "COM12", "COM=12;\r\n", "COM12"},
        {"COM=12;\r\n", "COM3", "COM=3;\r\n", "COM3"},
        {"; Orvale\r\nCOM=1;\r\n", "COM12", "; Orvale\r\nCOM=12;\r\n", "COM12"},
        {"; a\r\nCOM=12;\r\n; b\r\n", "COM3", "; a\r\nCOM=3;\r\n; b\r\n", "COM3"},
        {"COM=3;\r\nCOM=7;\r\n", "COM12", "COM=3;\r\nCOM=12;\r\n", "COM12"},
        {"COM=3;\nCOM=;\n; x\n", "COM4", "COM=3;\nCOM=4;\r\n; x\n", "COM4"},
        {"; only a comment", "COM2", "; only a comment\r\nCOM=2;\r\n", "COM2"},
        {"; c\r\n", "COM2", "; c\r\nCOM=2;\r\n", "COM2"},
        {"", "COM4", "COM=4;\r\n", "COM4"},
        {std::nullopt, "COM4", "COM=4;\r\n", "COM4"},
        {"COM=1;\r\n", "12", "COM=12;\r\n", "COM12"},
        {"COM=1;\r\n", "COMX1", "COM=X1;\r\n", "COMX1"},
    };
    for (const Case& c : cases) {
        fs::remove(file());
        if (c.before) {
            writeBytes(file(), *c.before);
        }
        PortFile portFile(file());
        EXPECT_TRUE(portFile.store(c.port)) << c.after;
        EXPECT_EQ(readBytes(file()), c.after);
        EXPECT_EQ(portFile.read().portText, c.readBack);
        EXPECT_EQ(entries().size(), 1u) << "no temporary file is left behind";
    }
}

TEST_F(PortFileTest, StoreRefusesPortTextsThatWouldNotReadBack) {
    writeBytes(file(), "COM=5;\r\n");
    PortFile portFile(file());
    for (const char* port : {"COM", "", "COM1;", "COM1\r\nCOM=2;", "COM\n"}) {
        EXPECT_FALSE(portFile.store(port)) << port;
    }
    EXPECT_EQ(readBytes(file()), "COM=5;\r\n");
}

// The reader used to count bytes in 16 bits.
TEST_F(PortFileTest, LongFilesAreReadAndStoredWhole) {
    const std::string comment = "; " + std::string(97, '-') + "\r\n";  // 101 bytes
    struct Case {
        std::size_t commentLines;
        std::string portLine;
        std::string port;
    };
    const Case cases[] = {
        {650, "COM=8;\r\n", "COM8"},                         // port line beyond byte 65,535
        {10'500, "COM=9;\r\n", "COM9"},                      // about 1 MiB
        {0, "COM=7;" + std::string(1u << 20, 'x'), "COM7"},  // one line of 1 MiB
    };
    for (const Case& c : cases) {
        std::string comments;
        for (std::size_t i = 0; i < c.commentLines; ++i) {
            comments += comment;
        }
        ASSERT_GT(comments.size() + c.portLine.size(), 65'535u);
        writeBytes(file(), comments + c.portLine);

        PortFile portFile(file());
        EXPECT_EQ(portFile.read().portText, c.port);
        ASSERT_TRUE(portFile.store("COM21"));
        EXPECT_EQ(portFile.read().portText, "COM21");
        // Compared as a flag: a failure must not print a megabyte.
        EXPECT_TRUE(readBytes(file()) == comments + "COM=21;\r\n") << c.port;
    }
}

TEST_F(PortFileTest, AnInterruptedStoreLeavesTheOldOrTheNewFile) {
    const std::string old = "; port\r\nCOM=12;\r\n";
    struct Case {
        StoreStep step;
        StepOutcome outcome;
        std::string expectedPort;
    };
    const Case cases[] = {
        {StoreStep::CreateTemporary, StepOutcome::Crash, "COM12"},
        {StoreStep::WriteTemporary, StepOutcome::Crash, "COM12"},
        {StoreStep::SyncTemporary, StepOutcome::Crash, "COM12"},
        {StoreStep::Replace, StepOutcome::Crash, "COM12"},
        {StoreStep::SyncDirectory, StepOutcome::Crash, "COM3"},
        {StoreStep::CreateTemporary, StepOutcome::Fail, "COM12"},
        {StoreStep::WriteTemporary, StepOutcome::Fail, "COM12"},
        {StoreStep::SyncTemporary, StepOutcome::Fail, "COM12"},
        {StoreStep::Replace, StepOutcome::Fail, "COM12"},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_dir);
        fs::create_directory(m_dir);
        writeBytes(file(), old);
        PortFile interrupted(file(), [&c](StoreStep step) {
            return step == c.step ? c.outcome : StepOutcome::Proceed;
        });
        const bool stored = interrupted.store("COM3");
        const auto trace = ::testing::Message() << "step " << static_cast<int>(c.step)
                                                << " outcome " << static_cast<int>(c.outcome);

        EXPECT_FALSE(stored) << trace;
        EXPECT_EQ(PortFile(file()).read().portText, c.expectedPort) << trace;
        if (c.expectedPort == "COM12") {
            EXPECT_EQ(readBytes(file()), old) << trace;
        }
        if (c.outcome == StepOutcome::Fail) {
            EXPECT_EQ(entries().size(), 1u) << trace << ": a failed store cleans up";
        }
        // Whatever a crash left behind, the next run stores normally.
        EXPECT_TRUE(PortFile(file()).store("COM4")) << trace;
        EXPECT_EQ(readBytes(file()), "; port\r\nCOM=4;\r\n") << trace;
    }
}

TEST_F(PortFileTest, UnusableLocationsNeitherThrowNorWrite) {
    // A directory under the file's name: present but unreadable as a file.
    fs::create_directory(file());
    PortFile directory(file());
    const auto result = directory.read();
    EXPECT_EQ(result.portText, "COM1");
    EXPECT_FALSE(result.defaultWritten);
    EXPECT_EQ(result.problem, file() + " is not a regular file");
    EXPECT_FALSE(directory.store("COM3"));
    EXPECT_TRUE(fs::is_directory(file()));

    PortFile nowhere((m_dir / "missing" / "quennet.ini").string());
    const auto missing = nowhere.read();
    EXPECT_EQ(missing.portText, "COM1");
    EXPECT_TRUE(missing.writeFailed);
    EXPECT_EQ(missing.problem, "") << "a missing file is no problem to report";
    EXPECT_FALSE(nowhere.store("COM3"));
}

TEST_F(PortFileTest, StoreKeepsTheLinkAndThePermissions) {
    const std::string real = file("real.ini");
    writeBytes(real, "; shared\r\nCOM=1;\r\n");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, file());

    ASSERT_TRUE(PortFile(file()).store("COM6"));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(readBytes(real), "; shared\r\nCOM=6;\r\n");
    EXPECT_EQ(fs::status(real).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

namespace {

/// Runs `f`, which must not wait on the FIFO at `fifo`. If it still runs after a generous
/// deadline, a writer is opened and closed on the FIFO so that a reader stuck in open() or
/// read() sees its end, and the test fails instead of hanging.
template <typename T>
T withoutWaitingOn(const std::string& fifo, std::function<T()> f) {
    auto pending = std::async(std::launch::async, std::move(f));
    if (pending.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "waited on the FIFO " << fifo;
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    return pending.get();
}

}  // namespace

// A FIFO under the file's name held up start-up in open() before the window appeared, and a
// rename over it would have taken the name away from whoever made it.
TEST_F(PortFileTest, NonRegularFilesAreReportedAndLeftAlone) {
    const std::string fifo = file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(file("directory"));
    fs::create_symlink(fifo, file("link-to-fifo"));
    const struct {
        const char* name;
        fs::file_type type;
    } cases[] = {
        {"fifo", fs::file_type::fifo},
        {"link-to-fifo", fs::file_type::fifo},
        {"directory", fs::file_type::directory},
    };
    for (const auto& c : cases) {
        const std::string path = file(c.name);
        const auto result = withoutWaitingOn<orvale::app::PortFileReadResult>(
            fifo, [&] { return PortFile(path).read(); });
        EXPECT_EQ(result.portText, "COM1") << c.name;
        EXPECT_EQ(result.problem, path + " is not a regular file");
        EXPECT_FALSE(result.defaultWritten || result.fallbackStored || result.writeFailed)
            << c.name;
        EXPECT_FALSE(withoutWaitingOn<bool>(fifo, [&] { return PortFile(path).store("COM3"); }))
            << c.name;
        EXPECT_EQ(fs::status(path).type(), c.type) << c.name;
        EXPECT_EQ(entries().size(), 3u) << c.name << ": nothing written beside it";
    }
}

// Reading is capped: a runaway file is reported, never read whole into memory at start-up.
TEST_F(PortFileTest, FilesOverTheSizeLimitAreNotRead) {
    const std::string contents = "; bench\r\nCOM=7;\r\n";
    const struct {
        std::uintmax_t size;  // the rest is a hole of zero bytes
        bool read;
    } cases[] = {
        {contents.size(), true},
        {orvale::app::kPortFileSizeLimit, true},
        {orvale::app::kPortFileSizeLimit + 1, false},
        {std::uintmax_t{1} << 32, false},  // 4 GiB: its size does not fit 32 bits
        {(std::uintmax_t{1} << 32) + 16, false},
    };
    for (const auto& c : cases) {
        writeBytes(file(), contents);
        ASSERT_EQ(::truncate(file().c_str(), static_cast<off_t>(c.size)), 0) << c.size;

        PortFile portFile(file());
        const auto result = portFile.read();
        EXPECT_EQ(result.portText, c.read ? "COM7" : "COM1") << c.size;
        EXPECT_EQ(result.problem, c.read ? "" : file() + " is larger than 4 MiB") << c.size;
        EXPECT_FALSE(result.defaultWritten || result.fallbackStored || result.writeFailed)
            << c.size;
        if (!c.read) {
            EXPECT_FALSE(portFile.store("COM3")) << c.size;
            EXPECT_EQ(fs::file_size(file()), c.size) << "left as it was";
        }
    }
}

namespace orvale::app {
namespace {

TEST(PortFileTemporaries, AReadRemovesWhatAKilledStoreLeftBehindAndNothingElse) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("orvale-tmp-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path ini = dir / "quennet.ini";
    {
        std::ofstream(ini, std::ios::binary) << "COM=4;\r\n";
        // A process that no longer exists, and this one (a store in progress).
        std::ofstream(dir / "quennet.ini.999999999.0.tmp") << "COM=";
        std::ofstream(dir / ("quennet.ini." + std::to_string(::getpid()) + ".7.tmp")) << "COM=";
        std::ofstream(dir / "quennet.ini.notes.tmp") << "mine";
        std::ofstream(dir / "other.ini.999999999.0.tmp") << "COM=";
    }
    PortFile file(ini.string());
    EXPECT_EQ(file.read().portText, "COM4");
    EXPECT_FALSE(fs::exists(dir / "quennet.ini.999999999.0.tmp"));
    EXPECT_TRUE(fs::exists(dir / ("quennet.ini." + std::to_string(::getpid()) + ".7.tmp")));
    EXPECT_TRUE(fs::exists(dir / "quennet.ini.notes.tmp"));
    EXPECT_TRUE(fs::exists(dir / "other.ini.999999999.0.tmp"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace orvale::app
