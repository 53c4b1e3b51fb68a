#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "sim/pty_device.h"

namespace orvale::sim {

/// Applies one control line to a running device, so that a test can change the device's
/// behaviour while a client is connected:
///   silent on|off, bad-checksums on|off, lower-case on|off, garbage on|off,
///   wrong-id ID|off, position N, status N, rate N,
/// and on its CAN bus (CanFaults; whatever puts the frames there follows them):
///   can-wrong LABEL|ID|off, can-silence GROUP|off, can-drop-packet GROUP N|off, can-extra N|off
/// Blanks around the words and a trailing CR are ignored. Returns an empty string when the
/// line was applied, else why it was not (and the device is unchanged).
std::string applyControlLine(PtyDevice& device, std::string_view line);

/// The control lines, for the --help text.
std::string_view controlLinesHelp();

/// Reads lines from a named pipe on a thread of its own and hands each non-empty one, without
/// its line end, to a handler on that thread. Any number of writers may open, write and close
/// the pipe in turn.
class ControlChannel {
public:
    using Handler = std::function<void(std::string_view line)>;

    /// Makes the pipe at `path` unless a pipe is already there, and starts reading. Throws
    /// std::system_error when the path holds something else or the pipe cannot be made.
    ControlChannel(std::string path, Handler handler);
    /// Stops reading, after the handler has returned; removes the pipe if it made it.
    ~ControlChannel();

    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    const std::string& path() const { return m_path; }

private:
    void run();

    std::string m_path;
    Handler m_handler;
    bool m_made = false;
    int m_fd = -1;
    int m_stopRead = -1;
    int m_stopWrite = -1;
    std::thread m_thread;  // last: starts after everything above exists
};

}  // namespace orvale::sim
