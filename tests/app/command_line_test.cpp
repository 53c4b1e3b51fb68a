#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QtGlobal>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/version.h"

namespace orvale::app {
namespace {

ParseResult parse(std::vector<std::string> args) { return parseCommandLine(args); }

// What --version prints: the project's version, the release the window names, Qt's version.
std::string expectedVersion() {
    return "Orvale " + std::string(kVersion) + " (Ver. 1.00A, Build: 01072019-01) Qt " +
           qVersion() + "\n";
}

TEST(CommandLine, GoodCommandLines) {
    const ParseResult none = parse({});
    ASSERT_TRUE(none.options);
    EXPECT_TRUE(none.options->ports.empty());
    EXPECT_FALSE(none.options->simulate);

    const ParseResult ports = parse({"--port", "COM1=/dev/ttyUSB0",
                                     "--port=com12=/dev/serial/by-id/usb-x", "--log", "drive.csv"});
    ASSERT_TRUE(ports.options) << ports.output;
    ASSERT_EQ(ports.options->ports.size(), 2u);
    EXPECT_EQ(ports.options->ports[0], (std::pair<int, std::string>{1, "/dev/ttyUSB0"}));
    EXPECT_EQ(ports.options->ports[1],
              (std::pair<int, std::string>{12, "/dev/serial/by-id/usb-x"}));
    EXPECT_EQ(ports.options->logPath, "drive.csv");

    const ParseResult sim = parse({"--simulate=model=13,serial=42,firmware=0.3C"});
    ASSERT_TRUE(sim.options && sim.options->simulate) << sim.output;
    EXPECT_EQ(sim.options->simulate->productId, 13);
    EXPECT_EQ(sim.options->simulate->serialNumber, 42u);
    EXPECT_EQ(sim.options->simulate->versionByte, 2);
    EXPECT_EQ(sim.options->simulate->revision, 'C');

    const ParseResult plain = parse({"--simulate"});
    ASSERT_TRUE(plain.options && plain.options->simulate);
    EXPECT_EQ(plain.options->simulate->productId, 15) << "a Duo Plus unless told otherwise";
}

TEST(CommandLine, HelpAndVersionExitZero) {
    const ParseResult help = parse({"--help"});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--port", "--simulate", "--log", "--help", "--version"}) {
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    }
    const ParseResult version = parse({"--port", "COM1=/x", "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, expectedVersion());
}

TEST(CommandLine, VersionIsTheProjectsThreePartNumber) {
    // A version.h made without the project's version would say "Orvale  (" or "@...@".
    EXPECT_TRUE(std::regex_match(std::string(kVersion), std::regex(R"(\d+\.\d+\.\d+)")))
        << kVersion;
    EXPECT_EQ(versionLine("6.4.2"),
              "Orvale " + std::string(kVersion) + " (Ver. 1.00A, Build: 01072019-01) Qt 6.4.2");
}

TEST(CommandLine, HelpListsTheModelsAndSaysThatLogReplacesAFile) {
    const std::string help = parse({"--help"}).output;
    EXPECT_NE(help.find("  15  Quennet Duo Plus      remote-controllable"), std::string::npos)
        << help;
    EXPECT_NE(help.find("replacing the file if it exists"), std::string::npos) << help;
}

// A simulated device the window will not work with is accepted (it is a test case), with one
// line on standard error that says what the window will show.
TEST(CommandLine, AnUnusualSimulatedDeviceIsAcceptedWithANotice) {
    const struct {
        std::vector<std::string> args;
        std::string notice;
    } cases[] = {
        {{}, ""},
        {{"--simulate"}, ""},
        {{"--simulate=model=8"}, ""},
        {{"--simulate=model=20"},
         "Orvale: the simulated device reports product ID 20, which Orvale shows as \"Wrong "
         "ID\" and drops\n"},
        {{"--simulate=model=10,firmware=0.3A"},
         "Orvale: the simulated Quennet Truck reports firmware 0.3A: Orvale shows its identity "
         "only, with the message that it needs 0.3B or 0.3C\n"},
        {{"--simulate=firmware=1.2c"},
         "Orvale: the simulated Quennet Duo Plus reports firmware 1.2C: Orvale shows its "
         "identity only, with the message that it needs 0.3B or 0.3C\n"},
    };
    for (const auto& c : cases) {
        const ParseResult result = parseCommandLine(c.args);
        const std::string line = c.args.empty() ? "(none)" : c.args[0];
        ASSERT_TRUE(result.options) << line << ": " << result.output;
        EXPECT_EQ(result.exitCode, 0) << line;
        EXPECT_EQ(result.notice, c.notice) << line;
    }
}

TEST(CommandLine, MalformedCommandLinesExitTwoWithAReason) {
    const struct {
        std::vector<std::string> args;
        const char* reasonContains;
    } cases[] = {
        {{"--frobnicate"}, "unknown option"},
        {{"COM1"}, "unknown option"},
        {{"--port"}, "--port needs"},
        {{"--port", "COM51=/dev/ttyUSB0"}, "1 to 50"},
        {{"--port", "COM0=/dev/ttyUSB0"}, "1 to 50"},
        {{"--port", "/dev/ttyUSB0"}, "COM<n>=<device path>"},
        {{"--port", "COM3="}, "no device path"},
        {{"--simulate=model=300"}, "model="},
        {{"--simulate=serial=-1"}, "serial="},
        {{"--simulate=serial=99999999999"}, "serial="},
        {{"--simulate=firmware=3"}, "firmware="},
        {{"--simulate=colour=red"}, "colour=red"},
        {{"--log"}, "--log needs"},
        {{"--log="}, "--log needs"},
        // Single-dash options that are not Qt's, and Qt's written as Qt would not read them.
        {{"-frobnicate"}, "unknown option \"-frobnicate\""},
        {{"-p", "offscreen"}, "unknown option \"-p\""},
        {{"---platform", "offscreen"}, "unknown option"},
        {{"-platformx", "offscreen"}, "unknown option"},
        {{"-platform"}, "-platform needs a value"},
        {{"-reverse", "-style"}, "-style needs a value"},
        {{"-platform=offscreen"}, "takes no \"=\""},
        {{"-reverse=yes"}, "takes no \"=\""},
    };
    for (const auto& c : cases) {
        const ParseResult result = parseCommandLine(c.args);
        EXPECT_FALSE(result.options) << c.args[0];
        EXPECT_EQ(result.exitCode, 2) << c.args[0];
        EXPECT_NE(result.output.find(c.reasonContains), std::string::npos)
            << c.args[0] << ": " << result.output;
    }
}

TEST(CommandLine, QtOptionsArePassedToQtWithTheirValues) {
    // Lines of Qt's options only: Qt receives each of them whole.
    const std::vector<std::string> onlyQt[] = {
        {"-platform", "offscreen"},
        {"--platform", "offscreen"},
        {"-style=Fusion", "-stylesheet=a.qss", "-qmljsdebugger=port:1", "-reverse"},
        {"-nograb", "-dograb", "-sync", "-cmap", "-widgetcount", "-testability"},
        {"-display", ":1", "-name", "bench", "-title", "Orvale", "-visual", "TrueColor", "-ncols",
         "16", "-im", "ibus", "-inputstyle", "onthespot", "-fontengine", "freetype"},
        {"-qwindowgeometry", "1x1", "-qwindowtitle", "t", "-qwindowicon", "i.png", "-icon", "j"},
        {"-platformpluginpath", "/p", "-platformtheme", "gtk3", "-plugin", "tslib", "-session",
         "s1", "-qmljsdebugger", "port:1", "-geometry", "800x600+0+0"},
        // Qt takes the next argument as the value whatever it looks like; so do we.
        {"-style", "--version"},
        {"-title", "-reverse"},
    };
    for (const auto& args : onlyQt) {
        const ParseResult result = parseCommandLine(args);
        ASSERT_TRUE(result.options) << args[0] << ": " << result.output;
        EXPECT_EQ(result.options->qtArguments, args) << args[0];
    }

    const ParseResult mixed =
        parse({"-style", "Fusion", "--log", "-reverse", "-geometry", "1x1", "--port=COM2=/x"});
    ASSERT_TRUE(mixed.options) << mixed.output;
    EXPECT_EQ(mixed.options->qtArguments,
              (std::vector<std::string>{"-style", "Fusion", "-geometry", "1x1"}))
        << "a value of ours is never one of Qt's options";
    EXPECT_EQ(mixed.options->logPath, "-reverse");
    EXPECT_EQ(mixed.options->ports.size(), 1u);
}

TEST(CommandLine, QtOptionsLeaveHelpAndVersionWorking) {
    const ParseResult version = parse({"-platform", "offscreen", "-reverse", "--version"});
    EXPECT_FALSE(version.options);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, expectedVersion());

    const ParseResult help = parse({"-style", "Fusion", "--help"});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Qt's own options (-platform, -style, -geometry ...) are passed "
                               "to Qt."),
              std::string::npos)
        << help.output;
}

// QSerialPort opens a name without a leading "/" under /dev, so "COM1=ttyUSB0" opened
// /dev/ttyUSB0 and the error named that.
TEST(CommandLine, RelativePortPathsAreResolvedAgainstTheWorkingDirectory) {
    const struct {
        const char* port;
        const char* path;
    } cases[] = {
        {"COM1=ttyUSB0", "/home/lea/bench/ttyUSB0"},
        {"COM1=./dev/pty", "/home/lea/bench/dev/pty"},
        {"COM1=../lab/pty0", "/home/lea/lab/pty0"},
        {"COM1=a//b/./c/../d", "/home/lea/bench/a/b/d"},
        {"COM1=.", "/home/lea/bench/"},
        {"COM1=/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"COM1=/tmp/../dev/./ttyS0", "/tmp/../dev/./ttyS0"},  // absolute: kept as given
    };
    for (const auto& c : cases) {
        const std::vector<std::string> args{"--port", c.port};
        const ParseResult result = parseCommandLine(args, "/home/lea/bench");
        ASSERT_TRUE(result.options) << c.port << ": " << result.output;
        ASSERT_EQ(result.options->ports.size(), 1u);
        EXPECT_EQ(result.options->ports[0].second, c.path) << c.port;
    }

    const ParseResult here = parse({"--port=COM2=pty"});
    ASSERT_TRUE(here.options) << here.output;
    EXPECT_EQ(here.options->ports[0].second,
              (std::filesystem::current_path() / "pty").lexically_normal().string())
        << "without a directory given, the process's own";
}

}  // namespace
}  // namespace orvale::app
