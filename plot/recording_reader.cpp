#include "plot/recording_reader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "plot/iso_time.h"

namespace orvale::plot {
namespace {

// Every recording starts with these columns; the parameter columns follow.
constexpr std::array<std::string_view, 8> kLeadingColumns = {
    "time",           "position",      "model",    "serial number", "firmware version",
    "firmware build", "CAN baud rate", "VIN style"};
constexpr std::size_t kTimeColumn = 0;
constexpr std::size_t kPositionColumn = 1;
constexpr std::size_t kModelColumn = 2;
constexpr std::string_view kStopped = "recording stopped: ";

// Splits one CSV record into its cells, quotes undone. False when a quote stands where CSV
// allows none (inside an unquoted cell, or text after a closing quote).
bool splitRecord(std::string_view record, std::vector<std::string>& cells) {
    cells.clear();
    cells.emplace_back();
    bool quoted = false;
    bool closed = false;  // the current cell was quoted and its quote closed
    for (std::size_t i = 0; i < record.size(); ++i) {
        const char c = record[i];
        if (quoted) {
            if (c != '"') {
                cells.back().push_back(c);
            } else if (i + 1 < record.size() && record[i + 1] == '"') {
                cells.back().push_back('"');
                ++i;
            } else {
                quoted = false;
                closed = true;
            }
        } else if (c == ',') {
            cells.emplace_back();
            closed = false;
        } else if (closed) {
            return false;
        } else if (c == '"') {
            if (!cells.back().empty()) return false;
            quoted = true;
        } else {
            cells.back().push_back(c);
        }
    }
    return !quoted;
}

// A cell that is a number in full: "12.5", "-3", "nan". No blanks, no "+".
std::optional<double> numberIn(std::string_view cell) {
    double value = 0;
    const char* end = cell.data() + cell.size();
    const auto [stop, error] = std::from_chars(cell.data(), end, value);
    if (cell.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// Longer than any row of a recording by far; a file that is no CSV at all (an open quote near
// its start) is not read whole into one record.
constexpr std::size_t kMaxRecordBytes = std::size_t{1} << 20;

// Reads one CSV record: a line, and the lines after it while a quoted cell is open (a quoted
// cell may hold a line end). `ended` tells whether the record's last line had its line end.
bool readRecordText(std::istream& in, std::string& record, std::size_t& line, bool& ended) {
    record.clear();
    std::string piece;
    bool any = false;
    while (std::getline(in, piece)) {
        ++line;
        ended = !in.eof();
        if (!piece.empty() && piece.back() == '\r') piece.pop_back();
        if (any) record.push_back('\n');
        record += piece;
        any = true;
        if (std::count(record.begin(), record.end(), '"') % 2 == 0 || !ended ||
            record.size() > kMaxRecordBytes) {
            return true;
        }
    }
    return any;
}

struct Column {
    std::size_t cell;
    std::size_t series;
};

class Reader {
public:
    explicit Reader(std::istream& in) : m_in(in) {}

    ReadResult read() {
        ReadResult result;
        if (!readHeader(result.error)) return result;
        Recording& recording = result.recording.emplace();
        for (const Column& column : m_columns) recording.present[column.series] = true;
        while (true) {
            const std::size_t start = m_line + 1;
            bool ended = true;
            if (!readRecordText(m_in, m_record, m_line, ended)) break;
            if (!ended) {
                // The recorder writes whole lines only: a last line without its end is a file
                // cut short, and its last cell may be cut too.
                recording.cutShortAtLine = start;
                break;
            }
            readRow(recording, start);
        }
        recording.store.shrinkToFit();
        return result;
    }

private:
    bool readHeader(RecordingError& error) {
        bool ended = true;
        if (!readRecordText(m_in, m_record, m_line, ended)) {
            error = {1, "the file is empty, not a recording of Orvale"};
            return false;
        }
        std::string_view text = m_record;
        if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // an editor's BOM
        const std::string expected = [] {
            std::string names;
            for (const std::string_view name : kLeadingColumns) {
                if (!names.empty()) names.push_back(',');
                names += name;
            }
            return names;
        }();
        if (!splitRecord(text, m_cells) || m_cells.size() < kLeadingColumns.size() ||
            !std::equal(kLeadingColumns.begin(), kLeadingColumns.end(), m_cells.begin())) {
            const std::string found(text.substr(0, std::min<std::size_t>(text.size(), 80)));
            error = {1, "not a recording of Orvale: its header starts \"" + found +
                            "\" instead of \"" + expected + "\""};
            return false;
        }
        if (!ended) {
            error = {1, "the file ends within its header"};
            return false;
        }
        m_width = m_cells.size();
        std::array<bool, kSeriesCount> taken{};
        for (std::size_t cell = kLeadingColumns.size(); cell < m_cells.size(); ++cell) {
            const auto series = findSeries(m_cells[cell]);
            // Text boxes are not plotted; a column named twice counts once.
            if (!series || taken[*series] || m_cells[cell] != columnName(*series)) continue;
            taken[*series] = true;
            m_columns.push_back({cell, *series});
        }
        if (m_columns.empty()) {
            error = {1,
                     "not a recording of Orvale: none of its columns is a numeric display or "
                     "an LED"};
            return false;
        }
        return true;
    }

    void readRow(Recording& recording, std::size_t line) {
        const auto skip = [&](const std::string& why) {
            ++recording.rowsSkipped;
            if (recording.problems.size() < Recording::kProblemsKept) {
                recording.problems.push_back("line " + std::to_string(line) + ": " + why);
            }
        };
        if (!splitRecord(m_record, m_cells)) return skip("a quote out of place");
        if (m_cells.size() != m_width) {
            return skip(std::to_string(m_cells.size()) + " cells where the header has " +
                        std::to_string(m_width));
        }
        const std::optional<TimeMs> time = parseIsoTime(m_cells[kTimeColumn]);
        if (!time) return skip("the time \"" + m_cells[kTimeColumn] + "\" does not read");
        if (m_lastTime && *time < *m_lastTime) return skip("its time is before the row above");
        if (m_cells[kPositionColumn].empty() && m_cells[kModelColumn].starts_with(kStopped)) {
            recording.stoppedReason = m_cells[kModelColumn].substr(kStopped.size());
            recording.store.extendTo(*time);
            return;
        }
        const auto position = numberIn(m_cells[kPositionColumn]);
        if (!position || *position < 0 || *position > 255 ||
            *position != static_cast<int>(*position)) {
            return skip("the position \"" + m_cells[kPositionColumn] + "\" does not read");
        }
        m_values.clear();
        for (const Column& column : m_columns) {
            const std::string& cell = m_cells[column.cell];
            std::optional<double> value;
            if (seriesInfo(column.series).led) {
                if (cell == "0" || cell == "1") value = cell == "1" ? 1.0 : 0.0;
            } else {
                value = numberIn(cell);
            }
            if (!value) {
                return skip("\"" + columnName(column.series) + "\" holds \"" + cell + "\", not a " +
                            (seriesInfo(column.series).led ? "0 or 1" : "number"));
            }
            m_values.push_back(*value);
        }
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            recording.store.record(*time, m_columns[i].series, m_values[i]);
        }
        RecordingIdentity identity{m_cells[2], m_cells[3], m_cells[4],
                                   m_cells[5], m_cells[6], m_cells[7]};
        if (recording.rowsRead > 0 && identity != recording.identity) ++recording.identityChanges;
        recording.identity = std::move(identity);
        ++recording.rowsRead;
        m_lastTime = time;
    }

    std::istream& m_in;
    std::size_t m_line = 0;
    std::size_t m_width = 0;
    std::vector<Column> m_columns;
    std::string m_record;
    std::vector<std::string> m_cells;
    std::vector<double> m_values;
    std::optional<TimeMs> m_lastTime;
};

}  // namespace

ReadResult readRecording(std::istream& in) { return Reader(in).read(); }

ReadResult readRecording(std::string_view text) {
    std::istringstream in{std::string(text)};
    return readRecording(in);
}

ReadResult readRecordingFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ReadResult result;
        result.error = {0, "cannot open " + path + ": " + std::strerror(errno)};
        return result;
    }
    return readRecording(in);
}

}  // namespace orvale::plot
