#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "link/protocol.h"

/// Drive profiles: a drive written down as a CSV file (time, position, an optional key) that
/// Orvale replays against the device, the same every time. Plain C++, no Qt.
namespace orvale::profile {

/// A larger file is refused without being parsed: 16 MiB.
inline constexpr std::size_t kMaxFileBytes = std::size_t{16} << 20;
/// A longer line (line end not counted) is refused: 4 KiB.
inline constexpr std::size_t kMaxLineBytes = std::size_t{4} << 10;
/// The latest time a row may have, in seconds (about 31 years): keeps every time, in
/// milliseconds, far inside the range where a double counts milliseconds exactly.
inline constexpr double kMaxTimeSeconds = 1e9;

/// One row of a profile.
struct ProfileRow {
    std::uint64_t timeMs = 0;  ///< from the start of the profile, rounded to the millisecond
    double position = 0;       ///< 0 to 100, as written (50.5 stays 50.5)
    std::optional<link::Key> key;
    std::size_t line = 0;  ///< 1-based line of the file the row came from

    friend bool operator==(const ProfileRow&, const ProfileRow&) = default;
};

/// A parsed profile. Rows are in strictly increasing time; parseProfile gives at least one.
struct Profile {
    std::string name;  ///< the file name it was read from, for messages
    std::vector<ProfileRow> rows;

    /// The time of the last row: the profile ends there.
    [[nodiscard]] std::uint64_t durationMs() const;
    /// The position at `timeMs`: linear between rows; the first row's before it, the last
    /// row's after it. Exactly the row's position at a row's time. 0 for a profile without rows.
    [[nodiscard]] double positionAt(std::uint64_t timeMs) const;
};

/// Why a profile was refused.
struct ProfileError {
    std::string fileName;
    std::size_t line = 0;  ///< 1-based, as an editor counts; 0 when it is about the whole file
    std::string reason;    ///< "position 120 is outside 0 to 100"

    /// "drive.csv:7: position 120 is outside 0 to 100", or "drive.csv: no rows" for the file.
    [[nodiscard]] std::string message() const;
};

using ProfileResult = std::variant<Profile, ProfileError>;

/// Parses a profile. The first line that is neither blank nor a comment ("#" as its first
/// character after blanks) is the header, "time_s,position" or "time_s,position,key" (names
/// compared case-insensitively, blanks around each allowed); every later such line is a row:
/// a time in seconds (>= 0, strictly after the previous row's time, to the millisecond), a
/// position 0 to 100 and, under the three-column header, an optional key ("down", "up",
/// "dynamic" or "quiet", any case). LF or CR LF line ends; a UTF-8 byte-order mark is skipped.
/// Refuses the whole file at its first fault; nothing is partly accepted.
[[nodiscard]] ProfileResult parseProfile(std::string_view text, std::string_view fileName);

/// Reads and parses the file at `path` (named in messages as `path` is written). Only a regular
/// file is read, and never waited on: a FIFO or a device is refused, as is a file larger than
/// kMaxFileBytes.
[[nodiscard]] ProfileResult loadProfile(const std::string& path);

}  // namespace orvale::profile
