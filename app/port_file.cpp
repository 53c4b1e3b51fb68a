#include "app/port_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvale::app {

namespace {

namespace fs = std::filesystem;

char toUpperAscii(char c) {
    // ASCII only: the result must not depend on the user's locale.
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

enum class LineKind : std::uint8_t { Ignored, Port, NoPort };

struct Line {
    LineKind kind = LineKind::Ignored;
    std::string portText;  // set for LineKind::Port
};

Line classifyLine(std::string_view line) {
    const char first = line.empty() ? '\n' : line.front();
    if (first == ';' || first == '/' || first == '\r' || first == '\n') {
        return {};
    }
    if (line.size() < 3 || toUpperAscii(line[0]) != 'C' || toUpperAscii(line[1]) != 'O' ||
        toUpperAscii(line[2]) != 'M') {
        return {};
    }
    // A trim by character set, as older versions did it: "COMM=7;" and "COM=COM7;" both
    // name port 7.
    std::size_t start = 0;
    while (start < line.size()) {
        const char c = toUpperAscii(line[start]);
        if (c != 'C' && c != 'O' && c != 'M' && c != '=') {
            break;
        }
        ++start;
    }
    const std::string_view rest = line.substr(start);
    const std::size_t semicolon = rest.find(';');
    if (semicolon == std::string_view::npos || semicolon == 0) {
        return {LineKind::NoPort, {}};
    }
    Line result{LineKind::Port, "COM"};
    for (const char c : rest.substr(0, semicolon)) {
        result.portText.push_back(toUpperAscii(c));
    }
    return result;
}

/// Calls f(line, offset) for every line; a line ends after its LF or at the end of the text.
template <typename F>
void forEachLine(std::string_view contents, F&& f) {
    std::size_t begin = 0;
    while (begin < contents.size()) {
        const std::size_t lf = contents.find('\n', begin);
        const std::size_t end = lf == std::string_view::npos ? contents.size() : lf + 1;
        f(contents.substr(begin, end - begin), begin);
        begin = end;
    }
}

std::string directoryOf(const std::string& filePath) {
    const fs::path parent = fs::path(filePath).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

enum class ReadStatus : std::uint8_t { Ok, Missing, Failed, NotRegular, TooLarge };

ReadStatus readWholeFile(const std::string& path, std::string& contents, int& error) {
    contents.clear();
    error = 0;
    const auto failed = [&error] {
        error = errno;
        return (error == ENOENT || error == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Failed;
    };
    // Looked at before it is opened: opening a FIFO waits for a writer, and opening a serial
    // line raises its modem lines.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return failed();
    }
    if (!S_ISREG(info.st_mode)) {
        return ReadStatus::NotRegular;
    }
    if (static_cast<std::uintmax_t>(info.st_size) > kPortFileSizeLimit) {
        return ReadStatus::TooLarge;
    }
    // Non-blocking and checked again: the name may have been given to a FIFO since the stat.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return failed();
    }
    ReadStatus status = ReadStatus::Ok;
    if (::fstat(fd, &info) != 0) {
        status = failed();
    } else if (!S_ISREG(info.st_mode)) {
        status = ReadStatus::NotRegular;
    } else {
        contents.reserve(static_cast<std::size_t>(info.st_size));
    }
    // The size is read again as the bytes come: a file still growing, or one of the kernel's
    // that reports no size, stops one byte past the limit.
    char buffer[16384];
    while (status == ReadStatus::Ok) {
        const std::size_t room = kPortFileSizeLimit + 1 - contents.size();
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, room));
        if (n > 0) {
            contents.append(buffer, static_cast<std::size_t>(n));
            if (contents.size() > kPortFileSizeLimit) {
                status = ReadStatus::TooLarge;
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            status = failed();  // an I/O error
        }
    }
    ::close(fd);
    if (status != ReadStatus::Ok) {
        contents.clear();
    }
    return status;
}

/// The text PortFileReadResult::problem gives for a file that is there and was left alone.
std::string problemText(const std::string& path, ReadStatus status, int error) {
    switch (status) {
        case ReadStatus::NotRegular:
            return path + " is not a regular file";
        case ReadStatus::TooLarge:
            return path + " is larger than " + std::to_string(kPortFileSizeLimit >> 20) + " MiB";
        case ReadStatus::Failed:
            return path + " cannot be read: " + std::generic_category().message(error);
        case ReadStatus::Ok:
        case ReadStatus::Missing:
            break;
    }
    return {};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

/// Creates a new, uniquely named file beside `target`; -1 when the directory refuses.
int createTemporaryBeside(const std::string& target, std::string& temporaryPath) {
    // The name is unique per process and call, so two instances storing at the same moment
    // never write into each other's temporary file.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryPath = target + "." + std::to_string(::getpid()) + "." +
                        std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

void syncDirectory(const std::string& directory) {
    // Makes the rename itself durable. Some file systems refuse to sync a directory; the file
    // has been replaced by then either way.
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string portFilePathBesideExecutable(std::string_view exePath, std::string_view exeName) {
    std::size_t keep = exePath.size();
    while (keep > 0 && exeName.find(exePath[keep - 1]) != std::string_view::npos) {
        --keep;
    }
    std::string path(exePath.substr(0, keep));
    path += kPortFileName;
    return path;
}

std::string userConfigDirectory(const EnvironmentReader& getEnv) {
    const auto value = [&](const char* name) -> std::string_view {
        const char* v = getEnv(name);
        return v == nullptr ? std::string_view{} : std::string_view{v};
    };
#ifdef _WIN32
    const std::string_view appData = value("APPDATA");
    return appData.empty() ? std::string{} : std::string(appData) + "\\Orvale";
#else
    // A relative XDG_CONFIG_HOME is invalid and is to be ignored.
    const std::string_view xdg = value("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg.front() == '/') {
        return std::string(xdg) + "/Orvale";
    }
    const std::string_view home = value("HOME");
    return home.empty() ? std::string{} : std::string(home) + "/.config/Orvale";
#endif
}

std::string userConfigDirectory() {
    return userConfigDirectory([](const char* name) -> const char* { return std::getenv(name); });
}

bool isWritableDirectory(const std::string& directory) {
    struct stat info {};
    return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(directory.c_str(), W_OK | X_OK) == 0;
}

std::string resolvePortFilePath(std::string_view exePath, std::string_view userConfigDir,
                                std::string_view exeName,
                                const std::function<bool(const std::string&)>& directoryWritable) {
    std::string beside = portFilePathBesideExecutable(exePath, exeName);
    // With no configuration directory to go to, the executable's directory is still the best
    // guess; its stores will fail quietly.
    if (userConfigDir.empty() || directoryWritable(directoryOf(beside))) {
        return beside;
    }
    std::error_code ignored;
    fs::create_directories(fs::path(userConfigDir), ignored);
    return (fs::path(userConfigDir) / kPortFileName).string();
}

ParsedPortFile parsePortFile(std::string_view contents) {
    ParsedPortFile parsed;
    forEachLine(contents, [&](std::string_view text, std::size_t) {
        Line line = classifyLine(text);
        if (line.kind == LineKind::Port) {
            parsed.portText = std::move(line.portText);
        } else if (line.kind == LineKind::NoPort) {
            parsed.portText = kDefaultPortText;
            parsed.fallbackStoreNeeded = true;
        }
    });
    return parsed;
}

std::string portLine(std::string_view portText) {
    std::size_t start = 0;
    while (start < portText.size() &&
           (portText[start] == 'C' || portText[start] == 'O' || portText[start] == 'M')) {
        ++start;
    }
    std::string line = "COM=";
    line += portText.substr(start);
    line += ";\r\n";
    return line;
}

std::string contentsWithPort(std::string_view contents, std::string_view portText) {
    // The last line that sets the port text is the one the reader obeys; replacing exactly
    // that line makes the file read back as the stored port whatever else it holds.
    std::optional<std::size_t> lastBegin;
    std::size_t lastSize = 0;
    forEachLine(contents, [&](std::string_view text, std::size_t offset) {
        if (classifyLine(text).kind != LineKind::Ignored) {
            lastBegin = offset;
            lastSize = text.size();
        }
    });
    std::string result;
    if (lastBegin) {
        result.reserve(contents.size() + portText.size() + 8);
        result.append(contents.substr(0, *lastBegin));
        result.append(portLine(portText));
        result.append(contents.substr(*lastBegin + lastSize));
    } else {
        result.reserve(contents.size() + portText.size() + 10);
        result.append(contents);
        if (!result.empty() && result.back() != '\n') {
            result.append("\r\n");
        }
        result.append(portLine(portText));
    }
    return result;
}

std::string contentsWithFallbackRepaired(std::string_view contents) {
    std::string result;
    result.reserve(contents.size() + 8);
    forEachLine(contents, [&](std::string_view text, std::size_t) {
        if (classifyLine(text).kind == LineKind::NoPort) {
            result.append(kDefaultPortFileContents);
        } else {
            result.append(text);
        }
    });
    return result;
}

PortFile::PortFile(std::string path, FaultHook faultHook)
    : m_path(std::move(path)), m_faultHook(std::move(faultHook)) {}

static void removeAbandonedTemporaries(const std::string& target) {
    // A store killed between creating its temporary file and the rename leaves the file behind
    // ("quennet.ini.<pid>.<n>.tmp"); one whose process is gone will never be renamed.
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(target);
    const fs::path directory = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string prefix = path.filename().string() + ".";
    for (const auto& entry : fs::directory_iterator(directory, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix) || !name.ends_with(".tmp")) continue;
        const std::string rest = name.substr(prefix.size());
        const auto dot = rest.find('.');
        if (dot == std::string::npos || dot == 0) continue;
        const std::string pid = rest.substr(0, dot);
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const long number = std::strtol(pid.c_str(), nullptr, 10);
        if (number <= 0 || (::kill(static_cast<pid_t>(number), 0) != 0 && errno == ESRCH)) {
            fs::remove(entry.path(), ec);
        }
    }
}

PortFileReadResult PortFile::read() {
    PortFileReadResult result;
    removeAbandonedTemporaries(m_path);
    try {
        std::string contents;
        int error = 0;
        const ReadStatus status = readWholeFile(m_path, contents, error);
        if (status != ReadStatus::Ok && status != ReadStatus::Missing) {
            // Present but unusable: rewriting it could lose what it holds, and a rename over a
            // FIFO or a device would take its name away from whoever made it.
            result.problem = problemText(m_path, status, error);
            return result;
        }
        if (status == ReadStatus::Missing || contents.empty()) {
            result.defaultWritten = replaceContents(kDefaultPortFileContents);
            result.writeFailed = !result.defaultWritten;
            return result;
        }
        ParsedPortFile parsed = parsePortFile(contents);
        result.portText = std::move(parsed.portText);
        if (parsed.fallbackStoreNeeded) {
            result.fallbackStored = replaceContents(contentsWithFallbackRepaired(contents));
            result.writeFailed = !result.fallbackStored;
        }
    } catch (const std::exception&) {
        // Out of memory on an absurd file: the port text stays as far as it got.
        result.writeFailed = true;
    }
    return result;
}

bool PortFile::store(std::string_view portText) {
    const std::string line = portLine(portText);
    // "COM=" + nothing would read back as COM1; a ';', CR or LF would end the port text early
    // or split the line.
    const std::string_view written = std::string_view(line).substr(4, line.size() - 7);
    if (written.empty() || written.find_first_of(";\r\n") != std::string_view::npos) {
        return false;
    }
    try {
        std::string contents;
        int error = 0;
        const ReadStatus status = readWholeFile(m_path, contents, error);
        if (status != ReadStatus::Ok && status != ReadStatus::Missing) {
            return false;  // its comments could not be kept, or it is no port file at all
        }
        return replaceContents(contentsWithPort(contents, portText));
    } catch (const std::exception&) {
        return false;
    }
}

bool PortFile::replaceContents(std::string_view contents) {
    const auto outcomeOf = [this](StoreStep step) {
        return m_faultHook ? m_faultHook(step) : StepOutcome::Proceed;
    };

    std::string target = m_path;
    std::error_code ec;
    // Renaming over a symbolic link would replace the link, not the file it points at.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::canonical(target, ec);
        if (!ec) {
            target = resolved.string();
        }
    }
    // A file the user made read-only stays as it is, as it did when stores wrote in place.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
        return false;
    }

    StepOutcome outcome = outcomeOf(StoreStep::CreateTemporary);
    if (outcome != StepOutcome::Proceed) {
        return false;
    }
    std::string temporary;
    const int fd = createTemporaryBeside(target, temporary);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
    }

    // Crash: the descriptor goes as the process would lose it, the temporary file stays.
    // Fail: the store gives up and leaves nothing behind.
    const auto abandon = [&](StepOutcome how, bool open) {
        if (open) {
            ::close(fd);
        }
        if (how != StepOutcome::Crash) {
            ::unlink(temporary.c_str());
        }
        return false;
    };

    outcome = outcomeOf(StoreStep::WriteTemporary);
    if (outcome != StepOutcome::Proceed || !writeAll(fd, contents)) {
        return abandon(outcome, true);
    }
    outcome = outcomeOf(StoreStep::SyncTemporary);
    if (outcome == StepOutcome::Crash) {
        return abandon(outcome, true);
    }
    // close() is where some network file systems report a failed write.
    const bool synced = outcome == StepOutcome::Proceed && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced) {
        return abandon(StepOutcome::Fail, false);
    }
    outcome = outcomeOf(StoreStep::Replace);
    if (outcome != StepOutcome::Proceed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        return abandon(outcome, false);
    }
    if (outcomeOf(StoreStep::SyncDirectory) == StepOutcome::Crash) {
        return false;
    }
    syncDirectory(directoryOf(target));
    return true;
}

}  // namespace orvale::app
