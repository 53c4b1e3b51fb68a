#pragma once

#include <memory>

#include "app/command_line.h"

namespace orvale::app {

/// The application object: wires the serial control, the clock, the port configuration file
/// and, on request, the simulated device to the main window, and runs the window modally for
/// the whole run of the program.
class COrvaleApp {
public:
    explicit COrvaleApp(Options options);
    ~COrvaleApp();

    /// Runs the main window until it ends, and returns the program's exit status: 0 after the
    /// window, kExitBadCommandLine (2) when the --log file cannot be written (said on standard
    /// error; no window is made).
    int InitInstance();

private:
    Options m_options;
};

}  // namespace orvale::app
