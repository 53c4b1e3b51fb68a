#include "link/protocol.h"

#include <algorithm>
#include <cstdio>

namespace orvale::link {
namespace {

constexpr char hexDigit(unsigned nibble) {
    return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

constexpr std::array<std::string_view, 8> kModelNames = {
    "Quennet Basic", "Quennet Basic Plus", "Quennet Truck", "Quennet Truck Plus",
    "Quennet Bus",   "Quennet Bus Plus",   "Quennet Duo",   "Quennet Duo Plus",
};

constexpr std::array<std::string_view, 5> kCanBaudRates = {
    "250K bps", "62.5K bps", "125K bps", "500K bps", "1M bps",
};

void appendHexPair(std::string& out, std::uint8_t value) {
    const auto pair = encodeHexPair(value);
    out.append(pair.data(), pair.size());
}

void appendCrLf(std::string& out) {
    out.push_back(kCr);
    out.push_back(kLf);
}

// A message, its checksum pair, CR LF.
std::string withChecksum(std::string body) {
    appendHexPair(body, checksumOf(body));
    appendCrLf(body);
    return body;
}

}  // namespace

std::array<char, 2> encodeHexPair(std::uint8_t value) {
    return {hexDigit(value & 0x0Fu), hexDigit(static_cast<unsigned>(value) >> 4)};
}

std::uint8_t decodeHexPair(char low, char high) {
    // The device firmware's arithmetic, including what it makes of non-hex characters.
    const auto h = static_cast<unsigned char>(high);
    const auto l = static_cast<unsigned char>(low);
    const unsigned highPart = ((h < 'A' ? h : h + 9u) * 16u) & 0xFFu;
    const unsigned lowPart = l < 'A' ? l - 48u : l - 55u;
    return static_cast<std::uint8_t>((highPart + lowPart) & 0xFFu);
}

std::uint8_t decodeHexPairAt(std::string_view frame, std::size_t offset) {
    return decodeHexPair(frame[offset], frame[offset + 1]);
}

std::uint8_t byteSum(std::string_view covered) {
    unsigned sum = 0;
    for (const char c : covered) {
        sum += static_cast<unsigned char>(c);
    }
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

std::uint8_t checksumOf(std::string_view covered) {
    return static_cast<std::uint8_t>((0x100u - byteSum(covered)) & 0xFFu);
}

bool checksumGood(std::string_view frame, std::size_t covered) {
    if (frame.size() < covered + 2) {
        return false;
    }
    const unsigned total = byteSum(frame.substr(0, covered)) + decodeHexPairAt(frame, covered);
    return (total & 0xFFu) == 0;
}

std::string identifyCommand() { return "AT ID?\r\n"; }

std::string keyCommand(std::uint8_t keyCode) {
    std::string body = "AT KI";
    appendHexPair(body, keyCode);
    return withChecksum(std::move(body));
}

std::string keyCommand(Key key) { return keyCommand(static_cast<std::uint8_t>(key)); }

std::string positionCommand(std::uint8_t position) {
    std::string body = "AT %";
    appendHexPair(body, position);
    return withChecksum(std::move(body));
}

std::string canBaudRateCommand(std::string_view rateText) {
    std::string command = "AT CBRS=00\r\n";
    // The code travels as "0" and a digit in ordinary order, the one field that is not a
    // low-nibble-first pair.
    command[9] = static_cast<char>('0' + canBaudRateCode(rateText));
    return command;
}

std::string vinStyleCommand(std::string_view styleText) {
    return styleText == "Fixed" ? "AT VIN=1\r\n" : "AT VIN=0\r\n";
}

std::optional<std::string_view> modelName(std::uint8_t productId) {
    if (!isKnownModel(productId)) {
        return std::nullopt;
    }
    return kModelNames[static_cast<std::size_t>(productId - 8)];
}

std::string_view canBaudRateText(int code) {
    if (code < 0 || code >= static_cast<int>(kCanBaudRates.size())) {
        return "invalid";
    }
    return kCanBaudRates[static_cast<std::size_t>(code)];
}

int canBaudRateCode(std::string_view rateText) {
    const auto it = std::find(kCanBaudRates.begin(), kCanBaudRates.end(), rateText);
    return it == kCanBaudRates.end() ? 0 : static_cast<int>(it - kCanBaudRates.begin());
}

std::optional<std::string_view> vinStyleText(char code) {
    if (code == '0') {
        return "Variable";
    }
    if (code == '1') {
        return "Fixed";
    }
    return std::nullopt;
}

std::array<char, 5> firmwareVersionText(std::uint16_t versionNumber, char revision,
                                        char previousHundreds) {
    const unsigned hundreds = (versionNumber / 100u) % 10u;
    return {
        hundreds != 0 ? static_cast<char>('0' + hundreds) : previousHundreds,
        static_cast<char>('0' + (versionNumber / 10u) % 10u),
        '.',
        static_cast<char>('0' + versionNumber % 10u),
        revision,
    };
}

Identity decodeIdentity(std::string_view frame) {
    Identity identity;
    identity.productId = decodeHexPairAt(frame, 6);
    for (std::size_t i = 0; i < 4; ++i) {
        identity.serialNumber |= static_cast<std::uint32_t>(decodeHexPairAt(frame, 8 + 2 * i))
                                 << (8 * i);
    }
    identity.versionByte = decodeHexPairAt(frame, 16);
    return identity;
}

PositionStatus decodePositionStatus(std::string_view frame) {
    return {decodeHexPairAt(frame, 6), decodeHexPairAt(frame, 8)};
}

ClockTime decodeClock(std::string_view frame) {
    return {decodeHexPairAt(frame, 7), decodeHexPairAt(frame, 9), decodeHexPairAt(frame, 11)};
}

std::string clockText(const ClockTime& time) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", time.hours, time.minutes,
                  time.quarterSeconds / 4);
    return text;
}

namespace device {

std::string positionAck() { return "ACK %\r\n"; }
std::string keyAck() { return "ACK KI\r\n"; }

std::string revisionAnswer(char letter) {
    std::string frame = "ACK REV";
    frame.push_back(letter);
    appendCrLf(frame);
    return frame;
}

std::string vinStyleAnswer(char code) {
    std::string frame = "ACK VIN=";
    frame.push_back(code);
    appendCrLf(frame);
    return frame;
}

std::string canBaudRateAnswer(int code) {
    std::string frame = "ACK CBRS=0";
    frame.push_back(static_cast<char>('0' + code));
    appendCrLf(frame);
    return frame;
}

std::string identityAnswer(const Identity& identity) {
    std::string body = "ACK ID";
    appendHexPair(body, identity.productId);
    for (unsigned i = 0; i < 4; ++i) {
        appendHexPair(body, static_cast<std::uint8_t>((identity.serialNumber >> (8 * i)) & 0xFFu));
    }
    appendHexPair(body, identity.versionByte);
    return withChecksum(std::move(body));
}

std::string buildAnswer(std::string_view buildText) {
    std::string frame = "ACK BN";
    std::string text(buildText.substr(0, kBuildTextLength));
    text.resize(kBuildTextLength, ' ');
    frame += text;
    appendCrLf(frame);
    return frame;
}

std::string positionStatusBroadcast(const PositionStatus& value) {
    std::string body = "BRC %S";
    appendHexPair(body, value.position);
    appendHexPair(body, value.status);
    return withChecksum(std::move(body));
}

std::string clockBroadcast(const ClockTime& time) {
    std::string body = "BRC CLK";
    appendHexPair(body, time.hours);
    appendHexPair(body, time.minutes);
    appendHexPair(body, time.quarterSeconds);
    return withChecksum(std::move(body));
}

}  // namespace device
}  // namespace orvale::link
