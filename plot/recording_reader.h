#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plot/series_store.h"

namespace orvale::plot {

/// The device's identity as a recording's identity columns give it.
struct RecordingIdentity {
    std::string model;
    std::string serialNumber;
    std::string firmwareVersion;
    std::string firmwareBuild;
    std::string canBaudRate;
    std::string vinStyle;

    friend bool operator==(const RecordingIdentity&, const RecordingIdentity&) = default;
};

/// A recording written by `Orvale --log`, read for the plot: the numbers and LEDs of each row
/// with its time, and the device's identity.
struct Recording {
    /// Every series of the file, held whole: a point per change, at most one per screen refresh
    /// (as live), so it takes at most 16 bytes per row and series and seldom a fraction of it.
    SeriesStore store{kUnbounded};
    /// The series whose column the file has.
    std::array<bool, kSeriesCount> present{};
    /// The identity of the last row read; it may have changed during the recording (a new CAN
    /// baud rate), in which case identityChanges counts the changes.
    RecordingIdentity identity;
    std::size_t identityChanges = 0;
    std::size_t rowsRead = 0;
    /// Rows that could not be read, skipped: never guessed at. problems says why for the first
    /// kProblemsKept of them ("line 12: ...").
    std::size_t rowsSkipped = 0;
    std::vector<std::string> problems;
    /// The file ends in the middle of a row (a copy cut short): that row's line, left out.
    std::optional<std::size_t> cutShortAtLine;
    /// The recording's own last row said it stopped ("recording stopped: No space left on
    /// device"): the reason, without the words before it.
    std::string stoppedReason;

    static constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);
    static constexpr std::size_t kProblemsKept = 10;
};

/// A file that is not a recording: why, and the line at fault (1 for the header).
struct RecordingError {
    std::size_t line = 0;
    std::string reason;
};

/// The result of a read: the recording, or why there is none.
struct ReadResult {
    std::optional<Recording> recording;
    RecordingError error;
};

/// Reads a recording from `in`. The header must start with the columns every recording starts
/// with (time, position, the six identity columns); parameter columns are recognised by name,
/// in any order, and other columns are ignored. A row is read only when every cell of a
/// recognised column reads: times in ISO 8601 with milliseconds and offset, not before the
/// row above; positions 0 to 255; numbers in full; LEDs 0 or 1.
[[nodiscard]] ReadResult readRecording(std::istream& in);
[[nodiscard]] ReadResult readRecording(std::string_view text);
/// The same from the file at `path`; a file that cannot be opened is an error at line 0.
[[nodiscard]] ReadResult readRecordingFile(const std::string& path);

}  // namespace orvale::plot
