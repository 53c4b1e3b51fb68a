#pragma once

#include <QDialog>
#include <QIcon>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "controls/repaint_pacer.h"
#include "model/presentation.h"
#include "session/device_session.h"
#include "ui/control_builder.h"
#include "ui/control_catalogue.h"
#include "ui/device_info_dialog.h"
#include "ui/dialog_units.h"

class QCheckBox;
class QMessageBox;
class QComboBox;
class QPushButton;

namespace orvale::controls {
class CiAnalogDisplayX;
class CiLedRectangleX;
class CiSliderX;
class ReadOnlyBox;
}  // namespace orvale::controls

namespace orvale::ui {

/// The window's five states: the device session's.
using WindowState = session::SessionState;

/// The program's main window: the control panel, the remote-control group and every FMS
/// parameter display. A view of the device session: it shows what the session reports (the
/// fields, the enabled controls, the displays, messages as modal boxes) and turns the
/// operator's clicks, keys and slider moves into the session's commands.
class CMainDialog final : public QDialog,
                          public session::SessionObserver,
                          public session::OperatorInputs {
    Q_OBJECT

public:
    /// The window's one timer: the watchdog (run by the session).
    static constexpr int kWatchdogTimerId = 2;
    /// System command that opens the device information dialog.
    static constexpr unsigned kAboutCommand = kAboutCommandId;

    /// Shows a modal message box; replaced by tests.
    using MessageBoxHandler = std::function<void(const QString& text, link::MessageIcon icon)>;
    /// Runs the device information and settings dialog (command 16); replaced by tests.
    using DeviceInfoHandler = std::function<DeviceInfoResult(const DeviceInfoInput& input)>;

    explicit CMainDialog(session::DeviceSession& session, QWidget* parent = nullptr);
    ~CMainDialog() override;

    /// Runs the initialisation; called once before the window is shown (exec() does it too).
    void OnInitDialog();
    /// The serial control's receive event.
    void OnCommMscomm() { m_session.onComm(); }
    /// A tick of timer `id`.
    void OnTimer(int id);
    /// A system-menu command; 16 to 31 open the device information dialog.
    void OnSysCommand(unsigned id);

    /// The window's data exchange, through the session.
    void pullFields() { m_session.pullFields(); }
    void pushFields() { m_session.pushFields(); }

    void setMessageBoxHandler(MessageBoxHandler handler) { m_messageBox = std::move(handler); }
    /// Opens the plot window, with the parameter of a display when one was double-clicked;
    /// the window offers it in its context menu (and Ctrl+P) once a handler is set.
    using PlotHandler = std::function<void(std::optional<model::ControlId> display)>;
    void setPlotHandler(PlotHandler handler) { m_plot = std::move(handler); }
    /// Opens the bus window; the context menu offers it (and Ctrl+B) once a handler is set.
    void setBusHandler(std::function<void()> handler) { m_bus = std::move(handler); }
    /// Paints over the window's background after it is drawn, around the controls (the bus
    /// marks); the controls themselves are drawn above it.
    void setDecorationPainter(std::function<void(QPainter&)> painter) {
        m_decorate = std::move(painter);
        update();
    }
    /// Told when a box shown through the handler above is to be taken away; for tests.
    void setMessageWithdrawnHandler(std::function<void(const QString& text)> handler) {
        m_messageWithdrawn = std::move(handler);
    }
    void setDeviceInfoHandler(DeviceInfoHandler handler) { m_deviceInfo = std::move(handler); }
    void setApplicationIcon(const QIcon& icon);
    /// Shows, as the tooltip of each port list entry, what `describe(n)` says of port COMn:
    /// the device it opens.
    void describePorts(const std::function<QString(int number)>& describe);

    [[nodiscard]] session::DeviceSession& deviceSession() { return m_session; }
    [[nodiscard]] const link::ConnectionState& connection() const { return m_session.connection(); }
    [[nodiscard]] link::ConnectionState& connection() { return m_session.connection(); }
    [[nodiscard]] const link::WindowFields& fields() const { return m_session.fields(); }
    [[nodiscard]] link::WindowFields& fields() { return m_session.fields(); }
    [[nodiscard]] WindowState windowState() const { return m_session.state(); }
    /// The watchdog's period in ms; 0 while it is stopped.
    [[nodiscard]] int watchdogPeriod() const {
        return static_cast<int>(m_session.watchdogPeriod());
    }
    /// The text a read-only box holds (or will hold at the end of the current repaint frame).
    [[nodiscard]] std::string_view shownText(int id) const;
    /// The control with ID `id`, or nullptr (the serial control has no widget).
    [[nodiscard]] QWidget* control(int id) const;
    /// Paces the repaints of this window's displays to the screen.
    [[nodiscard]] controls::RepaintPacer& repaintPacer() { return m_pacer; }

    /// The window's size at its dialog font: the layout at scale 1.
    [[nodiscard]] QSize naturalSize() const { return m_naturalSize; }
    /// How large the layout is drawn now, against naturalSize(): the window scales its whole
    /// layout, fonts included, to the size it is given.
    [[nodiscard]] double layoutScale() const { return m_scale; }
    /// The smallest scale the window can be made (unless the screen is smaller still).
    static constexpr double kSmallestScale = 0.8;
    /// Every widget the catalogue made, where it stands and what it can show.
    [[nodiscard]] const std::vector<Placement>& placements() const { return m_placements; }

    int exec() override;

    // session::SessionObserver
    void fieldsPushed(const link::WindowFields& fields) override;
    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void controlEnabled(int controlId, bool enabled) override;
    void sliderMoved(double position) override;
    void message(std::string_view text, link::MessageIcon icon) override;
    void messageWithdrawn(std::string_view text) override;
    // session::OperatorInputs
    void pullInputs(link::WindowFields& fields) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct BoundEdit {
        controls::ReadOnlyBox* edit = nullptr;
        std::string shown;     // what the box holds: pushed last
        bool pending = false;  // waits for the end of the repaint frame
    };

    void buildWindow();
    void applyScale(double scale);
    void fitToScreen();
    void wireEvents();
    void onExit();
    void runDeviceInfo();
    void pushText(BoundEdit& bound, const std::string& value);
    void pushParameterText(BoundEdit& bound, const std::string& value);
    void applyPendingTexts();

    session::DeviceSession& m_session;
    controls::RepaintPacer m_pacer;
    std::vector<Placement> m_placements;
    DialogUnits m_units{1, 1};
    QFont m_baseFont;
    QSize m_naturalSize;
    double m_scale = 0;
    bool m_fittedToScreen = false;

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
    std::array<controls::CiAnalogDisplayX*, model::kNumericDisplayCount> m_displays{};
    std::array<controls::CiLedRectangleX*, model::kLedCount> m_leds{};

    QIcon m_icon;
    MessageBoxHandler m_messageBox;
    PlotHandler m_plot;
    std::function<void()> m_bus;
    std::function<void(QPainter&)> m_decorate;
    std::function<void(const QString& text)> m_messageWithdrawn;
    std::map<std::string, QMessageBox*> m_openBoxes;  // boxes shown now, by text
    DeviceInfoHandler m_deviceInfo;
};

}  // namespace orvale::ui
