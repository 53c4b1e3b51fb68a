#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "bus/bus_check.h"
#include "bus/expected_state.h"
#include "fms/encoder.h"
#include "session/device_session.h"
#include "tests/fms/fms_test_support.h"

namespace orvale::bus::test {

// A device at a position, its displays as the session holds them, and the expectation of it.
struct Shown {
    explicit Shown(std::uint8_t position, std::uint8_t product = 15,
                   std::string_view clock = "12:34:56")
        : device(position, product, clock) {
        for (std::size_t i = 0; i < displays.numbers.size(); ++i) {
            displays.numbers[i] = device.shown.numbers[i].value;
        }
        for (std::size_t i = 0; i < displays.leds.size(); ++i) {
            displays.leds[i] = device.shown.leds[i].lit;
        }
        for (std::size_t i = 0; i < displays.texts.size(); ++i) {
            displays.texts[i] = device.shown.texts[i].text();
        }
        expectation = expectationOf(position, product, displays);
    }
    fms::test::Device device;
    session::Displays displays;
    Expectation expectation;
};

inline std::vector<fms::TimedFrame> traffic(const Expectation& sent, std::uint64_t fromMs,
                                            std::uint64_t durationMs) {
    fms::EncodedFrames encoded;
    fms::encode(sent.deviceState(), encoded);
    return fms::schedule(encoded, fromMs, durationMs);
}

inline void feed(BusCheck& check, const std::vector<fms::TimedFrame>& frames) {
    for (const fms::TimedFrame& t : frames) check.onFrame(t.frame, t.timeMs);
}

}  // namespace orvale::bus::test
