#include "bus/can_target.h"

#include <charconv>

#include "link/protocol.h"

namespace orvale::bus {
namespace {

constexpr std::string_view kBitrateKey = "bitrate=";
// Classic CAN runs from 10 kbit/s to 1 Mbit/s; anything else is a typing error.
constexpr std::uint32_t kLowestBitrate = 5'000;
constexpr std::uint32_t kHighestBitrate = 1'000'000;

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == '/';
}

bool isName(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (!isNameChar(c)) return false;
    }
    return true;
}

}  // namespace

std::string CanTarget::text() const {
    std::string out = plugin + ':' + interface;
    if (bitrate) {
        out += ',';
        out += kBitrateKey;
        out += std::to_string(*bitrate);
    }
    return out;
}

std::variant<CanTarget, std::string> parseCanTarget(std::string_view text) {
    const std::string_view format = "expected PLUGIN:INTERFACE[,bitrate=N], e.g. socketcan:can0";
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::string("\"") + std::string(text) + "\": " + std::string(format);
    }
    CanTarget target;
    const std::string_view plugin = text.substr(0, colon);
    std::string_view rest = text.substr(colon + 1);
    const std::size_t comma = rest.find(',');
    const std::string_view interface = rest.substr(0, comma);
    if (!isName(plugin) || !isName(interface)) {
        return std::string("\"") + std::string(text) + "\": " + std::string(format);
    }
    target.plugin = plugin;
    target.interface = interface;
    if (comma != std::string_view::npos) {
        const std::string_view option = rest.substr(comma + 1);
        if (option.substr(0, kBitrateKey.size()) != kBitrateKey) {
            return std::string("\"") + std::string(option) +
                   "\": the only option of a CAN interface is bitrate=N";
        }
        const std::string_view digits = option.substr(kBitrateKey.size());
        std::uint32_t bitrate = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), bitrate);
        if (error != std::errc{} || end != digits.data() + digits.size() ||
            bitrate < kLowestBitrate || bitrate > kHighestBitrate) {
            return std::string("\"") + std::string(digits) +
                   "\": the bitrate is in bits a second, 5000 to 1000000";
        }
        target.bitrate = bitrate;
    }
    return target;
}

std::optional<std::uint32_t> bitrateOfBaudText(std::string_view text) noexcept {
    // In the order of the settings dialog's choices.
    constexpr std::array<std::uint32_t, link::kCanBaudRateChoices.size()> kBitrates{
        250'000, 500'000, 62'500, 125'000, 1'000'000};
    for (std::size_t i = 0; i < kBitrates.size(); ++i) {
        if (link::kCanBaudRateChoices[i] == text) return kBitrates[i];
    }
    return std::nullopt;
}

std::string bitrateText(std::uint32_t bitsPerSecond) {
    if (bitsPerSecond >= 1'000'000 && bitsPerSecond % 1'000'000 == 0) {
        return std::to_string(bitsPerSecond / 1'000'000) + " Mbit/s";
    }
    std::string out = std::to_string(bitsPerSecond / 1000);
    if (const std::uint32_t rest = bitsPerSecond % 1000; rest != 0) {
        std::string fraction = std::to_string(rest + 1000).substr(1);
        while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
        out += '.' + fraction;
    }
    return out + " kbit/s";
}

}  // namespace orvale::bus
