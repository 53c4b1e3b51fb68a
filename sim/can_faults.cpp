#include "sim/can_faults.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <span>

#include "fms/bit_field.h"
#include "fms/fields.h"
#include "fms/groups.h"

namespace orvale::sim {
namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<std::uint32_t> numberOf(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool hasBusField(model::ControlId id) {
    return std::any_of(fms::kFields.begin(), fms::kFields.end(),
                       [id](const fms::Field& f) { return f.display == id && f.onBus; });
}

template <std::size_t N>
std::optional<model::ControlId> findDisplay(const std::array<model::DisplayEntry, N>& table,
                                            std::string_view labelOrId,
                                            std::optional<std::uint32_t> number) {
    for (const model::DisplayEntry& e : table) {
        if (number ? e.id == static_cast<model::ControlId>(*number)
                   : sameLetters(e.label, labelOrId)) {
            return e.id;
        }
    }
    return std::nullopt;
}

// Largest raw value a field of `length` bits carries as a plain value: below "error" and "not
// available" for states, up to 0xFA in the top byte for 8 bits and more.
constexpr std::uint32_t largestPlain(std::uint8_t length) noexcept {
    if (length < 2) return 1;
    if (length < 8) return (1U << length) - 3U;
    const unsigned lowBits = 8U * ((length + 7U) / 8U - 1U);
    return (0xFAU << lowBits) | ((1U << lowBits) - 1U);
}

// SW-version is four ASCII digits: its last one moves on, "not available" becomes "0000".
std::uint32_t otherVersion(std::uint32_t raw) noexcept {
    if (raw == 0xFFFFFFFFU) return 0x30303030U;
    const auto last = static_cast<char>(raw >> 24U);
    const char changed = last >= '0' && last < '9' ? static_cast<char>(last + 1) : '0';
    return (raw & 0x00FFFFFFU) | (std::uint32_t{static_cast<std::uint8_t>(changed)} << 24U);
}

bool isTextDisplay(model::ControlId id) {
    return id == model::control::kVehicleIdentificationNumber || id == model::control::kDriver1Id ||
           id == model::control::kDriver2Id;
}

// The number, state and version fields of `display` in the frames of group `g`, changed.
void spoilFields(std::size_t g, model::ControlId display, std::uint8_t productId,
                 std::span<fms::CanFrame> frames) {
    const fms::Group& group = fms::kGroups[g];
    const fms::FieldRange range = fms::kFieldsOfGroup[g];
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        const fms::Field& f = fms::kFields[i];
        if (f.display != display || f.kind == fms::FieldKind::kText || !fms::isSent(i, productId)) {
            continue;
        }
        for (fms::CanFrame& frame : frames) {
            std::uint64_t word = fms::toWord(frame.data);
            if (group.layout == fms::Layout::kSelector &&
                fms::unpack(word, {group.selectorStart, group.selectorLength}) != f.selector) {
                continue;
            }
            const std::uint32_t raw = fms::unpack(word, f.bits);
            const std::uint32_t wrong = f.kind == fms::FieldKind::kVersion
                                            ? otherVersion(raw)
                                            : otherPlainValue(raw, f.bits.length);
            for (std::uint8_t c = 0; c < f.copies; ++c) {
                fms::pack(word,
                          {static_cast<std::uint8_t>(f.bits.start + c * f.stride), f.bits.length},
                          wrong);
            }
            frame.data = fms::toBytes(word);
        }
    }
}

const fms::GroupFrames* groupIn(const fms::EncodedFrames& frames, fms::GroupId id) {
    const auto it = std::find_if(frames.groups.begin(), frames.groups.end(),
                                 [id](const fms::GroupFrames& g) { return g.group == id; });
    return it == frames.groups.end() ? nullptr : &*it;
}

// Frames of other nodes: a second engine and a body controller at addresses no FMS group of
// the device uses, with some of the device's PGNs and some it never sends.
struct ExtraTemplate {
    std::uint8_t priority;
    std::uint32_t pgn;
    std::uint8_t sourceAddress;
};
constexpr std::array<ExtraTemplate, 8> kExtraTemplates{{
    {3, 0xF004, 0x42},  // EEC1
    {6, 0xFEF1, 0x42},  // CCVS1
    {6, 0xFEF6, 0x42},  // IC1: never sent by the device
    {3, 0xFE6C, 0x51},  // TCO1
    {6, 0xFECA, 0x51},  // DM1: never sent
    {6, 0xEAFF, 0x6A},  // a request to everyone for the VIN
    {6, 0xFEF7, 0x6A},  // VEP1: never sent
    {6, 0xFEFC, 0x6A},  // DD1
}};
constexpr std::uint32_t kRequestPgn = 0xEA00;
// A stalled caller gets at most this much traffic at once.
constexpr std::uint64_t kMostElapsedMs = 100;

}  // namespace

std::optional<model::ControlId> busDisplayOfName(std::string_view labelOrId) {
    // A label never starts with a digit: such a name is a control ID.
    std::optional<std::uint32_t> number;
    if (!labelOrId.empty() && std::isdigit(static_cast<unsigned char>(labelOrId[0])) != 0) {
        number = numberOf(labelOrId);
        if (!number) return std::nullopt;
    }
    std::optional<model::ControlId> id = findDisplay(model::kNumericDisplays, labelOrId, number);
    if (!id) id = findDisplay(model::kLeds, labelOrId, number);
    if (!id) id = findDisplay(model::kTextDisplays, labelOrId, number);
    if (!id || !hasBusField(*id)) return std::nullopt;
    return id;
}

std::optional<fms::GroupId> groupOfName(std::string_view nameOrPgn) {
    for (std::size_t i = 0; i < fms::kGroups.size(); ++i) {
        if (sameLetters(fms::kGroups[i].name, nameOrPgn)) return static_cast<fms::GroupId>(i);
    }
    if (const auto pgn = numberOf(nameOrPgn)) {
        if (const std::size_t i = fms::groupOfPgn(*pgn); i != fms::kGroupCount) {
            return static_cast<fms::GroupId>(i);
        }
    }
    return std::nullopt;
}

bool isMultiPacket(fms::GroupId group) noexcept {
    return fms::kGroups[fms::indexOf(group)].layout == fms::Layout::kMultiPacket;
}

std::uint32_t otherPlainValue(std::uint32_t raw, std::uint8_t length) noexcept {
    const std::uint32_t largest = largestPlain(length);
    if (raw > largest) return 0;
    const std::uint32_t flipped = raw ^ 1U;
    return flipped <= largest ? flipped : raw - 1U;
}

std::string otherText(std::string_view box) {
    std::string content(box.substr(0, box.find('*')));
    if (content.empty()) return "0*";
    char& c = content.back();
    if (c >= '0' && c <= '9') {
        c = c == '9' ? '0' : static_cast<char>(c + 1);
    } else if (c >= 'A' && c <= 'Z') {
        c = c == 'Z' ? 'A' : static_cast<char>(c + 1);
    } else if (c >= 'a' && c <= 'z') {
        c = c == 'z' ? 'a' : static_cast<char>(c + 1);
    } else {
        c = '0';
    }
    return content + '*';
}

void applyCanFaults(const CanFaults& faults, const fms::DeviceState& state,
                    fms::EncodedFrames& frames) {
    if (!faults.wrongDisplay && !faults.silencedGroup && !faults.droppedPacket) return;

    // A wrong text is encoded afresh: a text of another length may need another number of
    // packets, or a broadcast instead of one frame.
    std::string wrongText;
    fms::EncodedFrames withWrongText;
    std::optional<fms::GroupId> textGroup;
    if (faults.wrongDisplay && isTextDisplay(*faults.wrongDisplay)) {
        fms::DeviceState changed = state;
        switch (*faults.wrongDisplay) {
            case model::control::kVehicleIdentificationNumber:
                wrongText = otherText(state.vin);
                changed.vin = wrongText;
                textGroup = fms::GroupId::kVi;
                break;
            case model::control::kDriver1Id:
                wrongText = otherText(state.driver1Id);
                changed.driver1Id = wrongText;
                textGroup = fms::GroupId::kDi;
                break;
            default:
                wrongText = otherText(state.driver2Id);
                changed.driver2Id = wrongText;
                textGroup = fms::GroupId::kDi;
                break;
        }
        fms::encode(changed, withWrongText);
    }

    fms::EncodedFrames out;
    out.frames.reserve(frames.frames.size() + 8);
    for (const fms::GroupFrames& original : frames.groups) {
        if (faults.silencedGroup == original.group) continue;
        const fms::GroupFrames* from = &original;
        const fms::EncodedFrames* source = &frames;
        if (textGroup == original.group) {
            from = groupIn(withWrongText, original.group);
            source = &withWrongText;
            if (from == nullptr) continue;
        }
        fms::GroupFrames set = *from;
        const std::size_t first = out.frames.size();
        const auto sent = source->framesOf(*from);
        out.frames.insert(out.frames.end(), sent.begin(), sent.end());

        const std::size_t g = fms::indexOf(set.group);
        if (faults.wrongDisplay) {
            spoilFields(g, *faults.wrongDisplay, state.productId,
                        std::span<fms::CanFrame>(out.frames).subspan(first));
        }
        if (faults.droppedPacket && faults.droppedPacket->group == set.group &&
            out.frames.size() > first && fms::pgnOf(out.frames[first].id) == fms::kTpCmPgn) {
            const std::uint8_t packet = faults.droppedPacket->packet;
            const auto begin = out.frames.begin() + static_cast<std::ptrdiff_t>(first);
            out.frames.erase(std::remove_if(begin, out.frames.end(),
                                            [packet](const fms::CanFrame& f) {
                                                return fms::pgnOf(f.id) == fms::kTpDtPgn &&
                                                       f.data[0] == packet;
                                            }),
                             out.frames.end());
        }
        set.first = static_cast<std::uint16_t>(first);
        set.count = static_cast<std::uint16_t>(out.frames.size() - first);
        if (set.count != 0) out.groups.push_back(set);
    }
    frames = std::move(out);
}

void ExtraTraffic::due(std::uint32_t perSecond, std::uint64_t nowMs,
                       std::vector<fms::CanFrame>& out) {
    if (perSecond == 0) {
        m_started = false;
        m_credit = 0;
        return;
    }
    if (!m_started) {
        m_started = true;
        m_lastMs = nowMs;
        return;
    }
    const std::uint64_t elapsed = std::min(nowMs - m_lastMs, kMostElapsedMs);
    m_lastMs = nowMs;
    m_credit += elapsed * perSecond;
    for (; m_credit >= 1000; m_credit -= 1000) out.push_back(next());
}

fms::CanFrame ExtraTraffic::next() {
    const ExtraTemplate& t = kExtraTemplates[m_template];
    m_template = (m_template + 1) % kExtraTemplates.size();
    ++m_count;
    fms::CanFrame frame{fms::makeId(t.priority, t.pgn, t.sourceAddress)};
    if ((t.pgn & 0xFF00U) == kRequestPgn) {
        frame.dlc = 3;
        frame.data = {0xEC, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        return frame;
    }
    // Values that move, as a live node's do; bytes stay below 0xFB, plain values all.
    for (std::size_t i = 0; i < frame.data.size(); ++i) {
        frame.data[i] =
            static_cast<std::uint8_t>((m_count * 7U + i * 29U + t.sourceAddress) % 0xFBU);
    }
    return frame;
}

std::vector<std::uint8_t> ExtraTraffic::sourceAddresses() {
    std::vector<std::uint8_t> out;
    for (const ExtraTemplate& t : kExtraTemplates) {
        if (std::find(out.begin(), out.end(), t.sourceAddress) == out.end()) {
            out.push_back(t.sourceAddress);
        }
    }
    return out;
}

}  // namespace orvale::sim
