// Decoding what the encoder sends gives back what the model computed, for every product ID and
// every position. The values are checked against the presentation (its own table of resolutions
// and its code texts), not against the codec's table.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "fms/decoder.h"
#include "fms/encoder.h"
#include "tests/fms/fms_test_support.h"

namespace orvale::fms {
namespace {

using test::Device;

// The code a box spells out: "011=Drive" is 3, "0B0101" is 5, "0x04\n" is 4; requests and
// diagnostics are "not supported", 00.
std::optional<std::uint32_t> shownCode(std::string_view text) {
    if (text == "not supported") return 0;
    if (text.starts_with("0x")) return std::stoul(std::string(text.substr(2, 2)), nullptr, 16);
    std::string_view bits =
        text.starts_with("0B") ? text.substr(2) : text.substr(0, text.find('='));
    if (bits.empty()) return std::nullopt;
    std::uint32_t code = 0;
    for (const char c : bits) {
        if (c != '0' && c != '1') return std::nullopt;
        code = code * 2 + static_cast<std::uint32_t>(c - '0');
    }
    return code;
}

// A field of a group the model does not carry either never arrives or arrives "not available".
bool absentOrNotAvailable(const Decoder& decoder, std::size_t row) {
    const FieldValue& v = decoder.value(row);
    return !v.received || v.raw == maskOf(kFields[row].bits.length);
}

std::string dateShown(const Decoder& d) {
    const auto raw = [&d](DatePart part) {
        return d.value(fieldIndex(model::control::kDateTime, part)).raw;
    };
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04u/%02u/%02u/%02u:%02u:%02u",
                  raw(DatePart::kYear) + 1985, raw(DatePart::kMonth), raw(DatePart::kDay) / 4,
                  raw(DatePart::kHours), raw(DatePart::kMinutes), raw(DatePart::kSeconds) / 4);
    return text.data();
}

void decodeAll(const EncodedFrames& encoded, Decoder& decoder, std::uint64_t startMs) {
    for (const TimedFrame& t : schedule(encoded, startMs, 0)) decoder.onFrame(t.frame, t.timeMs);
}

// Every display of the window, checked against what `device` shows. Returns how many displays
// were checked.
std::size_t expectDecodedAsShown(const Decoder& d, const Device& device, std::uint8_t position) {
    using namespace model::control;
    const std::uint8_t product = device.state.productId;
    std::size_t checked = 0;

    for (const model::NumericValue& shown : device.shown.numbers) {
        const std::size_t row = fieldIndex(shown.id);
        if (isSent(row, product)) {
            // Within a quarter of one raw step: the raw value is the model's exactly.
            EXPECT_NEAR(d.physical(row).value_or(NAN), shown.value, kFields[row].resolution / 4)
                << shown.id;
        } else {
            EXPECT_TRUE(absentOrNotAvailable(d, row)) << shown.id;
        }
        ++checked;
    }
    for (const model::LedValue& led : device.shown.leds) {
        const std::size_t row = fieldIndex(led.id);
        EXPECT_TRUE(d.value(row).received) << led.id;
        EXPECT_EQ(d.value(row).raw, led.lit ? 1U : 0U) << led.id;
        ++checked;
    }
    for (const model::TextValue& box : device.shown.texts) {
        const std::size_t row = fieldIndex(box.id());
        ++checked;
        if (!kFields[row].onBus) {
            EXPECT_FALSE(d.value(row).received) << box.id();
            continue;
        }
        if (!isSent(row, product)) {
            EXPECT_TRUE(absentOrNotAvailable(d, row)) << box.id();
            continue;
        }
        switch (box.id()) {
            case kVehicleIdentificationNumber:
            case kDriver1Id:
            case kDriver2Id:
                EXPECT_EQ(d.text(row), std::optional(box.text())) << box.id();
                break;
            case kSwVersionSupported:
                // Only the Plus models report a version; the others show a blank.
                if (box.text() == " ") {
                    EXPECT_EQ(d.text(row), std::nullopt);
                } else {
                    EXPECT_EQ(d.text(row), std::optional(box.text()));
                }
                break;
            case kDateTime:
                EXPECT_EQ(dateShown(d), box.text());
                break;
            case kSelectedGear:
            case kCurrentGear:
                // The box names park and neutral by position; the byte is the model's.
                EXPECT_EQ(d.value(row).raw, device.raw.gear) << box.id();
                break;
            default: {
                EXPECT_EQ(std::optional(d.value(row).raw), shownCode(box.text()))
                    << box.text() << " at p = " << +position;
            }
        }
    }
    return checked;
}

// Every product ID and every position the device's arithmetic can reach, in shards of 32
// product IDs that CTest runs side by side.
class FmsRoundTrip : public testing::TestWithParam<int> {};

TEST_P(FmsRoundTrip, DecodingTheEncodedFramesGivesBackEveryDisplay) {
    constexpr std::size_t kDisplays =
        model::kNumericDisplayCount + model::kLedCount + model::kTextDisplayCount;
    EncodedFrames encoded;
    Decoder decoder;
    for (int product = GetParam(); product < GetParam() + 32; ++product) {
        for (int position = 0; position <= 255; ++position) {
            const Device device(static_cast<std::uint8_t>(position),
                                static_cast<std::uint8_t>(product));
            encode(device.state, encoded);
            decoder.reset();
            decodeAll(encoded, decoder, 1000);
            EXPECT_EQ(expectDecodedAsShown(decoder, device, static_cast<std::uint8_t>(position)),
                      kDisplays);
            const DecoderCounters& c = decoder.counters();
            EXPECT_EQ(c.frames, encoded.frames.size());
            EXPECT_EQ(c.unknownPgn + c.shortFrames + c.bamDropped, 0U);
            EXPECT_EQ(c.bamCompleted, c.bamAnnounced);
            if (testing::Test::HasFailure()) {
                ADD_FAILURE() << "at product " << product << ", p = " << position;
                return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ProductIds, FmsRoundTrip, testing::Range(0, 256, 32),
                         [](const testing::TestParamInfo<int>& shard) {
                             return "From" + std::to_string(shard.param);
                         });

// Priority and source address differ from vehicle to vehicle: the same data under other IDs
// decodes the same.
TEST(FmsDecoderMatching, FramesAreMatchedByPgnWhateverPriorityAndSourceAddress) {
    const Device device(80, 15);
    EncodedFrames encoded;
    encode(device.state, encoded);
    Decoder expected;
    decodeAll(encoded, expected, 0);

    for (const std::uint32_t priority : {0U, 3U, 6U, 7U}) {
        for (const std::uint32_t addressXor : {0x01U, 0x5AU, 0xFEU}) {
            SCOPED_TRACE(testing::Message() << "priority " << priority << ", xor " << addressXor);
            EncodedFrames other = encoded;
            for (CanFrame& f : other.frames) {
                const std::uint32_t pgnBits = f.id & 0x03FFFF00U;
                const std::uint32_t sa = sourceAddressOf(f.id) ^ addressXor;
                f.id = (priority << 26) | pgnBits | sa;
            }
            Decoder decoder;
            decodeAll(other, decoder, 0);
            for (std::size_t row = 0; row < kFieldCount; ++row) {
                EXPECT_EQ(decoder.value(row).received, expected.value(row).received) << row;
                EXPECT_EQ(decoder.value(row).raw, expected.value(row).raw) << row;
                EXPECT_EQ(decoder.text(row), expected.text(row)) << row;
            }
            EXPECT_EQ(decoder.counters(), expected.counters());
        }
    }
}

}  // namespace
}  // namespace orvale::fms
