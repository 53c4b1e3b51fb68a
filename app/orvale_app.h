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

    /// Runs the main window until it ends. Returns false: the program ends afterwards.
    bool InitInstance();

private:
    Options m_options;
};

}  // namespace orvale::app
