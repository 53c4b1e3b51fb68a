// The simulated device's CAN side without a bus: what its frames depend on, the control lines
// and options that set its bus faults.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fms/fms_test_support.h"
#include "sim/control_channel.h"
#include "sim/device_bus.h"
#include "sim/pty_device.h"
#include "sim/sim_options.h"

namespace orvale::sim {
namespace {

std::vector<std::string> describedFrames(const BusInputs& in) {
    fms::EncodedFrames out;
    encodeBusFrames(in, out);
    return fms::test::describe(out.frames);
}

BusInputs basicInputs() {
    BusInputs in;
    in.position = 37;
    in.productId = 15;
    in.serialNumber = 4242;
    in.vinStyle = '0';
    in.canBaudCode = 0;
    in.clockText = "08:15:00";
    return in;
}

TEST(DeviceBus, TheFramesAreThoseOfTheWindowsEvaluation) {
    struct Case {
        std::uint8_t position;
        std::uint8_t product;
        char vinStyle;
        std::string_view vinStyleText;
    };
    const Case cases[] = {
        {0, 15, '0', "Variable"},   {5, 15, '0', "Variable"}, {64, 15, '1', "Fixed"},
        {100, 11, '0', "Variable"}, {50, 8, '1', "Fixed"},    {20, 13, '0', "Variable"},
    };
    for (const Case& c : cases) {
        BusInputs in = basicInputs();
        in.position = c.position;
        in.productId = c.product;
        in.vinStyle = c.vinStyle;
        const fms::test::Device device(c.position, c.product, in.clockText, c.vinStyleText,
                                       in.serialNumber);
        fms::EncodedFrames expected;
        fms::encode(device.state, expected);
        EXPECT_EQ(describedFrames(in), fms::test::describe(expected.frames))
            << "position " << +c.position << ", product " << +c.product;
    }
}

TEST(DeviceBus, EveryInputButTheBaudRateChangesTheFrames) {
    const std::vector<std::string> base = describedFrames(basicInputs());
    struct Case {
        std::string_view what;
        std::function<void(BusInputs&)> change;
        bool changesFrames;
    };
    const Case cases[] = {
        {"position", [](BusInputs& in) { in.position = 38; }, true},
        {"product", [](BusInputs& in) { in.productId = 11; }, true},
        {"a product Orvale does not know", [](BusInputs& in) { in.productId = 20; }, true},
        {"VIN style", [](BusInputs& in) { in.vinStyle = '1'; }, true},
        {"clock", [](BusInputs& in) { in.clockText = "08:15:01"; }, true},
        {"a bus fault", [](BusInputs& in) { in.faults.silencedGroup = fms::GroupId::kAmb; }, true},
        {"CAN baud rate", [](BusInputs& in) { in.canBaudCode = 1; }, false},
        // The VIN shows the serial number only in the fixed style.
        {"serial number while Variable", [](BusInputs& in) { in.serialNumber = 1; }, false},
        {"serial number while Fixed",
         [](BusInputs& in) {
             in.vinStyle = '1';
             in.serialNumber = 1;
         },
         true},
    };
    for (const Case& c : cases) {
        BusInputs in = basicInputs();
        c.change(in);
        EXPECT_NE(in, basicInputs()) << c.what;
        EXPECT_EQ(describedFrames(in) != base, c.changesFrames) << c.what;
    }
    EXPECT_EQ(bitrateOfBaudCode(0), 250'000U);
    EXPECT_EQ(bitrateOfBaudCode(1), 62'500U);
    EXPECT_EQ(bitrateOfBaudCode(3), 500'000U);
    EXPECT_EQ(bitrateOfBaudCode(4), 1'000'000U);
    EXPECT_EQ(bitrateOfBaudCode(5), std::nullopt);
}

TEST(DeviceBus, TheClockIsReadWithoutMovingTheDevice) {
    DeviceConfig config;
    config.broadcastRate = 0;
    config.clockStartMs = ((23 * 60 + 59) * 60 + 59) * 1000;
    QuennetDevice device(config);
    EXPECT_EQ(link::clockText(device.clockAt(5000)), "23:59:59") << "before the first tick";
    device.transmit(1000);
    EXPECT_EQ(link::clockText(device.clockAt(1999)), "23:59:59");
    EXPECT_EQ(link::clockText(device.clockAt(2000)), "00:00:00");
    EXPECT_EQ(link::clockText(device.clockAt(2000 + 3'600'000)), "01:00:00");
    EXPECT_EQ(link::clockText(device.clock()), "23:59:59") << "the device has not moved";
}

TEST(DeviceBus, ThePtyDevicesInputsFollowItsStateAndFaults) {
    DeviceConfig config;
    config.productId = 13;
    config.serialNumber = 777;
    config.canBaudCode = 3;
    PtyDevice device(config);
    BusInputs in = device.busInputs();
    EXPECT_EQ(in.productId, 13);
    EXPECT_EQ(in.serialNumber, 777U);
    EXPECT_EQ(in.canBaudCode, 3);
    EXPECT_EQ(in.clockText.size(), 8U);

    device.setPosition(88);
    EXPECT_EQ(device.busInputs().position, 88);
    ASSERT_EQ(applyControlLine(device, "wrong-id 9"), "");
    EXPECT_EQ(device.busInputs().productId, 9) << "the ID the device identifies with";
    ASSERT_EQ(applyControlLine(device, "can-silence EEC2"), "");
    EXPECT_EQ(device.busInputs().faults.silencedGroup, fms::GroupId::kEec2);
}

TEST(ControlLine, CanFaults) {
    PtyDevice device;
    struct Case {
        std::string_view line;
        std::function<bool(const CanFaults&)> holds;
    };
    const Case cases[] = {
        {"can-wrong Engine speed",
         [](const CanFaults& f) { return f.wrongDisplay == model::control::kEngineSpeed; }},
        {"can-wrong   vehicle identification NUMBER ",
         [](const CanFaults& f) {
             return f.wrongDisplay == model::control::kVehicleIdentificationNumber;
         }},
        {"can-wrong 1017",
         [](const CanFaults& f) { return f.wrongDisplay == model::control::kParkingLed; }},
        {"can-wrong off", [](const CanFaults& f) { return !f.wrongDisplay; }},
        {"can-silence EEC1",
         [](const CanFaults& f) { return f.silencedGroup == fms::GroupId::kEec1; }},
        {"can-silence 0xFEEC",
         [](const CanFaults& f) { return f.silencedGroup == fms::GroupId::kVi; }},
        {"can-silence off", [](const CanFaults& f) { return !f.silencedGroup; }},
        {"can-drop-packet VI 2",
         [](const CanFaults& f) {
             return f.droppedPacket == DroppedPacket{fms::GroupId::kVi, 2};
         }},
        {"can-drop-packet di 255",
         [](const CanFaults& f) {
             return f.droppedPacket == DroppedPacket{fms::GroupId::kDi, 255};
         }},
        {"can-drop-packet off", [](const CanFaults& f) { return !f.droppedPacket; }},
        {"can-extra 4000", [](const CanFaults& f) { return f.extraPerSecond == 4000; }},
        {"can-extra off", [](const CanFaults& f) { return f.extraPerSecond == 0; }},
        {"can-extra 20000", [](const CanFaults& f) { return f.extraPerSecond == 20000; }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(applyControlLine(device, c.line), "") << c.line;
        EXPECT_TRUE(c.holds(device.canFaults())) << c.line;
    }

    ASSERT_EQ(applyControlLine(device, "can-wrong Fuel Rate"), "");
    const CanFaults before = device.canFaults();
    const std::string_view refused[] = {
        "can-wrong",
        "can-wrong PTO State",
        "can-wrong Warp drive",
        "can-wrong 1000",
        "can-silence",
        "can-silence TP",
        "can-silence EEC1 EEC2",
        "can-drop-packet EEC1 2",
        "can-drop-packet VI 0",
        "can-drop-packet VI 256",
        "can-drop-packet VI",
        "can-drop-packet VI x",
        "can-extra 20001",
        "can-extra -1",
        "can-extra x",
        "can-volume 3",
        "CAN-EXTRA 5",
    };
    for (const std::string_view line : refused) {
        EXPECT_NE(applyControlLine(device, line), "") << line;
    }
    EXPECT_EQ(device.canFaults(), before);
}

TEST(SimOptions, CanInterfaceAndExtraTraffic) {
    const auto parse = [](std::vector<std::string_view> args) { return parseOptions(args); };
    struct Good {
        std::vector<std::string_view> args;
        bus::CanTarget target;
        std::uint32_t extra;
    };
    const Good good[] = {
        {{"--can", "virtualcan:can0"}, {"virtualcan", "can0", std::nullopt}, 0},
        {{"--can=socketcan:vcan0,bitrate=500000"}, {"socketcan", "vcan0", 500'000}, 0},
        {{"--can-extra", "4000", "--can", "virtualcan:can1"}, {"virtualcan", "can1", {}}, 4000},
    };
    for (const Good& g : good) {
        const ParsedOptions parsed = parse(g.args);
        ASSERT_TRUE(parsed.options) << g.args[0] << ": " << parsed.error;
        EXPECT_EQ(parsed.options->can, g.target);
        EXPECT_EQ(parsed.options->canFaults.extraPerSecond, g.extra);
    }
    EXPECT_FALSE(parse({"--model", "15"}).options->can) << "no CAN unless asked";

    const std::vector<std::vector<std::string_view>> refused = {
        {"--can"},
        {"--can", "can0"},
        {"--can", "virtualcan:can0,bitrate=7"},
        {"--can", "virtualcan:can0,speed=250000"},
        {"--can-extra", "5"},
        {"--can", "virtualcan:can0", "--can-extra", "20001"},
        {"--can", "virtualcan:can0", "--can-extra", "x"},
    };
    for (const auto& args : refused) {
        const ParsedOptions parsed = parse(args);
        EXPECT_FALSE(parsed.options) << args.back();
        EXPECT_FALSE(parsed.error.empty()) << args.back();
    }
    EXPECT_NE(usage("quennet-sim").find("--can PLUGIN:INTERFACE"), std::string::npos);
    EXPECT_NE(usage("quennet-sim").find("can-drop-packet GROUP N|off"), std::string::npos);
}

}  // namespace
}  // namespace orvale::sim
