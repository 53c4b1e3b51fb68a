#pragma once

#include <string>
#include <string_view>

namespace orvale::session {

/// The port configuration file as the device session uses it: read once at start-up, stored
/// whenever a device answers the identify command.
class PortConfiguration {
public:
    virtual ~PortConfiguration() = default;
    /// The configured port text, e.g. "COM3"; "COM1" when the file names none. Creates the file
    /// with its default contents when it is missing or empty.
    virtual std::string read() = 0;
    /// Records `portText` as the port on which a device answered.
    virtual void store(std::string_view portText) = 0;
};

}  // namespace orvale::session
