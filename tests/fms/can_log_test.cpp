// candump log lines and ASC files: the exact text, and candump lines read back.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fms/can_log.h"
#include "tests/fms/fms_test_support.h"

namespace orvale::fms {
namespace {

using test::frame;

TEST(FmsCanLog, CandumpLines) {
    CanFrame standard = frame("123: 01 02");
    standard.extended = false;
    struct Case {
        CanFrame frame;
        std::uint64_t timeUs;
        std::string_view line;
    };
    const std::vector<Case> cases = {
        {frame("18FEF100: F3 CC C8 1D FF FF 1F FF"), 1700000000123456,
         "(1700000000.123456) can0 18FEF100#F3CCC81DFFFF1FFF\n"},
        {frame("0CF00400: 00"), 5, "(0.000005) can0 0CF00400#00\n"},
        {frame("1CECFF00:"), 1000000, "(1.000000) can0 1CECFF00#\n"},
        {standard, 999999, "(0.999999) can0 123#0102\n"},
    };
    for (const Case& c : cases) {
        std::string out;
        appendCandumpLine(out, c.frame, c.timeUs, "can0");
        EXPECT_EQ(out, c.line);
        const auto back = parseCandumpLine(out);
        ASSERT_TRUE(back.has_value()) << c.line;
        EXPECT_EQ(back->frame, c.frame) << c.line;
        EXPECT_EQ(back->timeUs, c.timeUs);
        EXPECT_EQ(back->interface, "can0");
    }
}

TEST(FmsCanLog, ParserTakesWhatCandumpWritesAndRefusesTheRest) {
    struct Case {
        std::string_view line;
        bool read;
    };
    const std::vector<Case> cases = {
        {"(1700000000.123456) can0 18FEF100#F3CCC81DFFFF1FFF", true},
        {"(1700000000.123456) can0 18fef100#f3ccc81dffff1fff", true},
        {"(1700000000.123456) can0 18FEF100#F3CCC81DFFFF1FFF\r", true},
        {"(0.000000) can0 7FF#", true},
        {"", false},
        {"# a comment", false},
        {"(1700000000.1234) can0 18FEF100#F3", false},
        {"(1700000000.123456)can0 18FEF100#F3", false},
        {"(1700000000.123456) can0 18FEF100F3", false},
        {"(1700000000.123456) 18FEF100#F3", false},
        {"(1700000000.123456) can0 123#R", false},
        {"(1700000000.123456) can0 123##1F3", false},
        {"(1700000000.123456) can0 18FEF100#F3C", false},
        {"(1700000000.123456) can0 18FEF100#F3CCC81DFFFF1FFF00", false},
        {"(1700000000.123456) can0 18FEF1#F3", false},
        {"(1700000000.123456) can0 800#F3", false},
        {"(1700000000.123456) can0 20000000#F3", false},
        {"(1700000000.123456) can0 18FEF1G0#F3", false},
        {"(1700000000.12345x) can0 18FEF100#F3", false},
        {"(99999999999999999999.123456) can0 18FEF100#F3", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseCandumpLine(c.line).has_value(), c.read) << c.line;
    }
}

TEST(FmsCanLog, AscFile) {
    CanFrame standard = frame("123: 01 02");
    standard.extended = false;
    std::string out;
    appendAscHeader(out, 1700000000123456);
    appendAscLine(out, frame("18FEF100: F3 CC C8 1D FF FF 1F FF"), 123456);
    appendAscLine(out, standard, 61000000, 2);
    appendAscLine(out, frame("1CECFF00:"), 12345678901);
    appendAscLine(out, frame("0CF00400: 00"), 1);
    appendAscFooter(out);
    EXPECT_EQ(out,
              "date Tue Nov 14 10:13:20.123 pm 2023\n"
              "base hex  timestamps absolute\n"
              "internal events logged\n"
              "Begin Triggerblock Tue Nov 14 10:13:20.123 pm 2023\n"
              "   0.000000 Start of measurement\n"
              "   0.123456 1  18FEF100x       Rx   d 8 F3 CC C8 1D FF FF 1F FF\n"
              "  61.000000 2  123             Rx   d 2 01 02\n"
              "12345.678901 1  1CECFF00x       Rx   d 0\n"
              "   0.000001 1  CF00400x        Rx   d 1 00\n"
              "End TriggerBlock\n");
}

TEST(FmsCanLog, AscDateAroundMidnightAndNoon) {
    struct Case {
        std::uint64_t timeUs;
        std::string_view date;
    };
    for (const Case c : {Case{0, "Thu Jan 01 12:00:00.000 am 1970"},
                         Case{43200000000, "Thu Jan 01 12:00:00.000 pm 1970"},
                         Case{951782400999999, "Tue Feb 29 12:00:00.999 am 2000"}}) {
        std::string out;
        appendAscHeader(out, c.timeUs);
        EXPECT_EQ(out.substr(0, out.find('\n')), "date " + std::string(c.date));
    }
}

}  // namespace
}  // namespace orvale::fms
