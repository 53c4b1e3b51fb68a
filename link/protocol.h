#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// The line protocol spoken with a Quennet device, in both directions, byte for byte.
/// Nothing here does I/O: builders return complete messages (CR LF included) and the
/// decoders read fields out of frames that the framer has already cut.
namespace orvale::link {

inline constexpr char kCr = '\r';
inline constexpr char kLf = '\n';

/// A byte as the device writes it: two upper-case hex digits, LOW nibble first.
/// 11 is "B0", 100 is "46".
std::array<char, 2> encodeHexPair(std::uint8_t value);

/// Decodes a pair written low nibble first. There is no validation: characters that are not
/// hex digits decode by the same arithmetic the device's own firmware uses (a low "G" adds 16).
std::uint8_t decodeHexPair(char low, char high);

/// Decodes the pair at `offset` of `frame` (the caller guarantees offset + 1 < size).
std::uint8_t decodeHexPairAt(std::string_view frame, std::size_t offset);

/// The 8-bit sum of the character codes of `covered`.
std::uint8_t byteSum(std::string_view covered);

/// The checksum byte sent after `covered`: two's complement of the 8-bit sum.
std::uint8_t checksumOf(std::string_view covered);

/// True when the first `covered` characters of `frame` plus the pair that follows them sum
/// to 0 modulo 256.
bool checksumGood(std::string_view frame, std::size_t covered);

/// Key codes carried by the key command.
enum class Key : std::uint8_t {
    Down = 1,
    Up = 2,
    Dynamic = 0x52,  // the letter "R", sent as the pair "25"
    Quiet = 0x43,    // the letter "C", sent as the pair "34"
};

/// "AT ID?" CR LF: 8 bytes.
std::string identifyCommand();
/// "AT KI", the key code, the checksum, CR LF: 11 bytes.
std::string keyCommand(std::uint8_t keyCode);
std::string keyCommand(Key key);
/// "AT %", the position, the checksum, CR LF: 10 bytes.
std::string positionCommand(std::uint8_t position);
/// "AT CBRS=0" + code digit + CR LF: 12 bytes. A text outside the table gives code 0.
std::string canBaudRateCommand(std::string_view rateText);
/// "AT VIN=" + "1" for exactly "Fixed", "0" otherwise + CR LF: 10 bytes.
std::string vinStyleCommand(std::string_view styleText);

/// The model name of a known product ID (8 to 15); nothing for any other ID.
std::optional<std::string_view> modelName(std::uint8_t productId);

/// True for the models that can be remote-controlled: 9, 11, 13 and 15.
constexpr bool isPlusModel(std::uint8_t productId) {
    return productId == 9 || productId == 11 || productId == 13 || productId == 15;
}
constexpr bool isKnownModel(std::uint8_t productId) { return productId >= 8 && productId <= 15; }

/// Text of a CAN baud rate code 0 to 4; "invalid" for any other code.
std::string_view canBaudRateText(int code);
/// Code 0 to 4 of a rate text; 0 for a text outside the table.
int canBaudRateCode(std::string_view rateText);

/// Text of a VIN style code character: '0' "Variable", '1' "Fixed", anything else nothing.
std::optional<std::string_view> vinStyleText(char code);

/// The CAN baud rates a device can be set to, in the order the settings dialog lists them.
inline constexpr std::array<std::string_view, 5> kCanBaudRateChoices = {
    "250K bps", "500K bps", "62.5K bps", "125K bps", "1M bps"};
/// The VIN styles a device can be set to, in the dialog's order.
inline constexpr std::array<std::string_view, 2> kVinStyleChoices = {"Fixed", "Variable"};

/// True when a device's settings may be changed: an identified device whose firmware version
/// text is " 0.3B" or " 0.3C" exactly.
constexpr bool settingsChangeAllowed(bool deviceIdentified, std::string_view versionText) {
    return deviceIdentified && (versionText == " 0.3B" || versionText == " 0.3C");
}

/// Five characters: hundreds digit of `versionNumber` (or `previous[0]` when below 100), tens
/// digit, '.', units digit, `revision`. Version 3 with "B" is " 0.3B".
std::array<char, 5> firmwareVersionText(std::uint16_t versionNumber, char revision,
                                        char previousHundreds = ' ');

/// Frame lengths (CR LF included) by which the receiver recognises each frame.
namespace frame_length {
inline constexpr std::size_t kPositionAck = 7;
inline constexpr std::size_t kKeyAck = 8;
inline constexpr std::size_t kRevision = 10;
inline constexpr std::size_t kVinStyle = 11;
inline constexpr std::size_t kCanBaudRate = 13;
inline constexpr std::size_t kIdentity = 22;
inline constexpr std::size_t kBuild = 30;
inline constexpr std::size_t kPositionStatus = 14;
inline constexpr std::size_t kClock = 17;
}  // namespace frame_length

/// Length of the build text carried by the build frame.
inline constexpr std::size_t kBuildTextLength = 22;

struct Identity {
    std::uint8_t productId = 0;
    std::uint32_t serialNumber = 0;
    std::uint8_t versionByte = 0;  ///< version number is versionByte + 1
};

struct PositionStatus {
    std::uint8_t position = 0;
    std::uint8_t status = 0;  ///< bit 0 set: Quiet off; bit 1 set: Dynamic on
};

struct ClockTime {
    std::uint8_t hours = 0;
    std::uint8_t minutes = 0;
    std::uint8_t quarterSeconds = 0;  ///< seconds in units of 0.25 s
};

/// Field decoders for frames of the right length (checked by the caller).
Identity decodeIdentity(std::string_view frame);
PositionStatus decodePositionStatus(std::string_view frame);
ClockTime decodeClock(std::string_view frame);
/// "%.2d:%.2d:%.2d" of hours, minutes and whole seconds.
std::string clockText(const ClockTime& time);

/// Device-side builders: what a Quennet device sends. The simulated device and the tests use
/// them; they are the exact inverse of the decoders above.
namespace device {
std::string positionAck();                ///< "ACK %" CR LF
std::string keyAck();                     ///< "ACK KI" CR LF
std::string revisionAnswer(char letter);  ///< "ACK REV" letter CR LF
std::string vinStyleAnswer(char code);    ///< "ACK VIN=" code CR LF
std::string canBaudRateAnswer(int code);  ///< "ACK CBRS=0" digit CR LF
std::string identityAnswer(const Identity& identity);
std::string buildAnswer(std::string_view buildText);  ///< padded or cut to 22 characters
std::string positionStatusBroadcast(const PositionStatus& value);
std::string clockBroadcast(const ClockTime& time);
}  // namespace device

}  // namespace orvale::link
