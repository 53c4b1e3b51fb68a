#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvale::app {
namespace {

ParseResult parse(std::vector<std::string> args) { return parseCommandLine(args); }

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
    EXPECT_EQ(version.output, "Orvale Ver. 1.00A, Build: 01072019-01\n");
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
    };
    for (const auto& c : cases) {
        const ParseResult result = parseCommandLine(c.args);
        EXPECT_FALSE(result.options) << c.args[0];
        EXPECT_EQ(result.exitCode, 2) << c.args[0];
        EXPECT_NE(result.output.find(c.reasonContains), std::string::npos)
            << c.args[0] << ": " << result.output;
    }
}

}  // namespace
}  // namespace orvale::app
