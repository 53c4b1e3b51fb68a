#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fms/can_frame.h"
#include "fms/encoder.h"
#include "link/protocol.h"
#include "model/presentation.h"

namespace orvale::fms::test {

/// A device at one position: the model's raw set, the boxes its presentation shows, and the
/// state the encoder takes, pointing into those boxes.
struct Device {
    explicit Device(std::uint8_t position, std::uint8_t product = 15,
                    std::string_view clock = "12:34:56", std::string_view vinStyle = "Variable",
                    std::uint32_t serial = 0)
        : productText(link::modelName(product).value_or("")),
          raw(model::computeRawParameters(position, product)) {
        const model::PresentationInputs inputs{productText, serial, vinStyle, clock};
        model::present(raw, position, product, inputs, vin, shown);
        state =
            deviceStateOf(raw, product, shown, model::swVersionFor(productText), parseClock(clock));
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::string_view productText;
    model::RawParameters raw;
    model::VinBuffer vin;
    model::Presentation shown;
    DeviceState state;
};

/// "18FEF100: F3 CC C8 1D FF FF 1F FF" (an ID, a colon and the data bytes) as an extended frame.
inline CanFrame frame(std::string_view text) {
    CanFrame f;
    const auto colon = text.find(':');
    f.id = static_cast<std::uint32_t>(std::stoul(std::string(text.substr(0, colon)), nullptr, 16));
    f.dlc = 0;
    for (std::size_t at = colon + 1; at < text.size();) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        f.data[f.dlc++] =
            static_cast<std::uint8_t>(std::stoul(std::string(text.substr(at, 2)), nullptr, 16));
        at += 2;
    }
    return f;
}

/// The same, for messages: "ID: bytes" and its DLC in a readable form.
inline std::string describe(const CanFrame& f) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 7; i >= 0; --i) out.push_back(kHex[(f.id >> (4 * i)) & 0xFU]);
    out += ":";
    for (std::size_t i = 0; i < f.dlc && i < f.data.size(); ++i) {
        out += ' ';
        out.push_back(kHex[f.data[i] >> 4]);
        out.push_back(kHex[f.data[i] & 0xFU]);
    }
    return out;
}

inline std::vector<std::string> describe(std::span<const CanFrame> frames) {
    std::vector<std::string> out;
    for (const CanFrame& f : frames) out.push_back(describe(f));
    return out;
}

}  // namespace orvale::fms::test
