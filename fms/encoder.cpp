#include "fms/encoder.h"

#include <algorithm>
#include <array>

namespace orvale::fms {
namespace {

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

// A text box's content without its "*" (and without anything a stray "*" would leave behind).
constexpr std::string_view contentOf(std::string_view box) noexcept {
    return box.substr(0, box.find('*'));
}

// "04.04" goes on the bus as the four digits "0404"; the dot is the box's.
std::optional<std::uint32_t> versionWord(std::string_view text) noexcept {
    std::array<char, 4> digits{};
    std::size_t n = 0;
    for (const char c : text) {
        if (c == '.') continue;
        if (n == digits.size()) return std::nullopt;
        digits[n++] = c;
    }
    if (n != digits.size()) return std::nullopt;
    std::uint32_t word = 0;
    for (std::size_t i = digits.size(); i-- > 0;) {
        word = (word << 8) | static_cast<std::uint8_t>(digits[i]);
    }
    return word;
}

void packField(std::uint64_t& word, const Field& f, const DeviceState& state) noexcept {
    std::optional<std::uint32_t> value;
    if (f.kind == FieldKind::kVersion) {
        value = versionWord(f.text(state));
    } else {
        value = f.number(state);
    }
    if (!value) return;
    for (std::uint8_t c = 0; c < f.copies; ++c) {
        pack(word, {static_cast<std::uint8_t>(f.bits.start + c * f.stride), f.bits.length}, *value);
    }
}

CanFrame frameOf(std::uint32_t id, std::uint64_t word) noexcept {
    return {id, 8, toBytes(word), true};
}

void encodeSingle(const DeviceState& state, std::size_t g, std::uint32_t id, EncodedFrames& out) {
    std::uint64_t word = kAllOnes;
    const FieldRange range = kFieldsOfGroup[g];
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        if (isSent(i, state.productId)) packField(word, kFields[i], state);
    }
    out.frames.push_back(frameOf(id, word));
}

// One frame per field: each selector value carries one display (an axle location, a block).
void encodeSelected(const DeviceState& state, std::size_t g, std::uint32_t id, EncodedFrames& out) {
    const Group& group = kGroups[g];
    const FieldRange range = kFieldsOfGroup[g];
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        if (!isSent(i, state.productId)) continue;
        std::uint64_t word = kAllOnes;
        pack(word, {group.selectorStart, group.selectorLength}, kFields[i].selector);
        packField(word, kFields[i], state);
        out.frames.push_back(frameOf(id, word));
    }
}

// Returns the spacing the frames need: the BAM packet gap, or 0 for a single frame.
std::uint32_t encodeTexts(const DeviceState& state, std::size_t g, EncodedFrames& out) {
    std::array<std::uint8_t, kMaxTransportPayload> payload{};
    std::size_t size = 0;
    const FieldRange range = kFieldsOfGroup[g];
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        if (!isSent(i, state.productId)) continue;
        const std::string_view content = contentOf(kFields[i].text(state));
        if (size + content.size() + 1 > payload.size()) return 0;
        std::copy_n(content.data(), content.size(), payload.data() + size);
        size += content.size();
        payload[size++] = '*';
    }

    const choice::GroupChoice& c = choice::kGroups[g];
    if (size <= 8) {
        CanFrame frame{makeId(c.priority, kGroups[g].pgn, c.sourceAddress)};
        std::copy_n(payload.data(), size, frame.data.data());
        frame.dlc = choice::kPadShortPayloads ? std::uint8_t{8} : static_cast<std::uint8_t>(size);
        out.frames.push_back(frame);
        return 0;
    }

    const std::uint32_t pgn = kGroups[g].pgn;
    const auto packets = static_cast<std::uint8_t>((size + kBytesPerPacket - 1) / kBytesPerPacket);
    CanFrame announce{
        makeId(choice::kTransportPriority, kTpCmPgn | kGlobalAddress, c.sourceAddress)};
    announce.data = {kBamControl,
                     static_cast<std::uint8_t>(size & 0xFFU),
                     static_cast<std::uint8_t>(size >> 8),
                     packets,
                     0xFF,
                     static_cast<std::uint8_t>(pgn & 0xFFU),
                     static_cast<std::uint8_t>((pgn >> 8) & 0xFFU),
                     static_cast<std::uint8_t>(pgn >> 16)};
    out.frames.push_back(announce);
    const std::uint32_t dataId =
        makeId(choice::kTransportPriority, kTpDtPgn | kGlobalAddress, c.sourceAddress);
    for (std::size_t p = 0; p < packets; ++p) {
        CanFrame packet{dataId};
        packet.data[0] = static_cast<std::uint8_t>(p + 1);
        const std::size_t from = p * kBytesPerPacket;
        const std::size_t n = std::min(kBytesPerPacket, size - from);
        std::copy_n(payload.data() + from, n, packet.data.data() + 1);
        out.frames.push_back(packet);
    }
    return choice::kBamPacketSpacingMs;
}

bool groupIsSent(std::size_t g, std::uint8_t productId) noexcept {
    const FieldRange range = kFieldsOfGroup[g];
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        if (isSent(i, productId)) return true;
    }
    return false;
}

constexpr bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

void encode(const DeviceState& state, EncodedFrames& out) {
    out.frames.clear();
    out.groups.clear();
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        if (!groupIsSent(g, state.productId)) continue;
        const choice::GroupChoice& c = choice::kGroups[g];
        GroupFrames set{static_cast<GroupId>(g), c.periodMs, 0,
                        static_cast<std::uint16_t>(out.frames.size()), 0};
        const std::uint32_t id = makeId(c.priority, kGroups[g].pgn, c.sourceAddress);
        switch (kGroups[g].layout) {
            case Layout::kSingle:
                encodeSingle(state, g, id, out);
                break;
            case Layout::kSelector:
                encodeSelected(state, g, id, out);
                break;
            case Layout::kMultiPacket:
                set.spacingMs = encodeTexts(state, g, out);
                break;
        }
        set.count = static_cast<std::uint16_t>(out.frames.size() - set.first);
        if (set.count != 0) out.groups.push_back(set);
    }
}

std::optional<ClockTime> parseClock(std::string_view text) noexcept {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
    std::array<std::uint8_t, 3> parts{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const char high = text[i * 3];
        const char low = text[i * 3 + 1];
        if (!isDigit(high) || !isDigit(low)) return std::nullopt;
        parts[i] = static_cast<std::uint8_t>((high - '0') * 10 + (low - '0'));
    }
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    return ClockTime{parts[0], parts[1], parts[2]};
}

DeviceState deviceStateOf(const model::RawParameters& raw, std::uint8_t productId,
                          const model::Presentation& shown, std::string_view swVersion,
                          std::optional<ClockTime> clock) noexcept {
    const auto textOf = [&shown](model::ControlId id) {
        const model::TextValue* box = shown.findText(id);
        return box != nullptr ? box->text() : std::string_view{};
    };
    DeviceState state;
    state.raw = raw;
    state.productId = productId;
    state.vin = textOf(model::control::kVehicleIdentificationNumber);
    state.driver1Id = textOf(model::control::kDriver1Id);
    state.driver2Id = textOf(model::control::kDriver2Id);
    state.swVersion = swVersion;
    state.clock = clock;
    return state;
}

std::vector<TimedFrame> schedule(const EncodedFrames& encoded, std::uint64_t startMs,
                                 std::uint64_t durationMs) {
    std::vector<TimedFrame> out;
    for (const GroupFrames& g : encoded.groups) {
        for (std::uint64_t at = startMs; at == startMs || at < startMs + durationMs;
             at += g.periodMs) {
            std::uint64_t t = at;
            for (const CanFrame& frame : encoded.framesOf(g)) {
                out.push_back({t, frame});
                t += g.spacingMs;
            }
            if (g.periodMs == 0) break;
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const TimedFrame& a, const TimedFrame& b) { return a.timeMs < b.timeMs; });
    return out;
}

}  // namespace orvale::fms
