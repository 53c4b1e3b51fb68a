// fms_dump: the FMS frames a device sends at one control position, as a candump log (for
// canplayer, log2asc, python-can) or as a Vector ASC file.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fms/can_log.h"
#include "fms/encoder.h"
#include "link/protocol.h"
#include "model/presentation.h"

namespace {

using namespace orvale;

constexpr std::string_view kUsage =
    "Usage: fms_dump [options]\n"
    "Prints the FMS frames a device sends at one control position.\n"
    "  --position P         control position 0 to 255 (default 80)\n"
    "  --product M          product ID 0 to 255 (default 15, Quennet Duo Plus)\n"
    "  --clock hh:mm:ss     the device's time of day, sent in TD (default: not sent)\n"
    "  --vin-style S        Variable (default) or Fixed\n"
    "  --serial N           serial number, the end of a fixed VIN (default 0)\n"
    "  --format F           candump (default) or asc\n"
    "  --seconds S          S seconds of traffic, each group at its period\n"
    "                       (default 0: each group once)\n"
    "  --start T            time of the first frame in seconds since the epoch\n"
    "                       (default 1700000000)\n"
    "  --interface I        interface named in candump lines (default can0)\n";

struct Options {
    std::uint8_t position = 80;
    std::uint8_t productId = 15;
    std::string_view clock;
    std::string_view vinStyle = "Variable";
    std::uint32_t serial = 0;
    bool asc = false;
    std::uint64_t seconds = 0;
    std::uint64_t startSeconds = 1700000000;
    std::string_view interface = "can0";
};

template <typename T>
bool parseNumber(std::string_view text, T max, T& out) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value > max) return false;
    out = static_cast<T>(value);
    return true;
}

[[noreturn]] void refuse(std::string_view message) {
    std::fprintf(stderr, "fms_dump: %.*s\n%.*s", static_cast<int>(message.size()), message.data(),
                 static_cast<int>(kUsage.size()), kUsage.data());
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            std::exit(0);
        }
        if (i + 1 == argc) refuse("missing value for " + std::string(name));
        const std::string_view value = argv[++i];
        bool ok = true;
        if (name == "--position") {
            ok = parseNumber<std::uint8_t>(value, 255, o.position);
        } else if (name == "--product") {
            ok = parseNumber<std::uint8_t>(value, 255, o.productId);
        } else if (name == "--clock") {
            o.clock = value;
            ok = fms::parseClock(value).has_value();
        } else if (name == "--vin-style") {
            o.vinStyle = value;
            ok = value == "Variable" || value == "Fixed";
        } else if (name == "--serial") {
            ok = parseNumber<std::uint32_t>(value, UINT32_MAX, o.serial);
        } else if (name == "--format") {
            o.asc = value == "asc";
            ok = value == "asc" || value == "candump";
        } else if (name == "--seconds") {
            ok = parseNumber<std::uint64_t>(value, 86400, o.seconds);
        } else if (name == "--start") {
            ok = parseNumber<std::uint64_t>(value, 100000000000, o.startSeconds);
        } else if (name == "--interface") {
            o.interface = value;
            ok = !value.empty() && value.find(' ') == std::string_view::npos;
        } else {
            refuse("unknown option " + std::string(name));
        }
        if (!ok) refuse("bad value for " + std::string(name) + ": " + std::string(value));
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    const std::string_view productText = link::modelName(o.productId).value_or("");

    model::VinBuffer vin;
    model::Presentation shown;
    const model::PresentationInputs inputs{productText, o.serial, o.vinStyle, o.clock};
    const model::RawParameters raw = model::computeRawParameters(o.position, o.productId);
    model::present(raw, o.position, o.productId, inputs, vin, shown);

    fms::EncodedFrames encoded;
    fms::encode(fms::deviceStateOf(raw, o.productId, shown, model::swVersionFor(productText),
                                   fms::parseClock(o.clock)),
                encoded);

    const std::uint64_t startMs = o.startSeconds * 1000;
    std::string out;
    if (o.asc) fms::appendAscHeader(out, startMs * 1000);
    for (const fms::TimedFrame& t : fms::schedule(encoded, startMs, o.seconds * 1000)) {
        if (o.asc) {
            fms::appendAscLine(out, t.frame, (t.timeMs - startMs) * 1000);
        } else {
            fms::appendCandumpLine(out, t.frame, t.timeMs * 1000, o.interface);
        }
    }
    if (o.asc) fms::appendAscFooter(out);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
