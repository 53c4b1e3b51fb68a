#include "fms/decoder.h"

#include <algorithm>

namespace orvale::fms {
namespace {

constexpr std::uint8_t kNotRead = 0xFF;

// PGN to group, sorted for a binary search.
struct PgnEntry {
    std::uint32_t pgn;
    std::uint8_t group;
};

constexpr std::array<PgnEntry, kGroupCount> makePgnIndex() {
    std::array<PgnEntry, kGroupCount> index{};
    for (std::size_t i = 0; i < kGroupCount; ++i) {
        index[i] = {kGroups[i].pgn, static_cast<std::uint8_t>(i)};
    }
    std::sort(index.begin(), index.end(),
              [](const PgnEntry& a, const PgnEntry& b) { return a.pgn < b.pgn; });
    return index;
}
constexpr auto kPgnIndex = makePgnIndex();

std::size_t groupOf(std::uint32_t pgn) noexcept {
    const auto* it = std::lower_bound(kPgnIndex.begin(), kPgnIndex.end(), pgn,
                                      [](const PgnEntry& e, std::uint32_t p) { return e.pgn < p; });
    return it != kPgnIndex.end() && it->pgn == pgn ? it->group : kGroupCount;
}

// Which text slot each row of kFields writes.
constexpr std::array<std::uint8_t, kFieldCount> makeTextSlots() {
    std::array<std::uint8_t, kFieldCount> slots{};
    std::uint8_t next = 0;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        const bool isText =
            kFields[i].kind == FieldKind::kText || kFields[i].kind == FieldKind::kVersion;
        slots[i] = isText ? next++ : kNotRead;
    }
    return slots;
}
constexpr auto kTextSlots = makeTextSlots();

constexpr std::size_t textRowCount() {
    std::size_t n = 0;
    for (const auto slot : kTextSlots) n += slot != kNotRead ? 1 : 0;
    return n;
}

// The last bit a field occupies, over all its copies.
constexpr std::size_t endBit(const Field& f) noexcept {
    return f.bits.start + (f.copies - 1U) * f.stride + f.bits.length;
}

constexpr std::uint32_t kVersionNotAvailable = 0xFFFFFFFF;

}  // namespace

Decoder::Decoder() : m_sessions(kMaxSessions) {
    static_assert(textRowCount() == kTextCount);
    m_sessionOfAddress.fill(kNoSession);
}

void Decoder::reset() noexcept {
    m_values.fill({});
    for (Text& t : m_texts) t.size = 0;
    for (Session& s : m_sessions) s.active = false;
    m_sessionOfAddress.fill(kNoSession);
    m_activeSessions = 0;
    m_counters = {};
}

void Decoder::onFrame(const CanFrame& frame, std::uint64_t timeMs) noexcept {
    ++m_counters.frames;
    if (!frame.extended) {
        ++m_counters.unknownPgn;
        return;
    }
    const auto dlc = std::min<std::uint8_t>(frame.dlc, 8);
    const std::uint32_t pgn = pgnOf(frame.id);
    if (pgn == kTpCmPgn) {
        onAnnouncement(frame, dlc, timeMs);
    } else if (pgn == kTpDtPgn) {
        onPacket(frame, dlc, timeMs);
    } else if (const std::size_t group = groupOf(pgn); group != kGroupCount) {
        decodeFrame(group, frame, dlc, timeMs);
    } else {
        ++m_counters.unknownPgn;
    }
}

void Decoder::decodeFrame(std::size_t group, const CanFrame& frame, std::uint8_t dlc,
                          std::uint64_t timeMs) noexcept {
    const Group& g = kGroups[group];
    if (g.layout == Layout::kMultiPacket) {
        decodeTexts(group, {frame.data.data(), dlc}, timeMs);
        return;
    }
    const std::uint64_t word = toWord(frame.data);
    std::optional<std::uint32_t> selector;
    if (g.layout == Layout::kSelector) {
        const BitField field{g.selectorStart, g.selectorLength};
        if (!field.fitsIn(dlc)) {
            ++m_counters.shortFrames;
            return;
        }
        selector = unpack(word, field);
    }
    bool isShort = false;
    const FieldRange range = kFieldsOfGroup[group];
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        const Field& f = kFields[i];
        if (!f.onBus || (selector && f.selector != *selector)) continue;
        // Copies after the first repeat its value: the first is read, all must be there.
        isShort = isShort || endBit(f) > dlc * 8U;
        if (!f.bits.fitsIn(dlc)) continue;
        const std::uint32_t raw = unpack(word, f.bits);
        FieldValue& v = m_values[i];
        if (!v.received || v.raw != raw) v.changedMs = timeMs;
        v.received = true;
        v.raw = raw;
        v.timeMs = timeMs;
        if (f.kind == FieldKind::kVersion) {
            Text& text = m_texts[kTextSlots[i]];
            text.size = 0;
            if (raw == kVersionNotAvailable) continue;
            for (std::size_t k = 0; k < 4; ++k) {
                if (k == 2) text.chars[text.size++] = '.';
                text.chars[text.size++] = static_cast<char>((raw >> (8 * k)) & 0xFFU);
            }
        }
    }
    if (isShort) ++m_counters.shortFrames;
}

void Decoder::decodeTexts(std::size_t group, std::span<const std::uint8_t> payload,
                          std::uint64_t timeMs) noexcept {
    const FieldRange range = kFieldsOfGroup[group];
    std::size_t at = 0;
    for (std::size_t i = range.first; i < range.first + range.count; ++i) {
        // J1939 closes each of these texts with "*": one without it has not come whole.
        const std::span<const std::uint8_t> rest = payload.subspan(at);
        const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{'*'});
        if (end == rest.end()) {
            ++m_counters.shortFrames;
            return;
        }
        const auto length = static_cast<std::size_t>(end - rest.begin()) + 1;
        Text& text = m_texts[kTextSlots[i]];
        FieldValue& v = m_values[i];
        if (!v.received || text.size != length ||
            !std::equal(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(length),
                        text.chars.begin())) {
            v.changedMs = timeMs;
        }
        std::copy_n(rest.data(), length, text.chars.data());
        text.size = static_cast<std::uint16_t>(length);
        v.received = true;
        v.raw = 0;
        v.timeMs = timeMs;
        at += length;
    }
}

void Decoder::onAnnouncement(const CanFrame& frame, std::uint8_t dlc,
                             std::uint64_t timeMs) noexcept {
    if (dlc < 8) {
        ++m_counters.shortFrames;
        return;
    }
    const auto& d = frame.data;
    // Connection-mode transfers (RTS/CTS) run between two other nodes; only broadcasts are read.
    if (d[0] != kBamControl || destinationOf(frame.id) != kGlobalAddress) {
        ++m_counters.unknownPgn;
        return;
    }
    const std::uint32_t pgn = d[5] | (std::uint32_t{d[6]} << 8U) | (std::uint32_t{d[7]} << 16U);
    const std::size_t group = groupOf(pgn);
    if (group == kGroupCount || kGroups[group].layout != Layout::kMultiPacket) {
        ++m_counters.unknownPgn;
        return;
    }
    ++m_counters.bamAnnounced;
    const std::uint8_t sourceAddress = sourceAddressOf(frame.id);
    // A new announcement means the sender has given up the message it was sending.
    if (Session* previous = sessionOf(sourceAddress)) drop(*previous);

    const auto size = static_cast<std::uint16_t>(d[1] | (std::uint32_t{d[2]} << 8U));
    const std::uint8_t packets = d[3];
    const bool sizeFits = size > 8 && size <= kMaxTransportPayload &&
                          packets == (size + kBytesPerPacket - 1) / kBytesPerPacket;
    Session* session = sizeFits ? openSession(sourceAddress, timeMs) : nullptr;
    if (session == nullptr) {
        ++m_counters.bamDropped;
        return;
    }
    session->group = static_cast<std::uint8_t>(group);
    session->size = size;
    session->packets = packets;
    session->nextPacket = 1;
    session->lastMs = timeMs;
}

void Decoder::onPacket(const CanFrame& frame, std::uint8_t dlc, std::uint64_t timeMs) noexcept {
    if (destinationOf(frame.id) != kGlobalAddress) {
        ++m_counters.unknownPgn;
        return;
    }
    Session* session = sessionOf(sourceAddressOf(frame.id));
    // A packet of a broadcast already given up (or never announced) has nothing to join.
    if (session == nullptr) return;
    if (timeMs - session->lastMs > kBamTimeoutMs || dlc == 0 ||
        frame.data[0] != session->nextPacket) {
        drop(*session);
        return;
    }
    const std::size_t from = (session->nextPacket - 1U) * kBytesPerPacket;
    const std::size_t n = std::min(kBytesPerPacket, session->size - from);
    if (dlc < 1 + n) {
        drop(*session);
        return;
    }
    std::copy_n(frame.data.data() + 1, n, session->payload.data() + from);
    session->lastMs = timeMs;
    if (session->nextPacket++ == session->packets) {
        ++m_counters.bamCompleted;
        decodeTexts(session->group, {session->payload.data(), session->size}, timeMs);
        close(*session);
    }
}

void Decoder::expire(std::uint64_t nowMs) noexcept {
    for (Session& s : m_sessions) {
        if (s.active && nowMs - s.lastMs > kBamTimeoutMs) drop(s);
    }
}

Decoder::Session* Decoder::sessionOf(std::uint8_t sourceAddress) noexcept {
    const std::uint8_t slot = m_sessionOfAddress[sourceAddress];
    return slot == kNoSession ? nullptr : &m_sessions[slot];
}

Decoder::Session* Decoder::openSession(std::uint8_t sourceAddress, std::uint64_t timeMs) noexcept {
    if (m_activeSessions == m_sessions.size()) expire(timeMs);
    const auto it = std::find_if(m_sessions.begin(), m_sessions.end(),
                                 [](const Session& s) { return !s.active; });
    if (it == m_sessions.end()) return nullptr;
    it->active = true;
    it->sourceAddress = sourceAddress;
    m_sessionOfAddress[sourceAddress] = static_cast<std::uint8_t>(it - m_sessions.begin());
    ++m_activeSessions;
    return &*it;
}

void Decoder::drop(Session& session) noexcept {
    ++m_counters.bamDropped;
    close(session);
}

void Decoder::close(Session& session) noexcept {
    session.active = false;
    m_sessionOfAddress[session.sourceAddress] = kNoSession;
    --m_activeSessions;
}

std::optional<double> Decoder::physical(std::size_t field) const noexcept {
    const Field& f = kFields[field];
    const FieldValue& v = m_values[field];
    if (!v.received || f.kind == FieldKind::kText || f.kind == FieldKind::kVersion) {
        return std::nullopt;
    }
    return static_cast<double>(v.raw) * f.resolution + f.offset;
}

std::optional<std::string_view> Decoder::text(std::size_t field) const noexcept {
    const std::uint8_t slot = kTextSlots[field];
    if (slot == kNotRead || !m_values[field].received) return std::nullopt;
    const Text& t = m_texts[slot];
    if (kFields[field].kind == FieldKind::kVersion && t.size == 0) return std::nullopt;
    return std::string_view{t.chars.data(), t.size};
}

}  // namespace orvale::fms
