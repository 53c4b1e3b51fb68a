#include "bus/can_target.h"

#include <gtest/gtest.h>

#include "bus/expected_traffic.h"

namespace orvale::bus {
namespace {

TEST(CanTarget, Parsing) {
    struct Case {
        std::string_view text;
        std::optional<CanTarget> target;  // nothing: refused
    };
    const Case cases[] = {
        {"socketcan:can0", CanTarget{"socketcan", "can0", std::nullopt}},
        {"virtualcan:can1", CanTarget{"virtualcan", "can1", std::nullopt}},
        {"peakcan:usb0,bitrate=250000", CanTarget{"peakcan", "usb0", 250'000}},
        {"socketcan:vcan0,bitrate=1000000", CanTarget{"socketcan", "vcan0", 1'000'000}},
        {"can0", std::nullopt},
        {":can0", std::nullopt},
        {"socketcan:", std::nullopt},
        {"socketcan:can0,", std::nullopt},
        {"socketcan:can0,bitrate=", std::nullopt},
        {"socketcan:can0,bitrate=250k", std::nullopt},
        {"socketcan:can0,bitrate=2000000", std::nullopt},
        {"socketcan:can0,speed=250000", std::nullopt},
        {"socket can:can0", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseCanTarget(c.text);
        if (c.target) {
            ASSERT_TRUE(std::holds_alternative<CanTarget>(parsed)) << std::get<std::string>(parsed);
            EXPECT_EQ(std::get<CanTarget>(parsed), *c.target);
            EXPECT_EQ(std::get<CanTarget>(parsed).text(), c.text);
        } else {
            ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
            EXPECT_NE(std::get<std::string>(parsed).find(c.text.substr(0, 1)), std::string::npos);
        }
    }
}

TEST(CanTarget, DeviceBaudRatesAndTheirTexts) {
    struct Case {
        std::string_view baud;
        std::optional<std::uint32_t> bitrate;
        std::string_view text;
    };
    const Case cases[] = {
        {"250K bps", 250'000, "250 kbit/s"},
        {"500K bps", 500'000, "500 kbit/s"},
        {"62.5K bps", 62'500, "62.5 kbit/s"},
        {"125K bps", 125'000, "125 kbit/s"},
        {"1M bps", 1'000'000, "1 Mbit/s"},
        {"invalid", std::nullopt, ""},
        {"", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        EXPECT_EQ(bitrateOfBaudText(c.baud), c.bitrate);
        if (c.bitrate) {
            EXPECT_EQ(bitrateText(*c.bitrate), c.text);
        }
    }
}

TEST(CanTarget, LogFormatFollowsTheName) {
    EXPECT_EQ(logFormatOf("drive.asc"), LogFormat::Asc);
    EXPECT_EQ(logFormatOf("/tmp/DRIVE.ASC"), LogFormat::Asc);
    EXPECT_EQ(logFormatOf("drive.log"), LogFormat::Candump);
    EXPECT_EQ(logFormatOf("asc"), LogFormat::Candump);
    EXPECT_EQ(logFormatOf("drive.asc.log"), LogFormat::Candump);
}

}  // namespace
}  // namespace orvale::bus
