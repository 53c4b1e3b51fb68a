#include "sim/quennet_device.h"

#include <algorithm>
#include <cctype>

namespace orvale::sim {
namespace {

constexpr std::uint32_t kMsPerDay = 24u * 60u * 60u * 1000u;

// Line capacity is counted in thousandths of a byte so that 11.52 bytes per ms adds up exactly.
constexpr std::uint64_t kOneByte = 1000;
// An idle UART starts the next byte at once but saves nothing up; while output waits, a few ms
// of late wake-ups of the host may be made good.
constexpr std::uint64_t kBurstCredit = 64 * kOneByte;

// Broadcasts due while the line is this far behind are skipped, as a device firmware that
// polls its transmit buffer would; answers are kept up to the larger bound.
constexpr std::size_t kBroadcastBacklog = 128;
constexpr std::size_t kMaxPending = 4096;

// Gap after each piece of a split frame, long enough for the reader to see it on its own.
constexpr std::uint32_t kSplitGapMs = 2;

constexpr std::size_t kMaxLineLength = 64;

constexpr std::uint64_t kBroadcastCreditCap = 4 * 1000 - 1;

link::ClockTime clockOf(std::uint32_t timeOfDayMs) {
    const std::uint32_t inMinute = timeOfDayMs % 60'000u;
    return {static_cast<std::uint8_t>(timeOfDayMs / 3'600'000u),
            static_cast<std::uint8_t>(timeOfDayMs / 60'000u % 60u),
            static_cast<std::uint8_t>(inMinute / 250u)};
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The checksum pair sits directly before CR LF.
void spoilChecksum(std::string& frame) {
    const std::size_t at = frame.size() - 4;
    const auto pair =
        link::encodeHexPair(static_cast<std::uint8_t>(link::decodeHexPairAt(frame, at) + 1u));
    frame[at] = pair[0];
    frame[at + 1] = pair[1];
}

}  // namespace

QuennetDevice::QuennetDevice(DeviceConfig config) : m_config(std::move(config)) {
    m_config.broadcastRate = std::min(m_config.broadcastRate, kMaxBroadcastRate);
    m_config.clockStartMs %= kMsPerDay;
    m_state = {m_config.position, m_config.status, m_config.canBaudCode, m_config.vinStyle};
    m_timeOfDayMs = m_config.clockStartMs;
    m_random.seed(m_faults.seed);
}

void QuennetDevice::setFaults(Faults faults) {
    m_faults = std::move(faults);
    m_random.seed(m_faults.seed);
    if (m_faults.silent) {
        m_out.clear();
        m_outHead = 0;
        m_cuts.clear();
    }
    if (m_faults.splitPieceMax == 0) {
        m_cuts.clear();
        m_holdMs = 0;
    }
}

void QuennetDevice::setBroadcastRate(unsigned perSecond) {
    m_config.broadcastRate = std::min(perSecond, kMaxBroadcastRate);
}

link::ClockTime QuennetDevice::clock() const { return clockOf(m_timeOfDayMs); }

link::ClockTime QuennetDevice::clockAt(std::uint32_t nowMs) const {
    if (!m_started) {
        return clock();
    }
    const std::uint32_t elapsed = nowMs - m_lastMs;
    return clockOf(
        static_cast<std::uint32_t>((std::uint64_t{m_timeOfDayMs} + elapsed) % kMsPerDay));
}

void QuennetDevice::advance(std::uint32_t nowMs) {
    if (!m_started) {
        m_started = true;
        m_lastMs = nowMs;
        return;
    }
    // Unsigned difference: a wrap of the 32-bit count is just more time.
    const std::uint32_t elapsed = nowMs - m_lastMs;
    m_lastMs = nowMs;
    if (elapsed == 0) {
        return;
    }
    m_timeOfDayMs =
        static_cast<std::uint32_t>((std::uint64_t{m_timeOfDayMs} + elapsed) % kMsPerDay);
    m_holdMs = elapsed >= m_holdMs ? 0 : m_holdMs - elapsed;

    const std::uint64_t creditCap = pendingBytes() == 0 ? kOneByte : kBurstCredit;
    m_lineCredit = std::min(m_lineCredit + std::uint64_t{elapsed} * kLineBytesPerSecond, creditCap);

    // After a stall of the host the device catches up on a few broadcasts, not on all that
    // were missed.
    m_broadcastCredit = std::min<std::uint64_t>(
        m_broadcastCredit + std::uint64_t{elapsed} * m_config.broadcastRate, kBroadcastCreditCap);
    m_clockCreditMs = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{m_clockCreditMs} + elapsed, 1999));
    while (m_broadcastCredit >= 1000) {
        m_broadcastCredit -= 1000;
        if (m_config.sweep) advanceSweep();
        queueBroadcast(link::device::positionStatusBroadcast({m_state.position, m_state.status}));
    }
    if (m_clockCreditMs >= 1000) {
        m_clockCreditMs -= 1000;
        queueBroadcast(link::device::clockBroadcast(clock()));
    }
}

void QuennetDevice::advanceSweep() {
    if (m_state.position >= kMaxPosition) m_sweepDown = true;
    if (m_state.position == 0) m_sweepDown = false;
    m_state.position =
        static_cast<std::uint8_t>(m_sweepDown ? m_state.position - 1 : m_state.position + 1);
}

void QuennetDevice::receive(std::string_view bytes, std::uint32_t nowMs) {
    advance(nowMs);
    for (const char c : bytes) {
        if (c == link::kCr || c == link::kLf) {
            // Either ends a command, so that CR LF, CR alone (a terminal's Enter) and LF alone
            // all work; the empty line between CR and LF is not a command.
            if (!m_line.empty()) {
                handleLine(m_line);
                m_line.clear();
            }
            continue;
        }
        if (m_line.size() == kMaxLineLength) {
            m_line.erase(0, kMaxLineLength / 2);
        }
        m_line.push_back(c);
    }
}

void QuennetDevice::handleLine(std::string_view line) {
    // Commands carry no blank after "AT ", so the last "AT " of a line starts the command and
    // whatever noise came before it is dropped.
    const std::size_t start = line.rfind("AT ");
    if (start == std::string_view::npos) {
        ++m_counts.unknown;
        return;
    }
    const std::string_view command = line.substr(start);

    if (command == "AT ID?") {
        ++m_counts.identify;
        answerIdentify();
    } else if (command.size() == 8 && startsWith(command, "AT %")) {
        if (!link::checksumGood(command, 6)) {
            ++m_counts.badChecksum;
            return;
        }
        ++m_counts.position;
        m_state.position = std::min(link::decodeHexPairAt(command, 4), kMaxPosition);
        queueFrame(link::device::positionAck());
    } else if (command.size() == 9 && startsWith(command, "AT KI")) {
        if (!link::checksumGood(command, 7)) {
            ++m_counts.badChecksum;
            return;
        }
        ++m_counts.key;
        handleKey(link::decodeHexPairAt(command, 5));
        queueFrame(link::device::keyAck());
    } else if (command.size() == 10 && startsWith(command, "AT CBRS=0") && command[9] >= '0' &&
               command[9] <= '4') {
        ++m_counts.canBaudRate;
        m_state.canBaudCode = command[9] - '0';
        if (m_config.acknowledgeSettings) {
            queueFrame(link::device::canBaudRateAnswer(m_state.canBaudCode));
        }
    } else if (command.size() == 8 && startsWith(command, "AT VIN=") &&
               (command[7] == '0' || command[7] == '1')) {
        ++m_counts.vinStyle;
        m_state.vinStyle = command[7];
        if (m_config.acknowledgeSettings) {
            queueFrame(link::device::vinStyleAnswer(m_state.vinStyle));
        }
    } else {
        ++m_counts.unknown;
    }
}

void QuennetDevice::handleKey(std::uint8_t code) {
    // Unknown key codes are acknowledged like the others and change nothing.
    switch (static_cast<link::Key>(code)) {
        case link::Key::Down:
            if (m_state.position > 0) {
                --m_state.position;
            }
            break;
        case link::Key::Up:
            if (m_state.position < kMaxPosition) {
                ++m_state.position;
            }
            break;
        case link::Key::Dynamic:
            m_state.status ^= kStatusDynamicOn;
            break;
        case link::Key::Quiet:
            m_state.status ^= kStatusQuietOff;
            break;
    }
}

void QuennetDevice::answerIdentify() {
    // The revision goes first: a receiver that gets the identity before the revision ignores
    // it.
    queueFrame(link::device::revisionAnswer(m_config.revision));
    queueFrame(link::device::buildAnswer(m_config.buildText));
    queueFrame(link::device::canBaudRateAnswer(m_state.canBaudCode));
    queueFrame(link::device::vinStyleAnswer(m_state.vinStyle));
    std::string identity =
        link::device::identityAnswer({m_faults.productIdOverride.value_or(m_config.productId),
                                      m_config.serialNumber, m_config.versionByte});
    if (m_faults.badChecksums) {
        spoilChecksum(identity);
    }
    queueFrame(std::move(identity));
}

void QuennetDevice::queueBroadcast(std::string frame) {
    if (pendingBytes() > kBroadcastBacklog) {
        ++m_droppedBroadcasts;
        return;
    }
    if (m_faults.badChecksums) {
        spoilChecksum(frame);
    }
    queueFrame(std::move(frame));
}

void QuennetDevice::queueFrame(std::string frame) {
    if (m_faults.silent) {
        return;
    }
    if (m_faults.lowerCase) {
        for (char& c : frame) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    frame.insert(0, m_faults.garbage);
    if (pendingBytes() + frame.size() > kMaxPending) {
        return;
    }
    if (pendingBytes() == 0) {
        m_lineCredit = std::min(m_lineCredit, kOneByte);
    }
    std::size_t at = m_out.size();
    m_out += frame;
    if (m_faults.splitPieceMax > 0) {
        while (at < m_out.size()) {
            at += 1 + m_random() % m_faults.splitPieceMax;
            m_cuts.push_back(std::min(at, m_out.size()));
        }
    }
}

std::string QuennetDevice::transmit(std::uint32_t nowMs) {
    advance(nowMs);
    if (pendingBytes() == 0 || m_holdMs > 0) {
        return {};
    }
    std::size_t count = std::min<std::size_t>(pendingBytes(), m_lineCredit / kOneByte);
    if (!m_cuts.empty()) {
        count = std::min(count, m_cuts.front() - m_outHead);
    }
    if (count == 0) {
        return {};
    }
    std::string out = m_out.substr(m_outHead, count);
    m_outHead += count;
    m_lineCredit -= count * kOneByte;
    if (!m_cuts.empty() && m_cuts.front() == m_outHead) {
        m_cuts.pop_front();
        m_holdMs = kSplitGapMs;
    }

    if (m_faults.corruptOneIn > 0) {
        for (char& c : out) {
            if (m_random() % m_faults.corruptOneIn == 0) {
                c = static_cast<char>(static_cast<unsigned char>(c) ^ (1u + m_random() % 255u));
            }
        }
    }

    if (m_outHead == m_out.size()) {
        m_out.clear();
        m_outHead = 0;
    } else if (m_outHead >= kMaxPending) {
        m_out.erase(0, m_outHead);
        for (std::size_t& cut : m_cuts) {
            cut -= m_outHead;
        }
        m_outHead = 0;
    }
    return out;
}

std::uint32_t QuennetDevice::msUntilDue(std::uint32_t nowMs) {
    advance(nowMs);
    if (pendingBytes() > 0) {
        if (m_holdMs > 0) {
            return m_holdMs;
        }
        return m_lineCredit >= kOneByte ? 0 : 1;
    }
    std::uint64_t due = 1000 - m_clockCreditMs;
    if (m_config.broadcastRate > 0) {
        const std::uint64_t rate = m_config.broadcastRate;
        due = std::min(due, (1000 - m_broadcastCredit + rate - 1) / rate);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(due, 1000));
}

}  // namespace orvale::sim
