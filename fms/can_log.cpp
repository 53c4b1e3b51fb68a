#include "fms/can_log.h"

#include <array>
#include <chrono>
#include <cstdio>

namespace orvale::fms {
namespace {

constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                    '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

void appendHex(std::string& out, std::uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out.push_back(kHex[(value >> (4 * i)) & 0xFU]);
    }
}

constexpr int hexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::uint32_t> parseHex(std::string_view text) noexcept {
    std::uint32_t value = 0;
    for (const char c : text) {
        const int v = hexValue(c);
        if (v < 0) return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(v);
    }
    return value;
}

std::optional<std::uint64_t> parseDecimal(std::string_view text) noexcept {
    // 19 digits always fit 64 bits.
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

constexpr std::size_t kStandardIdDigits = 3;
constexpr std::size_t kExtendedIdDigits = 8;
constexpr std::uint32_t kStandardIdMask = 0x7FF;
constexpr std::uint64_t kMicrosPerSecond = 1000000;

// "Tue Nov 14 10:13:20.123 pm 2023", the way Vector's loggers date a measurement (in UTC here,
// so that the same frames always give the same file).
std::string ascDate(std::uint64_t timeUs) {
    using namespace std::chrono;
    const sys_time<microseconds> t{microseconds{timeUs}};
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss hms{floor<milliseconds>(t - day)};
    constexpr std::array<const char*, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto hour = static_cast<unsigned>(hms.hours().count());
    std::array<char, 48> text{};
    std::snprintf(
        text.data(), text.size(), "%s %s %02u %02u:%02u:%02u.%03u %s %d",
        kDays[weekday{day}.c_encoding()], kMonths[unsigned{ymd.month()} - 1], unsigned{ymd.day()},
        hour % 12 == 0 ? 12 : hour % 12, static_cast<unsigned>(hms.minutes().count()),
        static_cast<unsigned>(hms.seconds().count()),
        static_cast<unsigned>(hms.subseconds().count()), hour < 12 ? "am" : "pm", int{ymd.year()});
    return text.data();
}

void appendSeconds(std::string& out, std::uint64_t timeUs, int width) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%*llu.%06llu", width,
                  static_cast<unsigned long long>(timeUs / kMicrosPerSecond),
                  static_cast<unsigned long long>(timeUs % kMicrosPerSecond));
    out += text.data();
}

}  // namespace

void appendCandumpLine(std::string& out, const CanFrame& frame, std::uint64_t timeUs,
                       std::string_view interface) {
    out.push_back('(');
    appendSeconds(out, timeUs, 1);
    out += ") ";
    out += interface;
    out.push_back(' ');
    if (frame.extended) {
        appendHex(out, frame.id & kExtendedIdMask, kExtendedIdDigits);
    } else {
        appendHex(out, frame.id & kStandardIdMask, kStandardIdDigits);
    }
    out.push_back('#');
    const std::size_t length = std::min<std::size_t>(frame.dlc, frame.data.size());
    for (std::size_t i = 0; i < length; ++i) appendHex(out, frame.data[i], 2);
    out.push_back('\n');
}

std::optional<LogLine> parseCandumpLine(std::string_view line) noexcept {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' ||
                             line.back() == '\t')) {
        line.remove_suffix(1);
    }
    // (seconds.micro) interface id#data
    if (line.empty() || line.front() != '(') return std::nullopt;
    const std::size_t close = line.find(") ");
    const std::size_t dot = line.find('.');
    if (close == std::string_view::npos || dot == std::string_view::npos || dot > close ||
        close - dot - 1 != 6) {
        return std::nullopt;
    }
    const auto seconds = parseDecimal(line.substr(1, dot - 1));
    const auto micros = parseDecimal(line.substr(dot + 1, 6));
    if (!seconds || !micros || *seconds > UINT64_MAX / kMicrosPerSecond - 1) return std::nullopt;

    LogLine out;
    out.timeUs = *seconds * kMicrosPerSecond + *micros;
    const std::string_view rest = line.substr(close + 2);
    const std::size_t blank = rest.find(' ');
    if (blank == 0 || blank == std::string_view::npos) return std::nullopt;
    out.interface = rest.substr(0, blank);
    const std::string_view frameText = rest.substr(blank + 1);
    const std::size_t hash = frameText.find('#');
    if (hash == std::string_view::npos) return std::nullopt;
    const std::string_view idText = frameText.substr(0, hash);
    const std::string_view dataText = frameText.substr(hash + 1);
    if (idText.size() != kStandardIdDigits && idText.size() != kExtendedIdDigits) {
        return std::nullopt;
    }
    const auto id = parseHex(idText);
    out.frame.extended = idText.size() == kExtendedIdDigits;
    if (!id || *id > (out.frame.extended ? kExtendedIdMask : kStandardIdMask)) {
        return std::nullopt;
    }
    out.frame.id = *id;
    // Remote ("R") and CAN FD ("#") frames fail here: they are no classic data frames.
    if (dataText.size() % 2 != 0 || dataText.size() > 2 * out.frame.data.size()) {
        return std::nullopt;
    }
    out.frame.dlc = static_cast<std::uint8_t>(dataText.size() / 2);
    for (std::size_t i = 0; i < out.frame.dlc; ++i) {
        const auto byte = parseHex(dataText.substr(2 * i, 2));
        if (!byte) return std::nullopt;
        out.frame.data[i] = static_cast<std::uint8_t>(*byte);
    }
    return out;
}

void appendAscHeader(std::string& out, std::uint64_t startUs) {
    const std::string date = ascDate(startUs);
    out += "date " + date + "\n";
    out += "base hex  timestamps absolute\n";
    out += "internal events logged\n";
    out += "Begin Triggerblock " + date + "\n";
    appendSeconds(out, 0, 4);
    out += " Start of measurement\n";
}

void appendAscLine(std::string& out, const CanFrame& frame, std::uint64_t sinceStartUs,
                   unsigned channel) {
    appendSeconds(out, sinceStartUs, 4);
    // Vector's loggers write the ID without leading zeros, "x" marking an extended one.
    const std::uint32_t value = frame.id & (frame.extended ? kExtendedIdMask : kStandardIdMask);
    int digits = 1;
    while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
    std::string id;
    appendHex(id, value, digits);
    if (frame.extended) id.push_back('x');
    const std::size_t length = std::min<std::size_t>(frame.dlc, frame.data.size());
    std::array<char, 64> head{};
    std::snprintf(head.data(), head.size(), " %u  %-15s Rx   d %zu", channel, id.c_str(), length);
    out += head.data();
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(' ');
        appendHex(out, frame.data[i], 2);
    }
    out.push_back('\n');
}

void appendAscFooter(std::string& out) { out += "End TriggerBlock\n"; }

}  // namespace orvale::fms
