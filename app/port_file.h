#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

/// The port configuration file "quennet.ini": remembers the serial port on which a device
/// last answered the identify command. Plain C++ (no Qt) so that the reader can be fuzzed.
namespace orvale::app {

/// Name of the file, appended to what is left of the executable's path.
inline constexpr std::string_view kPortFileName = "quennet.ini";
/// The executable name whose characters are trimmed from the end of the executable's path.
inline constexpr std::string_view kExecutableName = "Orvale.exe";
/// The port text when the file names no port.
inline constexpr std::string_view kDefaultPortText = "COM1";
/// Exactly what a missing or empty file receives: 8 bytes.
inline constexpr std::string_view kDefaultPortFileContents = "COM=1;\r\n";
/// A larger file is never read, only reported: the file holds a few lines, and reading a
/// runaway one whole at start-up would hold up the window. 4 MiB.
inline constexpr std::size_t kPortFileSizeLimit = std::size_t{4} << 20;

/// The file beside the executable. Trims from the end of `exePath` every character that occurs
/// anywhere in `exeName`, stopping at the first that does not, then appends "quennet.ini".
/// A trim by character set, not by name: "/opt/x/Orvale" gives "/opt/x/quennet.ini" and
/// "C:\\x\\Orvale2.exe" gives "C:\\x\\Orvale2quennet.ini". Case-sensitive.
std::string portFilePathBesideExecutable(std::string_view exePath,
                                         std::string_view exeName = kExecutableName);

/// Reads an environment variable with std::getenv's contract: null when it is unset.
using EnvironmentReader = std::function<const char*(const char*)>;

/// The per-user directory for the file when the executable's directory cannot be written:
/// "$XDG_CONFIG_HOME/Orvale" (an absolute XDG_CONFIG_HOME only), else "$HOME/.config/Orvale";
/// on Windows "%APPDATA%\\Orvale". Empty when the environment names no such place.
std::string userConfigDirectory(const EnvironmentReader& getEnv);
/// The same from this process's environment.
std::string userConfigDirectory();

/// True when files can be created in `directory` (an existing directory, writable and
/// searchable by this process).
bool isWritableDirectory(const std::string& directory);

/// Where the file lives for this run, decided once at start-up: beside the executable when its
/// directory can be written (a store replaces the file through a temporary file in the same
/// directory, so the directory itself must be writable), otherwise "quennet.ini" in
/// `userConfigDir`, which is created when missing. Never fails: an unusable location shows up
/// later as a read that yields "COM1" and a store that returns false.
std::string resolvePortFilePath(
    std::string_view exePath, std::string_view userConfigDir,
    std::string_view exeName = kExecutableName,
    const std::function<bool(const std::string&)>& directoryWritable = isWritableDirectory);

/// What the contents say, without touching any file.
struct ParsedPortFile {
    /// "COM" and the text before the ';' of the last line that sets it; "COM1" when none does.
    std::string portText{kDefaultPortText};
    /// A "COM" line names no port (no ';' after its prefix, or ';' right after it): that line
    /// sets "COM1" and must be written back as the default line.
    bool fallbackStoreNeeded = false;
};

/// Reads `contents` by the file's line rules: lines end after LF; a line starting with ';',
/// '/', CR or LF is skipped; the rest is upper-cased (ASCII) and must start with "COM"; its
/// leading run of 'C', 'O', 'M' and '=' is dropped and what precedes the first ';' is the port.
/// Later lines override earlier ones. Total for any input, of any length.
ParsedPortFile parsePortFile(std::string_view contents);

/// The line a store writes: "COM=", `portText` without its leading run of 'C', 'O' and 'M'
/// characters, ";\r\n". "COM12" gives the 9 bytes "COM=12;\r\n".
std::string portLine(std::string_view portText);

/// `contents` with `portText` stored: the last line that sets the port text is replaced by
/// portLine(portText); with no such line the port line is appended (after a CR LF when the
/// last line is unterminated). Every other byte is kept, so comments survive a store.
std::string contentsWithPort(std::string_view contents, std::string_view portText);

/// `contents` with every line that names no port replaced by the default line "COM=1;\r\n".
/// The result parses to the same port text as `contents` and needs no further store.
std::string contentsWithFallbackRepaired(std::string_view contents);

/// Steps of replacing the file, in order; see PortFile::FaultHook.
enum class StoreStep : std::uint8_t {
    CreateTemporary,  ///< create the temporary file beside the target
    WriteTemporary,   ///< write the new contents into it
    SyncTemporary,    ///< flush it to the disk and close it
    Replace,          ///< rename it over the target
    SyncDirectory,    ///< flush the directory entry (the file has been replaced already)
};

/// What a fault hook makes of the step about to run.
enum class StepOutcome : std::uint8_t {
    Proceed,  ///< run the step
    Fail,     ///< the step fails as the system would fail it (disk full, no permission)
    Crash,    ///< the process dies before the step: the store returns false and cleans nothing
};

/// What a read found and did.
struct PortFileReadResult {
    std::string portText{kDefaultPortText};  ///< the port to open, "COM1" by default
    bool defaultWritten = false;  ///< the file was missing or empty and got the default line
    bool fallbackStored = false;  ///< lines naming no port were rewritten as the default line
    bool writeFailed = false;     ///< one of those writes failed; the file is as it was
    /// Why a file that is there was left alone, for standard error: "<path> is not a regular
    /// file", "<path> is larger than 4 MiB" or "<path> cannot be read: <reason>". Empty when the
    /// file was read (or was missing).
    std::string problem;
};

/// The file at one path. Every write replaces the file whole through a synced temporary file
/// in the same directory and a rename, so the file on disk always holds either the old or the
/// new contents. Neither read() nor store() throws.
class PortFile {
public:
    /// Test seam: asked before each step of every write.
    using FaultHook = std::function<StepOutcome(StoreStep)>;

    explicit PortFile(std::string path, FaultHook faultHook = {});

    /// Reads the port text. A missing or empty file receives the 8 bytes "COM=1;\r\n"; lines
    /// naming no port are rewritten as that line. A file that exists but cannot be read, is not
    /// a regular file (a FIFO, a device, a directory) or is larger than kPortFileSizeLimit gives
    /// "COM1" and a `problem`, and is left alone. Never waits on a FIFO or a device.
    PortFileReadResult read();

    /// Stores `portText` (see contentsWithPort); creates the file when missing. Returns false,
    /// with the old file intact, when the file cannot be read or written (also when read()
    /// would report a problem), or when `portText` holds a ';', CR or LF (such a line would not
    /// read back as the same port).
    bool store(std::string_view portText);

    [[nodiscard]] const std::string& path() const { return m_path; }

private:
    bool replaceContents(std::string_view contents);

    std::string m_path;
    FaultHook m_faultHook;
};

}  // namespace orvale::app
