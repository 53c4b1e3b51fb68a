#include "sim/control_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <optional>
#include <system_error>
#include <vector>

#include "sim/can_faults.h"

namespace orvale::sim {
namespace {

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    line = trim(line);
    while (!line.empty()) {
        std::size_t end = line.find_first_of(" \t");
        if (end == std::string_view::npos) {
            end = line.size();
        }
        out.push_back(line.substr(0, end));
        line = trim(line.substr(end));
    }
    return out;
}

std::optional<unsigned> number(std::string_view text, unsigned high) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> onOff(std::string_view text) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// The bus faults: the rest of the line after the name, which a display's label may fill with
// several words.
std::optional<std::string> applyCanLine(PtyDevice& device, std::string_view name,
                                        const std::vector<std::string_view>& values,
                                        std::string_view rest) {
    if (!name.starts_with("can-")) {
        return std::nullopt;
    }
    const bool off = values.size() == 1 && values[0] == "off";
    CanFaults faults = device.canFaults();
    if (name == "can-wrong") {
        if (off) {
            faults.wrongDisplay.reset();
        } else if (const auto id = busDisplayOfName(rest)) {
            faults.wrongDisplay = *id;
        } else {
            return "expects the label or control ID of a display the device sends, or off";
        }
    } else if (name == "can-silence") {
        if (off) {
            faults.silencedGroup.reset();
        } else if (const auto group = values.size() == 1 ? groupOfName(values[0]) : std::nullopt) {
            faults.silencedGroup = *group;
        } else {
            return "expects a group name (EEC1) or PGN, or off";
        }
    } else if (name == "can-drop-packet") {
        if (off) {
            faults.droppedPacket.reset();
        } else {
            const auto group = values.size() == 2 ? groupOfName(values[0]) : std::nullopt;
            const auto packet = values.size() == 2 ? number(values[1], 255) : std::nullopt;
            if (!group || !isMultiPacket(*group) || !packet || *packet == 0) {
                return "expects VI or DI and a packet number 1..255, or off";
            }
            faults.droppedPacket = DroppedPacket{*group, static_cast<std::uint8_t>(*packet)};
        }
    } else if (name == "can-extra") {
        if (off) {
            faults.extraPerSecond = 0;
        } else if (const auto rate =
                       values.size() == 1 ? number(values[0], kMaxExtraPerSecond) : std::nullopt) {
            faults.extraPerSecond = *rate;
        } else {
            return "expects frames a second 0.." + std::to_string(kMaxExtraPerSecond) + ", or off";
        }
    } else {
        return std::nullopt;
    }
    device.setCanFaults(std::move(faults));
    return std::string();
}

}  // namespace

std::string applyControlLine(PtyDevice& device, std::string_view line) {
    const std::vector<std::string_view> w = words(line);
    if (w.size() >= 2) {
        const std::string_view name = w[0];
        const std::string_view rest = trim(trim(line).substr(name.size()));
        if (auto canResult = applyCanLine(device, name, {w.begin() + 1, w.end()}, rest)) {
            return *canResult;
        }
    }
    if (w.size() != 2) {
        return "expects a name and one value";
    }
    const std::string_view name = w[0];
    const std::string_view value = w[1];

    if (name == "silent" || name == "bad-checksums" || name == "lower-case" || name == "garbage") {
        const auto on = onOff(value);
        if (!on) {
            return "expects on or off";
        }
        Faults faults = device.faults();
        if (name == "silent") {
            faults.silent = *on;
        } else if (name == "bad-checksums") {
            faults.badChecksums = *on;
        } else if (name == "lower-case") {
            faults.lowerCase = *on;
        } else {
            faults.garbage = *on ? std::string(kDefaultGarbage) : std::string();
        }
        device.setFaults(std::move(faults));
        return {};
    }
    if (name == "wrong-id") {
        Faults faults = device.faults();
        if (value == "off") {
            faults.productIdOverride.reset();
        } else if (const auto id = number(value, 255)) {
            faults.productIdOverride = static_cast<std::uint8_t>(*id);
        } else {
            return "expects a product ID 0..255 or off";
        }
        device.setFaults(std::move(faults));
        return {};
    }
    if (name == "position" || name == "status") {
        const auto byte = number(value, 255);
        if (!byte) {
            return "expects a number 0..255";
        }
        if (name == "position") {
            device.setPosition(static_cast<std::uint8_t>(*byte));
        } else {
            device.setStatus(static_cast<std::uint8_t>(*byte));
        }
        return {};
    }
    if (name == "rate") {
        const auto rate = number(value, kMaxBroadcastRate);
        if (!rate) {
            return "expects a number 0.." + std::to_string(kMaxBroadcastRate);
        }
        device.setBroadcastRate(*rate);
        return {};
    }
    return "unknown control " + std::string(name);
}

std::string_view controlLinesHelp() {
    return R"(      silent on|off          send nothing / speak again
      bad-checksums on|off   spoil every checksum / stop
      lower-case on|off      send in lower case / in upper case
      garbage on|off         line noise before every frame / none
      wrong-id ID|off        identify with product ID 0..255 / with the configured one
      position N             control position 0..255 (beyond 100 only as a fault)
      status N               status byte 0..255 (bit 0 Quiet off, bit 1 Dynamic on)
      rate N                 position broadcasts per second
      can-wrong LABEL|ID|off   send this display's bus field(s) with another valid value
                               (label as the window shows it, "Engine speed", or control ID)
      can-silence GROUP|off    leave a parameter group out (EEC1, VI, ... or its PGN)
      can-drop-packet GROUP N|off  leave packet N out of each broadcast of VI or DI
      can-extra N|off          N frames a second more from other senders (0x42 ...)
)";
}

ControlChannel::ControlChannel(std::string path, Handler handler)
    : m_path(std::move(path)), m_handler(std::move(handler)) {
    if (::mkfifo(m_path.c_str(), 0600) == 0) {
        m_made = true;
    } else {
        struct stat info {};
        if (errno != EEXIST || ::stat(m_path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
            throw std::system_error(std::make_error_code(std::errc::file_exists),
                                    m_path + " exists and is not a named pipe");
        }
    }
    std::array<int, 2> stop{};
    // Opened for writing too: a pipe without writers reports end of file without pause each
    // time the last writer closes it.
    m_fd = ::open(m_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0 || ::pipe2(stop.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (m_made) {
            ::unlink(m_path.c_str());
        }
        errno = error;
        throwErrno("open " + m_path);
    }
    m_stopRead = stop[0];
    m_stopWrite = stop[1];
    m_thread = std::thread([this] { run(); });
}

ControlChannel::~ControlChannel() {
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(m_stopWrite, &byte, 1);
    m_thread.join();
    ::close(m_fd);
    ::close(m_stopRead);
    ::close(m_stopWrite);
    if (m_made) {
        ::unlink(m_path.c_str());
    }
}

void ControlChannel::run() {
    std::string pending;
    for (;;) {
        std::array<pollfd, 2> fds{};
        fds[0] = {m_stopRead, POLLIN, 0};
        fds[1] = {m_fd, POLLIN, 0};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return;
        }
        std::array<char, 512> buffer{};
        const ssize_t got = ::read(m_fd, buffer.data(), buffer.size());
        if (got <= 0) {
            continue;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(got));
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!trim(line).empty()) {
                m_handler(trim(line));
            }
        }
    }
}

}  // namespace orvale::sim
