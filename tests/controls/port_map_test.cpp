#include "controls/port_map.h"

#include <gtest/gtest.h>

namespace orvale::controls {
namespace {

TEST(PortMap, DefaultsAndMappings) {
    PortMap ports;
#ifndef Q_OS_WIN
    EXPECT_EQ(ports.devicePath(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(ports.devicePath(40), QStringLiteral("/dev/ttyS39"));
#endif
    ports.map(3, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(ports.devicePath(3), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_TRUE(ports.isMapped(3));
    EXPECT_FALSE(ports.isMapped(4));
}

TEST(PortMap, ParsesPortOptions) {
    const struct {
        const char* text;
        int number;  // 0: refused
        const char* path;
    } cases[] = {
        {"COM1=/dev/ttyUSB0", 1, "/dev/ttyUSB0"},
        {"com12=/dev/serial/by-id/usb-FTDI-if00-port0", 12,
         "/dev/serial/by-id/usb-FTDI-if00-port0"},
        {"COM50=/tmp/a=b", 50, "/tmp/a=b"},
        {"COM51=/dev/ttyUSB0", 0, ""},
        {"COM0=/dev/ttyUSB0", 0, ""},
        {"COMX=/dev/ttyUSB0", 0, ""},
        {"/dev/ttyUSB0", 0, ""},
        {"COM2=", 0, ""},
        {"PORT2=/dev/ttyUSB0", 0, ""},
    };
    for (const auto& c : cases) {
        QString error;
        const auto parsed = PortMap::parseMapping(QString::fromUtf8(c.text), &error);
        if (c.number == 0) {
            EXPECT_FALSE(parsed) << c.text;
            EXPECT_FALSE(error.isEmpty()) << c.text;
        } else {
            ASSERT_TRUE(parsed) << c.text << ": " << error.toStdString();
            EXPECT_EQ(parsed->first, c.number);
            EXPECT_EQ(parsed->second, QString::fromUtf8(c.path));
        }
    }
}

}  // namespace
}  // namespace orvale::controls
