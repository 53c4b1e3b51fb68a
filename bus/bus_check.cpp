#include "bus/bus_check.h"

#include <algorithm>
#include <cmath>

#include "fms/bit_field.h"
#include "fms/choices.h"
#include "fms/groups.h"
#include "model/display_format.h"

namespace orvale::bus {
namespace {

using fms::kFieldCount;
using fms::kFields;
using fms::kGroupCount;
using Kind = DisplayValue::Kind;

// How a display is read off the bus and compared.
enum class RowKind : std::uint8_t {
    kNumber,   // physical value within half a resolution step
    kLed,      // a 2-bit code
    kStatus,   // a code the box spells out
    kText,     // a "*"-closed text, exactly
    kVersion,  // 4 digits shown "dd.dd"
    kDate,     // TD: the date exactly, the time of day within kClockToleranceS
};

struct RowInfo {
    const model::DisplayEntry* entry = nullptr;
    RowKind kind = RowKind::kNumber;
    std::uint8_t index = 0;       // in Displays::numbers, leds or texts
    std::uint8_t firstField = 0;  // in fms::kFields; kFieldCount when it has none
    std::uint8_t fieldCount = 0;  // consecutive rows of kFields
};

constexpr std::size_t kRowCount = BusCheck::kRowCount;

constexpr std::array<RowInfo, kRowCount> makeRowInfo() {
    std::array<RowInfo, kRowCount> rows{};
    for (std::size_t r = 0; r < kRowCount; ++r) {
        RowInfo& info = rows[r];
        std::size_t i = r;
        if (i < model::kNumericDisplayCount) {
            info.entry = &model::kNumericDisplays[i];
            info.kind = RowKind::kNumber;
        } else if ((i -= model::kNumericDisplayCount) < model::kLedCount) {
            info.entry = &model::kLeds[i];
            info.kind = RowKind::kLed;
        } else {
            i -= model::kLedCount;
            info.entry = &model::kTextDisplays[i];
            info.kind = RowKind::kStatus;
        }
        info.index = static_cast<std::uint8_t>(i);
        info.firstField = static_cast<std::uint8_t>(kFieldCount);
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            if (kFields[f].display != info.entry->id) continue;
            if (info.fieldCount == 0) info.firstField = static_cast<std::uint8_t>(f);
            ++info.fieldCount;
        }
        if (info.kind != RowKind::kStatus || info.fieldCount == 0) continue;
        if (info.entry->id == model::control::kDateTime) {
            info.kind = RowKind::kDate;
        } else if (kFields[info.firstField].kind == fms::FieldKind::kText) {
            info.kind = RowKind::kText;
        } else if (kFields[info.firstField].kind == fms::FieldKind::kVersion) {
            info.kind = RowKind::kVersion;
        }
    }
    return rows;
}
constexpr auto kRowInfo = makeRowInfo();

constexpr bool fieldsOfARowAreConsecutive() {
    for (const RowInfo& info : kRowInfo) {
        for (std::size_t f = info.firstField; f < info.firstField + info.fieldCount; ++f) {
            if (kFields[f].display != info.entry->id) return false;
        }
    }
    return true;
}
static_assert(fieldsOfARowAreConsecutive(), "a display's bus fields must be neighbours in kFields");

// Row of each control ID from 1000 on.
constexpr model::ControlId kFirstId = 1000;
constexpr std::size_t kIdSpan = 100;
constexpr std::uint8_t kNoRow = 0xFF;

constexpr std::array<std::uint8_t, kIdSpan> makeRowOfId() {
    std::array<std::uint8_t, kIdSpan> rows{};
    rows.fill(kNoRow);
    for (std::size_t r = 0; r < kRowCount; ++r) {
        rows[kRowInfo[r].entry->id - kFirstId] = static_cast<std::uint8_t>(r);
    }
    return rows;
}
constexpr auto kRowOfId = makeRowOfId();

constexpr std::array<bool, kGroupCount> makeGroupsWithCopies() {
    std::array<bool, kGroupCount> groups{};
    for (const fms::Field& f : kFields) {
        if (f.copies > 1) groups[fms::indexOf(f.group)] = true;
    }
    return groups;
}
constexpr auto kGroupHasCopies = makeGroupsWithCopies();

// The device sends the broadcasts of VI and DI from these addresses.
constexpr std::uint8_t kViAddress =
    fms::choice::kGroups[fms::indexOf(fms::GroupId::kVi)].sourceAddress;
constexpr std::uint8_t kDiAddress =
    fms::choice::kGroups[fms::indexOf(fms::GroupId::kDi)].sourceAddress;

constexpr std::uint64_t kRateStepMs = 100;
constexpr std::uint32_t kClockToleranceS = 2;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::uint64_t kMissingPeriods = 3;
constexpr std::uint64_t kSettlingPeriods = 2;
// The device changes its frames as soon as it takes a position, and the window hears of the
// position at the device's next position broadcast (every 100 ms at its usual rate), evaluated
// after the line has carried it: the bus leads the window by that much. A value that has been
// on the bus for less is not judged yet, so a moving slider raises no false alarm.
constexpr std::uint64_t kBusLeadMs = 300;

std::uint32_t periodOf(const RowInfo& info) noexcept {
    return fms::choice::kGroups[fms::indexOf(kFields[info.firstField].group)].periodMs;
}

int decimalsOf(const model::DisplayEntry& entry) noexcept {
    return model::shownDecimals(entry.decimals);
}

// The box's text without the line end a single-line box does not show (Fuel Type's "\n").
std::string_view withoutLineEnd(std::string_view text) noexcept {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool isTimeOfDay(const fms::Field& f) noexcept {
    return f.display == model::control::kDateTime &&
           f.part <= static_cast<std::uint8_t>(fms::DatePart::kHours);
}

constexpr bool datePartsFollowInOrder() {
    const std::size_t first = fms::fieldIndex(model::control::kDateTime);
    for (std::uint8_t part = 0; part <= static_cast<std::uint8_t>(fms::DatePart::kYear); ++part) {
        if (fms::fieldIndex(model::control::kDateTime, part) != first + part) return false;
    }
    return true;
}
static_assert(datePartsFollowInOrder(), "the date and time fields must follow in DatePart order");

std::uint32_t rawOf(const fms::Decoder& decoder, const RowInfo& info, fms::DatePart part) {
    return decoder.value(info.firstField + static_cast<std::size_t>(part)).raw;
}

// Seconds of the day of TD's raw hours, minutes and quarter seconds.
std::int64_t secondsOfDay(std::uint32_t hours, std::uint32_t minutes,
                          std::uint32_t quarterSeconds) noexcept {
    return std::int64_t{hours} * 3600 + std::int64_t{minutes} * 60 + quarterSeconds / 4;
}

// a - b on a clock face of one day: -43199 to 43200.
std::int64_t clockDifference(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t d = (a - b) % kSecondsPerDay;
    if (d < 0) d += kSecondsPerDay;
    return d > kSecondsPerDay / 2 ? d - kSecondsPerDay : d;
}

std::int64_t secondsOf(const fms::ClockTime& t) noexcept {
    return secondsOfDay(t.hours, t.minutes, t.seconds * 4U);
}

void appendDecimal(std::string& out, std::uint32_t value, std::size_t minDigits) {
    std::array<char, 10> digits{};
    std::size_t n = 0;
    while (value != 0 || n < minDigits) {
        digits[digits.size() - 1 - n] = static_cast<char>('0' + value % 10);
        value /= 10;
        ++n;
    }
    out.append(digits.data() + digits.size() - n, n);
}

void appendBits(std::string& out, std::uint32_t value, std::uint8_t bits) {
    for (std::uint32_t i = bits; i-- > 0;) out.push_back(((value >> i) & 1U) != 0 ? '1' : '0');
}

void appendHexByte(std::string& out, std::uint32_t value) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    out += "0x";
    out.push_back(kHex[(value >> 4U) & 0xFU]);
    out.push_back(kHex[value & 0xFU]);
}

// A difference of numbers with its sign, at the display's decimals or as many more as it takes
// for a digit other than 0 to show.
void appendDifference(std::string& out, double d, int decimals) {
    const std::size_t at = out.size();
    for (int shown = decimals;; ++shown) {
        out.resize(at);
        out.push_back(d < 0 ? '-' : '+');
        model::appendFixed(out, std::fabs(d), shown);
        const bool allZero = std::all_of(out.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                         out.end(), [](char c) { return c == '0' || c == '.'; });
        if (!allZero || shown >= model::kMaxDecimals) return;
    }
}

void appendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    out += text;
    out.push_back('"');
}

void clear(DisplayValue& value) noexcept {
    value.kind = Kind::kNone;
    value.number = 0.0;
    value.lit = false;
    value.text.clear();
}

// Room for every text the model shows, so that steady state never allocates.
constexpr std::size_t kTextRoom = 48;

}  // namespace

std::string_view nameOf(RowState state) noexcept {
    switch (state) {
        case RowState::kMismatch:
            return "mismatch";
        case RowState::kMissing:
            return "missing";
        case RowState::kMatch:
            return "match";
        case RowState::kNotModelled:
            return "not_modelled";
    }
    return "not_modelled";
}

BusCheck::BusCheck() {
    for (std::size_t r = 0; r < kRowCount; ++r) {
        const RowInfo& info = kRowInfo[r];
        BusRow& row = m_rows[r];
        row.id = info.entry->id;
        row.label = info.entry->label;
        row.units = info.entry->units;
        row.expected.text.reserve(kTextRoom);
        row.observed.text.reserve(kTextRoom);
        row.observedText.reserve(kTextRoom);
        row.difference.reserve(2 * kTextRoom);
        m_shown[r].text.reserve(kTextRoom);
        m_worstFirst[r] = static_cast<std::uint8_t>(r);
    }
    for (std::string* text : {&m_expectation.vin, &m_expectation.driver1Id,
                              &m_expectation.driver2Id, &m_expectation.swVersion}) {
        text->reserve(kTextRoom);
    }
    m_summary.rows[static_cast<std::size_t>(RowState::kNotModelled)] = kRowCount;
}

void BusCheck::onFrame(const fms::CanFrame& frame, std::uint64_t timeMs) noexcept {
    ++m_frames;
    const std::uint64_t step = timeMs / kRateStepMs;
    const std::size_t slot = step % kRateSteps;
    if (m_stepOf[slot] < step) {
        m_stepOf[slot] = step;
        m_stepFrames[slot] = 0;
    }
    if (m_stepOf[slot] == step) ++m_stepFrames[slot];

    if (!frame.extended) {
        ++m_otherSenders;
        return;
    }
    const std::uint32_t pgn = fms::pgnOf(frame.id);
    const std::uint8_t address = fms::sourceAddressOf(frame.id);
    if (pgn == fms::kTpCmPgn || pgn == fms::kTpDtPgn) {
        // Only the VI and DI senders' broadcasts are the device's; another node's could
        // otherwise complete a text in their place.
        if (address != kViAddress && address != kDiAddress) {
            ++m_otherSenders;
            return;
        }
        m_decoder.onFrame(frame, timeMs);
        return;
    }
    const std::size_t group = fms::groupOfPgn(pgn);
    if (group == kGroupCount || address != fms::choice::kGroups[group].sourceAddress) {
        ++m_otherSenders;
        return;
    }
    m_decoder.onFrame(frame, timeMs);
    if (kGroupHasCopies[group]) checkCopies(group, frame);
}

// The decoder reads the first copy of a repeated field; a unit reading door 7 reads another.
void BusCheck::checkCopies(std::size_t group, const fms::CanFrame& frame) noexcept {
    const fms::Group& g = fms::kGroups[group];
    const auto dlc = std::min<std::uint8_t>(frame.dlc, 8);
    const std::uint64_t word = fms::toWord(frame.data);
    std::optional<std::uint32_t> selector;
    if (g.layout == fms::Layout::kSelector) {
        const fms::BitField field{g.selectorStart, g.selectorLength};
        if (!field.fitsIn(dlc)) return;
        selector = fms::unpack(word, field);
    }
    const fms::FieldRange range = fms::kFieldsOfGroup[group];
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        const fms::Field& f = kFields[i];
        if (f.copies < 2 || !f.onBus || (selector && f.selector != *selector) ||
            !f.bits.fitsIn(dlc)) {
            continue;
        }
        const std::uint32_t first = fms::unpack(word, f.bits);
        m_copies[i] = {};
        for (std::uint8_t c = 1; c < f.copies; ++c) {
            const fms::BitField copy{static_cast<std::uint8_t>(f.bits.start + c * f.stride),
                                     f.bits.length};
            // Copies a short frame leaves out are the decoder's short frames.
            if (!copy.fitsIn(dlc)) break;
            const std::uint32_t raw = fms::unpack(word, copy);
            if (raw != first) {
                m_copies[i] = {static_cast<std::uint8_t>(c + 1), raw};
                break;
            }
        }
    }
}

void BusCheck::expect(const std::optional<Expectation>& expectation,
                      const session::Displays& displays, std::uint64_t nowMs) {
    if (!expectation) {
        m_expecting = false;
        return;
    }
    const bool began = !m_expecting;
    m_expecting = true;
    if (began) m_sinceMs = nowMs;

    // A clock that ticks on is no change; one set to another time is.
    const std::optional<fms::ClockTime> previousClock = m_expectation.clock;
    bool clockJumped = began || previousClock.has_value() != expectation->clock.has_value();
    if (!clockJumped && previousClock) {
        const std::int64_t d =
            clockDifference(secondsOf(*expectation->clock), secondsOf(*previousClock));
        const auto elapsedS =
            static_cast<std::int64_t>((nowMs - std::min(nowMs, m_clockAtMs) + 999) / 1000);
        clockJumped = d < -std::int64_t{kClockToleranceS} || d > elapsedS + kClockToleranceS;
    }
    m_clockAtMs = nowMs;

    m_expectation = *expectation;
    const fms::DeviceState state = m_expectation.deviceState();
    for (std::size_t r = 0; r < kRowCount; ++r) {
        const RowInfo& info = kRowInfo[r];
        bool changed = began || (info.kind == RowKind::kDate && clockJumped);
        for (std::size_t i = info.firstField; i < info.firstField + info.fieldCount; ++i) {
            const fms::Field& f = kFields[i];
            const bool sent = fms::isSent(i, state.productId);
            std::uint32_t raw = 0;
            if (f.number != nullptr) {
                // The field's bits of the value, as the encoder packs them; what it leaves
                // unset goes out as all ones.
                const auto mask = static_cast<std::uint32_t>(fms::maskOf(f.bits.length));
                raw = f.number(state).value_or(mask) & mask;
            }
            changed = changed || sent != m_sent[i] || (raw != m_expectedRaw[i] && !isTimeOfDay(f));
            m_sent[i] = sent;
            m_expectedRaw[i] = raw;
        }

        DisplayValue& shown = m_shown[r];
        switch (info.kind) {
            case RowKind::kNumber: {
                const double number = displays.numbers[info.index];
                changed = changed || shown.kind != Kind::kNumber || shown.number != number;
                shown.kind = Kind::kNumber;
                shown.number = number;
                break;
            }
            case RowKind::kLed: {
                const bool lit = displays.leds[info.index];
                changed = changed || shown.kind != Kind::kBool || shown.lit != lit;
                shown.kind = Kind::kBool;
                shown.lit = lit;
                break;
            }
            default: {
                const std::string_view text = withoutLineEnd(displays.texts[info.index]);
                if (shown.kind != Kind::kText || shown.text != text) {
                    // The date and time box changes every second; its fields say when it moved.
                    changed = changed || info.kind != RowKind::kDate;
                    shown.kind = Kind::kText;
                    shown.text.assign(text);
                }
                break;
            }
        }
        if (changed) m_changedMs[r] = nowMs;
    }
}

void BusCheck::refresh(std::uint64_t nowMs) {
    m_decoder.expire(nowMs);
    for (std::size_t r = 0; r < kRowCount; ++r) updateRow(r, nowMs);
    summarise(nowMs);
}

void BusCheck::reset(std::uint64_t nowMs) noexcept {
    m_decoder.reset();
    m_copies.fill({});
    m_frames = 0;
    m_otherSenders = 0;
    m_stepFrames.fill(0);
    m_stepOf.fill(0);
    m_sinceMs = nowMs;
}

const BusRow* BusCheck::row(model::ControlId id) const noexcept {
    const auto at = static_cast<std::size_t>(id - kFirstId);
    if (id < kFirstId || at >= kIdSpan) return nullptr;
    const std::uint8_t r = kRowOfId[at];
    return r == kNoRow ? nullptr : &m_rows[r];
}

BusMark BusCheck::mark(model::ControlId id) const noexcept {
    const BusRow* r = row(id);
    if (r == nullptr) return {};
    return {r->state, r->state == RowState::kMismatch || r->state == RowState::kMissing,
            r->observedText};
}

void BusCheck::updateRow(std::size_t r, std::uint64_t nowMs) {
    const RowInfo& info = kRowInfo[r];
    BusRow& row = m_rows[r];
    if (m_expecting) {
        row.expected = m_shown[r];
    } else {
        clear(row.expected);
    }
    row.difference.clear();
    row.settling = false;

    bool received = info.fieldCount != 0;
    std::uint64_t oldestMs = nowMs;
    std::uint64_t changedMs = 0;  // when the bus last changed what it carries for the row
    for (std::size_t i = info.firstField; i < info.firstField + info.fieldCount; ++i) {
        const fms::FieldValue& v = m_decoder.value(i);
        received = received && v.received;
        oldestMs = std::min(oldestMs, v.timeMs);
        changedMs = std::max(changedMs, v.changedMs);
    }
    if (received) {
        row.ageMs = nowMs - oldestMs;
        observe(r);
    } else {
        row.ageMs.reset();
        clear(row.observed);
        row.observedText.clear();
    }

    const bool sent =
        std::any_of(m_sent.begin() + info.firstField,
                    m_sent.begin() + info.firstField + info.fieldCount, [](bool s) { return s; });
    if (!m_expecting || !sent) {
        row.state = RowState::kNotModelled;
        return;
    }
    const std::uint64_t periodMs = periodOf(info);
    const std::uint64_t lastMs = received ? std::max(oldestMs, m_sinceMs) : m_sinceMs;
    if (nowMs > lastMs && nowMs - lastMs > kMissingPeriods * periodMs) {
        row.state = RowState::kMissing;
        return;
    }
    row.state = RowState::kMatch;
    if (!received) {
        row.settling = true;
    } else if (!agrees(r)) {
        const std::uint64_t shownMs = m_changedMs[r];
        const bool windowSettled = nowMs > shownMs && nowMs - shownMs > kSettlingPeriods * periodMs;
        // The clock's own rule allows for the bus leading it.
        const bool busSettled = info.kind == RowKind::kDate || nowMs >= changedMs + kBusLeadMs;
        if (windowSettled && busSettled) {
            row.state = RowState::kMismatch;
            describeDifference(r);
        } else {
            row.settling = true;
        }
    }
}

void BusCheck::observe(std::size_t r) {
    const RowInfo& info = kRowInfo[r];
    BusRow& row = m_rows[r];
    DisplayValue& observed = row.observed;
    std::string& text = row.observedText;
    const std::size_t first = info.firstField;
    const std::uint32_t raw = m_decoder.value(first).raw;
    clear(observed);
    text.clear();
    switch (info.kind) {
        case RowKind::kNumber:
            observed.kind = Kind::kNumber;
            observed.number = m_decoder.physical(first).value_or(0.0);
            model::appendFixed(text, observed.number, decimalsOf(*info.entry));
            text += info.entry->units;
            return;
        case RowKind::kLed:
            // Lit for 01 (on, set, depressed), dark for 00; the error and "not available" codes
            // are no state an LED can show.
            if (raw <= 1) {
                observed.kind = Kind::kBool;
                observed.lit = raw == 1;
                text = observed.lit ? "on" : "off";
            } else {
                appendBits(text, raw, kFields[first].bits.length);
            }
            return;
        case RowKind::kStatus:
            if (model::writeStatusText(info.entry->id, raw, m_scratch)) {
                text.assign(withoutLineEnd(m_scratch.text()));
            } else {
                appendBits(text, raw, kFields[first].bits.length);
            }
            break;
        case RowKind::kText:
            text.assign(m_decoder.text(first).value_or(std::string_view{}));
            break;
        case RowKind::kVersion:
            // A version sent as "not available" reads as the blank the box shows for none.
            text.assign(m_decoder.text(first).value_or(std::string_view{" "}));
            break;
        case RowKind::kDate: {
            using fms::DatePart;
            appendDecimal(text, rawOf(m_decoder, info, DatePart::kYear) + 1985U, 4);
            text.push_back('/');
            appendDecimal(text, rawOf(m_decoder, info, DatePart::kMonth), 2);
            text.push_back('/');
            appendDecimal(text, rawOf(m_decoder, info, DatePart::kDay) / 4U, 2);
            const std::uint32_t hours = rawOf(m_decoder, info, DatePart::kHours);
            const std::uint32_t minutes = rawOf(m_decoder, info, DatePart::kMinutes);
            const std::uint32_t seconds = rawOf(m_decoder, info, DatePart::kSeconds) / 4U;
            // The time of day is the device's clock: unsent until it has one.
            if (hours < 24 && minutes < 60 && seconds < 60) {
                text.push_back('/');
                appendDecimal(text, hours, 2);
                text.push_back(':');
                appendDecimal(text, minutes, 2);
                text.push_back(':');
                appendDecimal(text, seconds, 2);
            }
            break;
        }
    }
    observed.kind = Kind::kText;
    observed.text.assign(text);
}

bool BusCheck::agrees(std::size_t r) const noexcept {
    const RowInfo& info = kRowInfo[r];
    const std::size_t first = info.firstField;
    const DisplayValue& shown = m_shown[r];
    switch (info.kind) {
        case RowKind::kNumber: {
            const double observed = m_decoder.physical(first).value_or(NAN);
            const double tolerance =
                kFields[first].resolution / 2 + 1e-9 * std::max(1.0, std::fabs(shown.number));
            return std::fabs(observed - shown.number) <= tolerance;
        }
        case RowKind::kLed:
        case RowKind::kStatus:
            for (std::size_t i = first; i < first + info.fieldCount; ++i) {
                if (m_decoder.value(i).raw != m_expectedRaw[i] || m_copies[i].copy != 0) {
                    return false;
                }
            }
            return true;
        case RowKind::kText:
            return m_rows[r].observed.text == shown.text;
        case RowKind::kVersion: {
            // "04.04" goes out as the digits "0404"; any other text leaves the version unsent.
            std::array<char, 5> bus{'0', '0', '.', '0', '0'};
            std::size_t digits = 0;
            for (const char c : shown.text) {
                if (c == '.') continue;
                if (digits < 4) bus[digits < 2 ? digits : digits + 1] = c;
                ++digits;
            }
            const std::string_view expected =
                digits == 4 ? std::string_view{bus.data(), bus.size()} : std::string_view{" "};
            return m_rows[r].observed.text == expected;
        }
        case RowKind::kDate: {
            for (std::size_t i = first; i < first + info.fieldCount; ++i) {
                if (!isTimeOfDay(kFields[i]) && m_decoder.value(i).raw != m_expectedRaw[i]) {
                    return false;
                }
            }
            if (!m_expectation.clock) {
                for (std::size_t i = first; i < first + info.fieldCount; ++i) {
                    if (m_decoder.value(i).raw != m_expectedRaw[i]) return false;
                }
                return true;
            }
            using fms::DatePart;
            const std::uint32_t hours = rawOf(m_decoder, info, DatePart::kHours);
            const std::uint32_t minutes = rawOf(m_decoder, info, DatePart::kMinutes);
            const std::uint32_t quarters = rawOf(m_decoder, info, DatePart::kSeconds);
            if (hours >= 24 || minutes >= 60 || quarters >= 240) return false;
            const std::int64_t d = clockDifference(secondsOfDay(hours, minutes, quarters),
                                                   secondsOf(*m_expectation.clock));
            return std::abs(d) <= std::int64_t{kClockToleranceS};
        }
    }
    return false;
}

void BusCheck::appendCode(std::size_t r, std::size_t field, std::uint32_t raw, std::string& out) {
    const model::ControlId id = kRowInfo[r].entry->id;
    if (id == model::control::kSelectedGear || id == model::control::kCurrentGear) {
        model::writeStatusText(id, raw, m_scratch);
        out += m_scratch.text();
    } else if (id == model::control::kFuelType) {
        appendHexByte(out, raw);
    } else {
        appendBits(out, raw, kFields[field].bits.length);
    }
}

void BusCheck::describeDifference(std::size_t r) {
    const RowInfo& info = kRowInfo[r];
    BusRow& row = m_rows[r];
    std::string& out = row.difference;
    switch (info.kind) {
        case RowKind::kNumber:
            appendDifference(out, row.observed.number - m_shown[r].number, decimalsOf(*info.entry));
            out += info.entry->units;
            return;
        case RowKind::kLed:
        case RowKind::kStatus:
            for (std::size_t i = info.firstField; i < info.firstField + info.fieldCount; ++i) {
                const std::uint32_t raw = m_decoder.value(i).raw;
                const CopyDifference& copy = m_copies[i];
                if (raw == m_expectedRaw[i] && copy.copy == 0) continue;
                if (raw == m_expectedRaw[i]) {
                    out += "copy ";
                    appendDecimal(out, copy.copy, 1);
                    out += " of ";
                    appendDecimal(out, kFields[i].copies, 1);
                    out += ": ";
                }
                out += "bus ";
                appendCode(r, i, raw == m_expectedRaw[i] ? copy.raw : raw, out);
                out += ", expected ";
                appendCode(r, i, m_expectedRaw[i], out);
                return;
            }
            return;
        case RowKind::kText:
        case RowKind::kVersion:
            out += "bus ";
            appendQuoted(out, row.observed.text);
            out += ", expected ";
            appendQuoted(out, m_shown[r].text);
            return;
        case RowKind::kDate: {
            out += "bus ";
            out += row.observed.text;
            out += ", expected ";
            out += m_shown[r].text;
            // The box shows whole days of a field in quarter days.
            const std::size_t day = info.firstField + static_cast<std::size_t>(fms::DatePart::kDay);
            const std::uint32_t raw = m_decoder.value(day).raw;
            if (raw != m_expectedRaw[day] && raw / 4 == m_expectedRaw[day] / 4) {
                out += "; day in quarter days: bus ";
                appendDecimal(out, raw, 1);
                out += ", expected ";
                appendDecimal(out, m_expectedRaw[day], 1);
            }
            return;
        }
    }
}

void BusCheck::summarise(std::uint64_t nowMs) noexcept {
    BusSummary& s = m_summary;
    s.rows.fill(0);
    for (const BusRow& row : m_rows) ++s.rows[static_cast<std::size_t>(row.state)];

    // Worst first, catalogue order within a state: a counting sort, which takes no memory.
    std::array<std::size_t, kRowStateCount> next{};
    for (std::size_t k = 1; k < kRowStateCount; ++k) next[k] = next[k - 1] + s.rows[k - 1];
    for (std::size_t r = 0; r < kRowCount; ++r) {
        m_worstFirst[next[static_cast<std::size_t>(m_rows[r].state)]++] =
            static_cast<std::uint8_t>(r);
    }

    // The ten whole steps before the current one: one second.
    const std::uint64_t current = nowMs / kRateStepMs;
    std::uint32_t frames = 0;
    for (std::size_t k = 0; k < kRateSteps; ++k) {
        if (m_stepOf[k] < current && m_stepOf[k] + kRateSteps >= current) frames += m_stepFrames[k];
    }
    s.framesPerSecond = frames;
    s.frames = m_frames;
    s.otherSenders = m_otherSenders;
    const fms::DecoderCounters& c = m_decoder.counters();
    s.bamCompleted = c.bamCompleted;
    s.bamDropped = c.bamDropped;
    s.shortFrames = c.shortFrames;
}

}  // namespace orvale::bus
