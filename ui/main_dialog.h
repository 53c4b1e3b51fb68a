#pragma once

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "link/clock.h"
#include "link/receiver.h"
#include "link/serial_control.h"
#include "link/window_port.h"
#include "model/presentation.h"
#include "ui/device_info_dialog.h"
#include "ui/port_configuration.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace orvale::controls {
class CiAnalogDisplayX;
class CiLedRectangleX;
class CiSliderX;
class ReadOnlyBox;
}  // namespace orvale::controls

namespace orvale::ui {

/// The window's five states, derived from which controls are enabled and the watchdog.
enum class WindowState {
    IdleWatchdogRunning,
    IdleWatchdogStopped,
    Identifying,
    Connected,
    IdentityOnly
};

/// The program's main window: the control panel, the remote-control group and every FMS
/// parameter display. It owns the connection state, decides which controls can be used, asks
/// the device for its identity, drops a silent device (the watchdog, timer 2) and shows what the
/// device reports.
class CMainDialog final : public QDialog, public link::WindowPort {
    Q_OBJECT

public:
    /// The window's one timer: the watchdog.
    static constexpr int kWatchdogTimerId = 2;
    /// System command that opens the device information dialog.
    static constexpr unsigned kAboutCommand = 16;

    /// Shows a modal message box; replaced by tests.
    using MessageBoxHandler = std::function<void(const QString& text, link::MessageIcon icon)>;
    /// Runs the device information and settings dialog (command 16); replaced by tests.
    using DeviceInfoHandler = std::function<DeviceInfoResult(const DeviceInfoInput& input)>;

    CMainDialog(link::SerialControl& serial, link::MillisecondClock& clock,
                PortConfiguration& portFile, QWidget* parent = nullptr);
    ~CMainDialog() override;

    /// Runs the initialisation; called once before the window is shown (exec() does it too).
    void OnInitDialog();
    /// The serial control's receive event.
    void OnCommMscomm();
    /// A tick of timer `id`.
    void OnTimer(int id);
    /// A system-menu command; 16 to 31 open the device information dialog.
    void OnSysCommand(unsigned id);

    // Operations that other parts of the program call.
    void connectDevice();
    void teardown();

    // link::WindowPort
    void pullFields() override;
    void pushFields() override;
    void enableControl(int controlId, bool enable) override;
    void restartWatchdog(unsigned periodMs) override;
    void stopWatchdog() override;
    void disconnectDevice() override;
    void storePortFile() override;
    void setSliderPosition(double position) override;
    void evaluateModel(std::uint8_t position) override;
    void showMessage(std::string_view text, link::MessageIcon icon) override;

    void setMessageBoxHandler(MessageBoxHandler handler) { m_messageBox = std::move(handler); }
    void setDeviceInfoHandler(DeviceInfoHandler handler) { m_deviceInfo = std::move(handler); }
    void setApplicationIcon(const QIcon& icon);
    /// Shows, as the tooltip of each port list entry, what `describe(n)` says of port COMn:
    /// the device it opens.
    void describePorts(const std::function<QString(int number)>& describe);

    [[nodiscard]] const link::ConnectionState& connection() const { return m_state; }
    [[nodiscard]] link::ConnectionState& connection() { return m_state; }
    [[nodiscard]] const link::WindowFields& fields() const { return m_fields; }
    [[nodiscard]] link::WindowFields& fields() { return m_fields; }
    [[nodiscard]] WindowState windowState() const;
    /// The watchdog's period in ms; 0 while it is stopped.
    [[nodiscard]] int watchdogPeriod() const;
    /// The text a read-only box holds (or will hold at the end of the current repaint frame).
    [[nodiscard]] std::string_view shownText(int id) const;
    /// The control with ID `id`, or nullptr (the serial control has no widget).
    [[nodiscard]] QWidget* control(int id) const;
    [[nodiscard]] const model::Presentation& presentation() const { return m_presentation; }
    /// Evaluations of the parameter model and message boxes shown so far (for measurements).
    [[nodiscard]] std::uint64_t evaluations() const { return m_evaluations; }
    [[nodiscard]] std::uint64_t messageBoxesShown() const { return m_boxesShown; }
    /// Runs after a push of the fields that follows a change of the parameter displays (an
    /// evaluation of the model, a teardown), with the position last evaluated.
    using DisplaysUpdatedHook = std::function<void(std::uint8_t position)>;
    void setDisplaysUpdatedHook(DisplaysUpdatedHook hook) { m_displaysUpdated = std::move(hook); }

    int exec() override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct BoundEdit {
        controls::ReadOnlyBox* edit = nullptr;
        std::string shown;     // what the box holds: pushed last
        bool pending = false;  // waits for the end of the repaint frame
    };

    void buildWindow();
    void wireEvents();
    void onExit();
    void runDeviceInfo();
    void sendKey(std::uint8_t keyCode);
    void sendPosition();
    void onSliderBusy() { m_state.sliderBusy = true; }
    /// Runs an operator action, a tick or a receive event; a refused serial access stops it
    /// there and is shown in a stop box.
    template <class Action>
    void guarded(Action&& action);
    void pushText(BoundEdit& bound, const std::string& value);
    void pushParameterText(BoundEdit& bound, const std::string& value);
    void applyPendingTexts();
    std::string& parameterText(int controlId);

    link::SerialControl& m_serial;
    link::MillisecondClock& m_clock;
    PortConfiguration& m_portFile;

    link::ConnectionState m_state;
    link::WindowFields m_fields;
    link::Receiver m_receiver;

    std::map<int, QWidget*> m_controls;
    QComboBox* m_portList = nullptr;
    controls::CiSliderX* m_slider = nullptr;
    QCheckBox* m_dynamic = nullptr;
    QCheckBox* m_quiet = nullptr;
    std::map<int, BoundEdit> m_identityEdits;
    std::string m_portTextPushed;
    int m_portIndexPushed = -2;
    std::string m_portTextPulled;
    int m_portIndexPulled = -2;
    std::array<BoundEdit, model::kTextDisplayCount> m_parameterEdits{};
    std::array<std::string, model::kTextDisplayCount> m_parameterTexts{};
    std::array<controls::CiAnalogDisplayX*, model::kNumericDisplayCount> m_displays{};
    std::array<controls::CiLedRectangleX*, model::kLedCount> m_leds{};

    model::VinBuffer m_vin;
    model::Presentation m_presentation;

    QTimer m_watchdog;
    QIcon m_icon;
    MessageBoxHandler m_messageBox;
    DeviceInfoHandler m_deviceInfo;
    DisplaysUpdatedHook m_displaysUpdated;
    bool m_displaysDirty = false;
    std::uint8_t m_evaluatedPosition = 0;
    std::set<std::string> m_openBoxes;  // texts of message boxes open right now
    std::string m_lastSerialError;      // shown once until a port opens again
    bool m_initialised = false;
    std::uint64_t m_evaluations = 0;
    std::uint64_t m_boxesShown = 0;
};

}  // namespace orvale::ui
