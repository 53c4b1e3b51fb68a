#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/control_ids.h"

/// What the link shares with the main window: the connection state, the identity fields the
/// window shows, and the narrow set of window operations the link calls.
namespace orvale::link {

/// Control IDs of the main window that the link enables, disables or moves.
namespace control = model::control;

/// Text the identity boxes show until the device has answered; the device information dialog
/// shows it too for a device that is not identified.
inline constexpr std::string_view kNotFoundYet = "Not Found Yet!";

/// Watchdog periods: while identifying, and once a device is identified.
inline constexpr unsigned kIdentifyingPeriodMs = 100;
inline constexpr unsigned kConnectedPeriodMs = 1000;

/// The connection flags and values of the main window. All clear at start.
struct ConnectionState {
    bool portOpen = false;          ///< set only by a successful port open
    bool messageReceived = false;   ///< a complete ACK or BRC frame since the last watchdog tick
    bool identityAwaited = false;   ///< the identify command is out, its answer not yet taken
    bool revisionReceived = false;  ///< the revision answer came before the identity answer
    bool deviceIdentified = false;  ///< a known model answered
    bool sliderBusy = false;        ///< a position command awaits its acknowledgement
    bool dynamicBusy = false;       ///< a Dynamic key awaits its acknowledgement
    bool quietBusy = false;         ///< a Quiet key awaits its acknowledgement
    char revisionLetter = 'A';
    std::uint16_t firmwareVersion = 0;  ///< version byte + 1; 3 stands for firmware 0.3
    std::uint8_t productId = 0;
    /// Hundreds digit or blank, tens digit, '.', units digit, revision letter.
    std::array<char, 5> versionText = {' ', '0', '.', '0', 'A'};

    /// Firmware 0.3B or 0.3C on a model that can be remote-controlled.
    [[nodiscard]] bool remoteControllable() const;
    /// Firmware 0.3B or 0.3C, whatever the model.
    [[nodiscard]] bool firmwareSupported() const;
};

/// The window's members bound to controls that the link reads or writes.
struct WindowFields {
    std::string portText;  ///< e.g. "COM3"; empty when no port is selected
    std::string modelName;
    std::uint32_t serialNumber = 0;
    std::string firmwareVersion;
    std::string canBaudRate;
    std::string vinStyle;
    std::string firmwareBuild;
    std::string clockText;  ///< "hh:mm:ss" from the device's clock broadcast; empty until one came
    int dynamicChecked = 0;
    int quietChecked = 0;
};

enum class MessageIcon { Warning, Stop };

/// The window operations the link calls. `CMainDialog` implements it; tests record the calls.
class WindowPort {
public:
    virtual ~WindowPort() = default;
    /// Copies every bound control's value into its member.
    virtual void pullFields() = 0;
    /// Copies every bound member into its control.
    virtual void pushFields() = 0;
    virtual void enableControl(int controlId, bool enable) = 0;
    /// Kills the watchdog timer and starts it again with `periodMs`.
    virtual void restartWatchdog(unsigned periodMs) = 0;
    virtual void stopWatchdog() = 0;
    /// The window's disconnect operation: stop the watchdog, close the port, reset the window.
    virtual void disconnectDevice() = 0;
    /// Records the current port text in the port configuration file.
    virtual void storePortFile() = 0;
    virtual void setSliderPosition(double position) = 0;
    /// Recomputes and shows every parameter for a control position.
    virtual void evaluateModel(std::uint8_t position) = 0;
    /// A modal message box with an OK button; it may run a nested event loop.
    virtual void showMessage(std::string_view text, MessageIcon icon) = 0;
};

}  // namespace orvale::link
