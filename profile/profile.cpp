#include "profile/profile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvale::profile {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kHeaderForms = "time_s,position or time_s,position,key";
/// Longest piece of the file quoted back in a message.
constexpr std::size_t kMaxShown = 40;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char toLowerAscii(char c) {
    // ASCII only: the result must not depend on the user's locale.
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return toLowerAscii(x) == toLowerAscii(y);
           });
}

/// `text` as a message shows it: cut (on a character boundary) when it is long, since a refused
/// field may be 4 KiB of anything.
std::string shown(std::string_view text) {
    if (text.size() <= kMaxShown) {
        return std::string(text);
    }
    std::size_t cut = kMaxShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0U) == 0x80U) {
        --cut;
    }
    return std::string(text.substr(0, cut)) + "...";
}

std::string quoted(std::string_view text) { return "\"" + shown(text) + "\""; }

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t begin = 0;
    while (true) {
        const std::size_t comma = line.find(',', begin);
        fields.push_back(trimmed(line.substr(begin, comma - begin)));
        if (comma == std::string_view::npos) {
            return fields;
        }
        begin = comma + 1;
    }
}

/// A number field of a row, or why it is not one. `what` names the column in the reason.
struct Number {
    double value = 0;
    std::string problem;
};

Number parseNumber(std::string_view field, std::string_view what) {
    Number number;
    const std::string name(what);
    if (field.empty()) {
        number.problem = name + " is missing";
        return number;
    }
    // from_chars: the C locale's decimal point whatever the user's locale is.
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(),
                                              number.value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        number.problem = name + " " + quoted(field) + " is out of range";
    } else if (error != std::errc{} || end != field.data() + field.size()) {
        number.problem = name + " " + quoted(field) + " is not a number";
    } else if (!std::isfinite(number.value)) {
        number.problem = name + " " + shown(field) + " is not a finite number";
    }
    return number;
}

std::optional<link::Key> keyNamed(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, link::Key>, 4> kKeys{{
        {"down", link::Key::Down},
        {"up", link::Key::Up},
        {"dynamic", link::Key::Dynamic},
        {"quiet", link::Key::Quiet},
    }};
    for (const auto& [text, key] : kKeys) {
        if (equalsIgnoringCase(name, text)) {
            return key;
        }
    }
    return std::nullopt;
}

/// The number of columns a header line names (2 or 3); 0 when it is no header.
std::size_t headerColumns(const std::vector<std::string_view>& names) {
    static constexpr std::array<std::string_view, 3> kNames{"time_s", "position", "key"};
    if (names.size() < 2 || names.size() > kNames.size()) {
        return 0;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!equalsIgnoringCase(names[i], kNames[i])) {
            return 0;
        }
    }
    return names.size();
}

class Parser {
public:
    explicit Parser(std::string_view fileName) : m_fileName(fileName) {}

    ProfileResult parse(std::string_view text) {
        if (text.size() > kMaxFileBytes) {
            return fail(0, "larger than 16 MiB");
        }
        if (text.starts_with(kByteOrderMark)) {
            text.remove_prefix(kByteOrderMark.size());
        }
        std::size_t begin = 0;
        while (begin < text.size()) {
            ++m_line;
            const std::size_t lf = text.find('\n', begin);
            std::string_view line = text.substr(begin, lf - begin);
            begin = lf == std::string_view::npos ? text.size() : lf + 1;
            if (line.ends_with('\r')) {
                line.remove_suffix(1);
            }
            if (line.size() > kMaxLineBytes) {
                return fail(m_line, "line is longer than 4 KiB");
            }
            const std::string_view content = trimmed(line);
            if (content.empty() || content.front() == '#') {
                continue;
            }
            if (!parseLine(content)) {
                return *m_error;
            }
        }
        if (m_columns == 0) {
            return fail(0,
                        std::string("no header (") + std::string(kHeaderForms) + ") and no rows");
        }
        if (m_profile.rows.empty()) {
            return fail(0, "no rows after the header");
        }
        return std::move(m_profile);
    }

private:
    bool parseLine(std::string_view content) {
        const std::vector<std::string_view> fields = splitFields(content);
        if (m_columns == 0) {
            m_columns = headerColumns(fields);
            if (m_columns != 0) {
                return true;
            }
            // A first line that starts with a number is a row whose header was left out.
            if (parseNumber(fields.front(), "time").problem.empty()) {
                return refuse("missing header: the first line must be " +
                              std::string(kHeaderForms));
            }
            return refuse("unknown header " + quoted(content) + ": expected " +
                          std::string(kHeaderForms));
        }
        if (fields.size() > m_columns) {
            return refuse(std::to_string(fields.size()) + " fields where the header has " +
                          std::to_string(m_columns));
        }

        ProfileRow row;
        row.line = m_line;
        const Number time = parseNumber(fields[0], "time");
        if (!time.problem.empty()) {
            return refuse(time.problem);
        }
        if (time.value < 0) {
            return refuse("time " + shown(fields[0]) + " is negative");
        }
        if (time.value > kMaxTimeSeconds) {
            return refuse("time " + shown(fields[0]) + " is later than 1000000000 s");
        }
        row.timeMs = static_cast<std::uint64_t>(std::llround(time.value * 1000.0));
        if (!m_profile.rows.empty() && row.timeMs <= m_profile.rows.back().timeMs) {
            // Compared to the millisecond, the resolution at which the profile is played.
            return refuse("time " + shown(fields[0]) + " is not after the time " + m_previousTime +
                          " on line " + std::to_string(m_profile.rows.back().line));
        }

        const Number position = parseNumber(fields.size() > 1 ? fields[1] : "", "position");
        if (!position.problem.empty()) {
            return refuse(position.problem);
        }
        if (position.value < 0 || position.value > 100) {
            return refuse("position " + shown(fields[1]) + " is outside 0 to 100");
        }
        row.position = position.value;

        if (fields.size() > 2 && !fields[2].empty()) {
            row.key = keyNamed(fields[2]);
            if (!row.key) {
                return refuse("unknown key " + quoted(fields[2]) + " (down, up, dynamic or quiet)");
            }
        }
        m_previousTime = shown(fields[0]);
        m_profile.rows.push_back(row);
        return true;
    }

    bool refuse(std::string reason) {
        m_error = ProfileError{std::string(m_fileName), m_line, std::move(reason)};
        return false;
    }

    ProfileError fail(std::size_t line, std::string reason) const {
        return ProfileError{std::string(m_fileName), line, std::move(reason)};
    }

    std::string_view m_fileName;
    Profile m_profile{std::string(m_fileName), {}};
    std::size_t m_line = 0;
    std::size_t m_columns = 0;  // 0 until the header has been read
    std::string m_previousTime;
    std::optional<ProfileError> m_error;
};

/// A file's bytes, or why they were not read.
struct FileContents {
    std::string bytes;
    std::string problem;  ///< "not a regular file", "cannot be read: ..."; empty when read
};

FileContents readRegularFile(const std::string& path) {
    FileContents file;
    const auto failed = [&file] {
        file.problem = "cannot be read: " + std::generic_category().message(errno);
    };
    // Looked at before it is opened, then opened non-blocking and looked at again: opening a
    // FIFO would wait for a writer and opening a serial line raises its modem lines, and the
    // name may have been given to something else between the two looks.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        failed();
        return file;
    }
    if (!S_ISREG(info.st_mode)) {
        file.problem = "not a regular file";
        return file;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        failed();
        return file;
    }
    if (::fstat(fd, &info) != 0) {
        failed();
    } else if (!S_ISREG(info.st_mode)) {
        file.problem = "not a regular file";
    } else if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileBytes) {
        file.problem = "larger than 16 MiB";
    }
    // The size is checked again as the bytes come: a file still growing stops one byte past
    // the limit.
    char buffer[16384];
    while (file.problem.empty()) {
        const std::size_t room = kMaxFileBytes + 1 - file.bytes.size();
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, room));
        if (n > 0) {
            file.bytes.append(buffer, static_cast<std::size_t>(n));
            if (file.bytes.size() > kMaxFileBytes) {
                file.problem = "larger than 16 MiB";
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            failed();
        }
    }
    ::close(fd);
    return file;
}

}  // namespace

std::uint64_t Profile::durationMs() const { return rows.empty() ? 0 : rows.back().timeMs; }

double Profile::positionAt(std::uint64_t timeMs) const {
    if (rows.empty()) {
        return 0;
    }
    const auto next =
        std::upper_bound(rows.begin(), rows.end(), timeMs,
                         [](std::uint64_t t, const ProfileRow& row) { return t < row.timeMs; });
    if (next == rows.begin()) {
        return rows.front().position;
    }
    const ProfileRow& from = *(next - 1);
    if (next == rows.end() || timeMs == from.timeMs) {
        return from.position;
    }
    // Times are whole milliseconds far below 2^53, so the products are exact and a ramp from
    // 0 to 100 over 10 s reaches each whole position exactly at its 100 ms.
    const auto elapsed = static_cast<double>(timeMs - from.timeMs);
    const auto span = static_cast<double>(next->timeMs - from.timeMs);
    return from.position + (next->position - from.position) * elapsed / span;
}

std::string ProfileError::message() const {
    if (line == 0) {
        return fileName + ": " + reason;
    }
    return fileName + ":" + std::to_string(line) + ": " + reason;
}

ProfileResult parseProfile(std::string_view text, std::string_view fileName) {
    return Parser(fileName).parse(text);
}

ProfileResult loadProfile(const std::string& path) {
    const FileContents file = readRegularFile(path);
    if (!file.problem.empty()) {
        return ProfileError{path, 0, file.problem};
    }
    return parseProfile(file.bytes, path);
}

}  // namespace orvale::profile
