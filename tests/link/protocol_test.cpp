#include "link/protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace orvale::link {
namespace {

TEST(HexPair, EncodesLowNibbleFirst) {
    const struct {
        std::uint8_t value;
        const char* pair;
    } cases[] = {{0, "00"},    {11, "B0"},  {50, "23"}, {100, "46"},
                 {0x3C, "C3"}, {255, "FF"}, {176, "0B"}};
    for (const auto& c : cases) {
        const auto pair = encodeHexPair(c.value);
        EXPECT_EQ(std::string(pair.data(), 2), c.pair) << int(c.value);
        EXPECT_EQ(decodeHexPair(c.pair[0], c.pair[1]), c.value) << c.pair;
    }
}

TEST(HexPair, DecodesEveryByteBack) {
    for (int v = 0; v < 256; ++v) {
        const auto pair = encodeHexPair(static_cast<std::uint8_t>(v));
        EXPECT_EQ(decodeHexPair(pair[0], pair[1]), v);
    }
}

TEST(HexPair, NonHexCharactersDecodeByTheDeviceArithmetic) {
    // A low "G" adds 16 ("G" - 55); a high "G" is (71 + 9) * 16 = 1280, low 8 bits 0.
    EXPECT_EQ(decodeHexPair('G', '0'), 16);
    EXPECT_EQ(decodeHexPair('0', 'G'), 0);
    EXPECT_EQ(decodeHexPair(' ', '0'), static_cast<std::uint8_t>(32 - 48));
}

TEST(Checksum, GoldenFramesSumToZero) {
    EXPECT_TRUE(checksumGood("ACK IDB0930300002012\r\n", 18));
    EXPECT_TRUE(checksumGood("BRC %S2320AC\r\n", 10));
    EXPECT_TRUE(checksumGood("BRC CLKC0220E3E\r\n", 13));
    EXPECT_FALSE(checksumGood("ACK IDB0930300002013\r\n", 18));
    EXPECT_FALSE(checksumGood("BRC %S2320AD\r\n", 10));
    EXPECT_FALSE(checksumGood("BRC %S", 10)) << "too short to hold a checksum";
}

TEST(Commands, MatchTheDeviceManual) {
    const struct {
        std::string built;
        std::string wire;
    } cases[] = {
        {identifyCommand(), "AT ID?\r\n"},
        {keyCommand(Key::Down), "AT KI1065\r\n"},
        {keyCommand(Key::Up), "AT KI2055\r\n"},
        {keyCommand(Key::Dynamic), "AT KI2505\r\n"},
        {keyCommand(Key::Quiet), "AT KI3405\r\n"},
        {positionCommand(0), "AT %006C\r\n"},
        {positionCommand(50), "AT %231C\r\n"},
        {positionCommand(100), "AT %46CB\r\n"},
        {canBaudRateCommand("500K bps"), "AT CBRS=03\r\n"},
        {canBaudRateCommand("250K bps"), "AT CBRS=00\r\n"},
        {canBaudRateCommand("62.5K bps"), "AT CBRS=01\r\n"},
        {canBaudRateCommand("125K bps"), "AT CBRS=02\r\n"},
        {canBaudRateCommand("1M bps"), "AT CBRS=04\r\n"},
        {canBaudRateCommand("invalid"), "AT CBRS=00\r\n"},
        {canBaudRateCommand(""), "AT CBRS=00\r\n"},
        {vinStyleCommand("Fixed"), "AT VIN=1\r\n"},
        {vinStyleCommand("Variable"), "AT VIN=0\r\n"},
        {vinStyleCommand("fixed"), "AT VIN=0\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, c.wire);
    }
}

TEST(Commands, ChecksummedCommandsVerify) {
    for (int v = 0; v < 256; ++v) {
        const auto position = positionCommand(static_cast<std::uint8_t>(v));
        ASSERT_EQ(position.size(), 10u);
        EXPECT_TRUE(checksumGood(position, 6));
        const auto key = keyCommand(static_cast<std::uint8_t>(v));
        ASSERT_EQ(key.size(), 11u);
        EXPECT_TRUE(checksumGood(key, 7));
    }
}

TEST(Names, ModelsRatesAndStyles) {
    EXPECT_EQ(modelName(8), "Quennet Basic");
    EXPECT_EQ(modelName(11), "Quennet Truck Plus");
    EXPECT_EQ(modelName(15), "Quennet Duo Plus");
    EXPECT_FALSE(modelName(7));
    EXPECT_FALSE(modelName(16));
    EXPECT_EQ(canBaudRateText(1), "62.5K bps");
    EXPECT_EQ(canBaudRateText(5), "invalid");
    EXPECT_EQ(canBaudRateText(-1), "invalid");
    EXPECT_EQ(vinStyleText('1'), "Fixed");
    EXPECT_EQ(vinStyleText('0'), "Variable");
    EXPECT_FALSE(vinStyleText('2'));
}

TEST(FirmwareVersionText, KeepsTheLeadingCharacterBelow100) {
    const auto text = [](std::uint16_t n, char rev, char prev = ' ') {
        const auto t = firmwareVersionText(n, rev, prev);
        return std::string(t.data(), t.size());
    };
    EXPECT_EQ(text(3, 'B'), " 0.3B");
    EXPECT_EQ(text(100, 'A'), "10.0A");
    EXPECT_EQ(text(256, 'C'), "25.6C");
    EXPECT_EQ(text(42, 'C', '7'), "74.2C") << "hundreds position left as it stood";
}

TEST(Frames, DecodeTheGoldenExamples) {
    const Identity id = decodeIdentity("ACK IDB0930300002012\r\n");
    EXPECT_EQ(id.productId, 11);
    EXPECT_EQ(id.serialNumber, 12345u);
    EXPECT_EQ(id.versionByte + 1, 3);

    const PositionStatus ps = decodePositionStatus("BRC %S2320AC\r\n");
    EXPECT_EQ(ps.position, 50);
    EXPECT_EQ(ps.status, 2);

    const ClockTime clock = decodeClock("BRC CLKC0220E3E\r\n");
    EXPECT_EQ(clockText(clock), "12:34:56");
    EXPECT_EQ(clockText({12, 34, 225}), "12:34:56");
}

TEST(DeviceFrames, RoundTripThroughTheDecoders) {
    EXPECT_EQ(device::identityAnswer({11, 12345, 2}), "ACK IDB0930300002012\r\n");
    EXPECT_EQ(device::positionStatusBroadcast({50, 2}), "BRC %S2320AC\r\n");
    EXPECT_EQ(device::clockBroadcast({12, 34, 224}), "BRC CLKC0220E3E\r\n");
    EXPECT_EQ(device::canBaudRateAnswer(3), "ACK CBRS=03\r\n");
    EXPECT_EQ(device::revisionAnswer('B'), "ACK REVB\r\n");
    EXPECT_EQ(device::vinStyleAnswer('1'), "ACK VIN=1\r\n");
    const auto build = device::buildAnswer("Jan 07 2019 12:00:00");
    EXPECT_EQ(build.size(), frame_length::kBuild);
    const Identity big = decodeIdentity(device::identityAnswer({15, 0xDEADBEEF, 255}));
    EXPECT_EQ(big.serialNumber, 0xDEADBEEFu);
    EXPECT_EQ(big.versionByte, 255);
}

}  // namespace
}  // namespace orvale::link
