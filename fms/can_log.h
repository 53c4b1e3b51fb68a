#pragma once

// CAN frames in the two text formats other tools read: the candump log of Linux can-utils
// (canplayer replays it, log2asc converts it, python-can reads it) and Vector's ASC.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fms/can_frame.h"

namespace orvale::fms {

/// One line of a candump log.
struct LogLine {
    std::uint64_t timeUs = 0;    ///< microseconds since the epoch
    std::string_view interface;  ///< "can0"; points into the parsed text
    CanFrame frame;
};

/// Appends `frame` as a candump log line and "\n":
/// "(1700000000.123456) can0 18FEF100#F3CCC81DFFFF1FFF". The ID has 8 hex digits for an
/// extended frame and 3 for a standard one; the data is the frame's DLC bytes.
void appendCandumpLine(std::string& out, const CanFrame& frame, std::uint64_t timeUs,
                       std::string_view interface);

/// Reads a candump log line (a trailing LF, CR or blanks are allowed). Nothing for anything but a
/// classic data frame: comments, remote and CAN FD frames, malformed text.
[[nodiscard]] std::optional<LogLine> parseCandumpLine(std::string_view line) noexcept;

/// Appends the head of an ASC file whose measurement starts at `startUs` (microseconds since
/// the epoch, written as UTC): "date ...", "base hex  timestamps absolute",
/// "internal events logged", "Begin Triggerblock ..." and "Start of measurement".
void appendAscHeader(std::string& out, std::uint64_t startUs);

/// Appends `frame`, received `sinceStartUs` after the start of measurement on `channel` (1 for
/// the first): "   0.123456 1  18FEF100x       Rx   d 8 F3 CC C8 1D FF FF 1F FF".
void appendAscLine(std::string& out, const CanFrame& frame, std::uint64_t sinceStartUs,
                   unsigned channel = 1);

/// Appends "End TriggerBlock", which closes an ASC file.
void appendAscFooter(std::string& out);

}  // namespace orvale::fms
