#include "ui/main_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <cmath>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/ci_slider_x.h"
#include "controls/read_only_box.h"
#include "controls/repaint_pacer.h"
#include "controls/system_menu.h"
#include "link/connection.h"
#include "link/protocol.h"
#include "model/control_ids.h"
#include "ui/accessible_check_box.h"
#include "ui/control_builder.h"
#include "ui/control_catalogue.h"
#include "ui/dialog_units.h"

namespace orvale::ui {
namespace {

constexpr const char* kInternalError = "Internal application error.";
constexpr int kParkingLed = model::control::kParkingLed;

QString fromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Text displays that teardown blanks (a single space) and empties.
constexpr std::array<int, 28> kBlankedAtTeardown = {
    1018, 1079, 1024, 1025, 1027, 1026, 1019, 1031, 1032, 1033, 1034, 1035, 1036, 1037,
    1038, 1039, 1041, 1040, 1063, 1061, 1064, 1083, 1084, 1065, 1066, 1067, 1068, 1069};
constexpr std::array<int, 10> kEmptiedAtTeardown = {1070, 1071, 1072, 1073, 1075,
                                                    1076, 1074, 1095, 1088, 1091};

}  // namespace

CMainDialog::CMainDialog(link::SerialControl& serial, link::MillisecondClock& clock,
                         PortConfiguration& portFile, QWidget* parent)
    : QDialog(parent),
      m_serial(serial),
      m_clock(clock),
      m_portFile(portFile),
      m_receiver(serial, *this, m_state, m_fields) {
    installCheckBoxAccessibility();
    m_watchdog.setTimerType(Qt::PreciseTimer);
    connect(&m_watchdog, &QTimer::timeout, this, [this] { OnTimer(kWatchdogTimerId); });
    buildWindow();
    wireEvents();
    // The first exchange to the controls, as the dialog's own initialisation does.
    pushFields();
}

CMainDialog::~CMainDialog() = default;

void CMainDialog::buildWindow() {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    const DialogUnits units(fontMetrics());
    m_controls = buildControls(this, units);
    setFixedSize(units.toPixels(QSize(kWindowWidthDu, kWindowHeightDu)));

    m_portList = qobject_cast<QComboBox*>(control(link::control::kPortList));
    m_slider = qobject_cast<controls::CiSliderX*>(control(link::control::kSlider));
    m_dynamic = qobject_cast<QCheckBox*>(control(link::control::kDynamic));
    m_quiet = qobject_cast<QCheckBox*>(control(link::control::kQuiet));
    for (const int id :
         {link::control::kProductId, link::control::kSerialNumber, link::control::kFirmwareVersion,
          link::control::kCanBaudRate, link::control::kVinStyle, link::control::kFirmwareBuild}) {
        m_identityEdits[id].edit = qobject_cast<controls::ReadOnlyBox*>(control(id));
    }
    for (std::size_t i = 0; i < model::kTextDisplayCount; ++i) {
        m_parameterEdits[i].edit =
            qobject_cast<controls::ReadOnlyBox*>(control(model::kTextDisplays[i].id));
    }
    for (std::size_t i = 0; i < model::kNumericDisplayCount; ++i) {
        m_displays[i] =
            qobject_cast<controls::CiAnalogDisplayX*>(control(model::kNumericDisplays[i].id));
    }
    for (std::size_t i = 0; i < model::kLedCount; ++i) {
        m_leds[i] = qobject_cast<controls::CiLedRectangleX*>(control(model::kLeds[i].id));
    }
    if (auto* exit = qobject_cast<QPushButton*>(control(link::control::kExit))) {
        exit->setDefault(true);
    }
}

void CMainDialog::wireEvents() {
    const auto onClick = [this](int id, auto handler) {
        if (auto* button = qobject_cast<QAbstractButton*>(control(id))) {
            connect(button, &QAbstractButton::clicked, this, [this, handler] { guarded(handler); });
        }
    };
    onClick(link::control::kConnect, [this] { connectDevice(); });
    onClick(link::control::kDisconnect, [this] { disconnectDevice(); });
    onClick(link::control::kExit, [this] { onExit(); });
    onClick(link::control::kDown, [this] {
        pullFields();
        sendKey(static_cast<std::uint8_t>(link::Key::Down));
    });
    onClick(link::control::kUp, [this] {
        pullFields();
        sendKey(static_cast<std::uint8_t>(link::Key::Up));
    });
    onClick(link::control::kDynamic, [this] {
        m_state.dynamicBusy = true;
        pullFields();
        sendKey(static_cast<std::uint8_t>(link::Key::Dynamic));
    });
    onClick(link::control::kQuiet, [this] {
        m_state.quietBusy = true;
        pullFields();
        sendKey(static_cast<std::uint8_t>(link::Key::Quiet));
    });

    if (m_slider) {
        using controls::CiSliderX;
        // The operator starting a change marks the position as the operator's; ending one
        // sends it. Until the device acknowledges, its broadcasts leave the slider alone.
        connect(m_slider, &CiSliderX::mouseDown, this, [this](short button, short, int, int) {
            if ((button & 1) != 0) onSliderBusy();
        });
        connect(m_slider, &CiSliderX::mouseUp, this,
                [this] { guarded([this] { sendPosition(); }); });
        connect(m_slider, &CiSliderX::keyDown, this, [this] { onSliderBusy(); });
        connect(m_slider, &CiSliderX::keyUp, this, [this] { guarded([this] { sendPosition(); }); });
        connect(m_slider, &CiSliderX::positionChangeStarted, this, [this] { onSliderBusy(); });
        connect(m_slider, &CiSliderX::positionChangeFinished, this,
                [this] { guarded([this] { sendPosition(); }); });
    }
}

QWidget* CMainDialog::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CMainDialog::setApplicationIcon(const QIcon& icon) {
    m_icon = icon;
    setWindowIcon(icon);
}

void CMainDialog::describePorts(const std::function<QString(int number)>& describe) {
    if (!m_portList) return;
    for (int i = 0; i < m_portList->count(); ++i) {
        m_portList->setItemData(i, describe(i + 1), Qt::ToolTipRole);
    }
}

int CMainDialog::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CMainDialog::OnInitDialog() {
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    // Where the platform has a real system menu, the entry is added to it there; everywhere the
    // window's context menu offers it (contextMenuEvent).
    controls::appendSystemMenuEntry(*this, kAboutCommand, QString::fromLatin1(kAboutMenuText));
    guarded([this] {
        teardown();
        m_fields.portText = m_portFile.read();
        m_state.dynamicBusy = false;
        m_state.quietBusy = false;
        m_state.sliderBusy = false;
        m_state.messageReceived = false;
        restartWatchdog(link::kIdentifyingPeriodMs);
        pushFields();
    });
}

// --- data exchange ------------------------------------------------------------------------

void CMainDialog::pullFields() {
    if (m_portList) {
        // Pulls come with every broadcast; the list's text is converted only when it changed.
        const int index = m_portList->currentIndex();
        if (index != m_portIndexPulled) {
            m_portTextPulled = index < 0 ? std::string() : m_portList->currentText().toStdString();
            m_portIndexPulled = index;
        }
        m_fields.portText = m_portTextPulled;
    }
    // Read-only boxes hold exactly what the last push put there.
    m_fields.modelName = m_identityEdits[link::control::kProductId].shown;
    m_fields.firmwareVersion = m_identityEdits[link::control::kFirmwareVersion].shown;
    m_fields.canBaudRate = m_identityEdits[link::control::kCanBaudRate].shown;
    m_fields.vinStyle = m_identityEdits[link::control::kVinStyle].shown;
    m_fields.firmwareBuild = m_identityEdits[link::control::kFirmwareBuild].shown;
    m_fields.serialNumber = static_cast<std::uint32_t>(
        std::strtoul(m_identityEdits[link::control::kSerialNumber].shown.c_str(), nullptr, 10));
    for (std::size_t i = 0; i < m_parameterTexts.size(); ++i) {
        m_parameterTexts[i] = m_parameterEdits[i].shown;
    }
    if (m_dynamic) m_fields.dynamicChecked = m_dynamic->isChecked() ? 1 : 0;
    if (m_quiet) m_fields.quietChecked = m_quiet->isChecked() ? 1 : 0;
}

void CMainDialog::pushText(BoundEdit& bound, const std::string& value) {
    if (bound.shown == value) {
        return;
    }
    bound.shown = value;
    if (bound.edit) {
        bound.edit->setText(fromLatin1(value));
    }
}

void CMainDialog::pushFields() {
    // Resolving the port text against the list is skipped when neither changed since the last
    // push: pushes come with every broadcast.
    if (m_portList && (m_fields.portText != m_portTextPushed ||
                       m_portList->currentIndex() != m_portIndexPushed)) {
        // The first entry that begins with the text, letters compared without regard to case;
        // a text that begins no entry leaves the selection as it is.
        const QString text = fromLatin1(m_fields.portText);
        for (int i = 0; i < m_portList->count(); ++i) {
            if (m_portList->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
                if (m_portList->currentIndex() != i) m_portList->setCurrentIndex(i);
                break;
            }
        }
        m_portTextPushed = m_fields.portText;
        m_portIndexPushed = m_portList->currentIndex();
    }
    pushText(m_identityEdits[link::control::kProductId], m_fields.modelName);
    pushText(m_identityEdits[link::control::kSerialNumber], std::to_string(m_fields.serialNumber));
    pushText(m_identityEdits[link::control::kFirmwareVersion], m_fields.firmwareVersion);
    pushText(m_identityEdits[link::control::kCanBaudRate], m_fields.canBaudRate);
    pushText(m_identityEdits[link::control::kVinStyle], m_fields.vinStyle);
    pushText(m_identityEdits[link::control::kFirmwareBuild], m_fields.firmwareBuild);
    for (std::size_t i = 0; i < m_parameterTexts.size(); ++i) {
        pushParameterText(m_parameterEdits[i], m_parameterTexts[i]);
    }
    if (m_dynamic && m_dynamic->isChecked() != (m_fields.dynamicChecked != 0)) {
        m_dynamic->setChecked(m_fields.dynamicChecked != 0);
    }
    if (m_quiet && m_quiet->isChecked() != (m_fields.quietChecked != 0)) {
        m_quiet->setChecked(m_fields.quietChecked != 0);
    }
    if (m_displaysDirty) {
        m_displaysDirty = false;
        if (m_displaysUpdated) m_displaysUpdated(m_evaluatedPosition);
    }
}

void CMainDialog::pushParameterText(BoundEdit& bound, const std::string& value) {
    if (bound.shown == value) {
        return;
    }
    // The parameter boxes change with every position broadcast, up to about 820 times a
    // second: their texts are set once per screen refresh, with the widgets' repaints.
    bound.shown = value;
    bound.pending = true;
    controls::RepaintPacer::instance().requestWork(this, [this] { applyPendingTexts(); });
}

void CMainDialog::applyPendingTexts() {
    for (BoundEdit& bound : m_parameterEdits) {
        if (!bound.pending) continue;
        bound.pending = false;
        if (bound.edit) {
            bound.edit->setText(fromLatin1(bound.shown));
        }
    }
}

std::string_view CMainDialog::shownText(int id) const {
    if (const auto it = m_identityEdits.find(id); it != m_identityEdits.end()) {
        return it->second.shown;
    }
    const auto index = model::indexOf(model::kTextDisplays, static_cast<model::ControlId>(id));
    return index < m_parameterEdits.size() ? std::string_view(m_parameterEdits[index].shown)
                                           : std::string_view();
}

std::string& CMainDialog::parameterText(int controlId) {
    return m_parameterTexts[model::indexOf(model::kTextDisplays,
                                           static_cast<model::ControlId>(controlId))];
}

// --- window operations the link calls -----------------------------------------------------

void CMainDialog::enableControl(int controlId, bool enable) {
    if (QWidget* w = control(controlId)) w->setEnabled(enable);
}

void CMainDialog::restartWatchdog(unsigned periodMs) {
    m_watchdog.start(static_cast<int>(periodMs));
}

void CMainDialog::stopWatchdog() { m_watchdog.stop(); }

int CMainDialog::watchdogPeriod() const {
    return m_watchdog.isActive() ? m_watchdog.interval() : 0;
}

void CMainDialog::storePortFile() { m_portFile.store(m_fields.portText); }

void CMainDialog::setSliderPosition(double position) {
    if (m_slider) m_slider->setPosition(position);
}

void CMainDialog::evaluateModel(std::uint8_t position) {
    pullFields();
    const model::PresentationInputs inputs{m_fields.modelName, m_fields.serialNumber,
                                           m_fields.vinStyle, m_fields.clockText};
    model::evaluate(position, m_state.productId, inputs, m_vin, m_presentation);
    m_evaluatedPosition = position;
    ++m_evaluations;
    m_displaysDirty = true;
    for (std::size_t i = 0; i < m_displays.size(); ++i) {
        if (m_displays[i]) m_displays[i]->setValue(m_presentation.numbers[i].value);
    }
    for (std::size_t i = 0; i < m_leds.size(); ++i) {
        if (m_leds[i]) m_leds[i]->setActive(m_presentation.leds[i].lit);
    }
    for (std::size_t i = 0; i < m_parameterTexts.size(); ++i) {
        const model::TextValue& text = m_presentation.texts[i];
        if (text.isWritten()) m_parameterTexts[i].assign(text.text());
    }
    pushFields();
}

void CMainDialog::showMessage(std::string_view text, link::MessageIcon icon) {
    const std::string key(text);
    // A message box runs a nested event loop in which ticks and receive events go on. A failure
    // that repeats meanwhile must not stack box upon box.
    if (!m_openBoxes.insert(key).second) {
        return;
    }
    const QString message = fromLatin1(text);
    ++m_boxesShown;
    try {
        if (m_messageBox) {
            m_messageBox(message, icon);
        } else {
            QMessageBox box(
                icon == link::MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                QCoreApplication::applicationName(), message, QMessageBox::Ok, this);
            box.exec();
        }
    } catch (...) {
        m_openBoxes.erase(key);
        throw;
    }
    m_openBoxes.erase(key);
}

// --- operations ---------------------------------------------------------------------------

template <class Action>
void CMainDialog::guarded(Action&& action) {
    try {
        action();
    } catch (const link::SerialError& error) {
        std::string text = error.what();
        if (text.empty()) text = kInternalError;
        // The same refusal again (a port that stays missing, retried by every tick) has been
        // shown already; it is shown again only after a port has opened in between.
        if (text == m_lastSerialError) return;
        m_lastSerialError = text;
        showMessage(text, link::MessageIcon::Stop);
    }
}

void CMainDialog::teardown() {
    link::closePort(m_serial, m_state);
    enableControl(link::control::kDisconnect, false);
    enableControl(link::control::kConnect, true);
    for (const int id : link::control::kRemoteControlGroup) enableControl(id, false);
    m_state.firmwareVersion = 0;
    m_state.productId = 0;
    setSliderPosition(0);
    evaluateModel(0);
    if (QWidget* parking = control(kParkingLed)) {
        qobject_cast<controls::CiLedRectangleX*>(parking)->setActive(false);
    }
    for (std::string* text : {&m_fields.modelName, &m_fields.firmwareVersion, &m_fields.canBaudRate,
                              &m_fields.vinStyle, &m_fields.firmwareBuild}) {
        *text = link::kNotFoundYet;
    }
    m_fields.serialNumber = 0;
    for (const int id : kBlankedAtTeardown) parameterText(id) = " ";
    for (const int id : kEmptiedAtTeardown) parameterText(id).clear();
    m_fields.quietChecked = 0;
    m_fields.dynamicChecked = 0;
    m_state.deviceIdentified = false;
    m_displaysDirty = true;
    pushFields();
}

void CMainDialog::connectDevice() {
    m_state.versionText = {' ', '0', '.', '0', 'A'};
    m_state.revisionLetter = 'A';
    pullFields();
    m_state.identityAwaited = true;
    m_state.revisionReceived = false;
    for (std::string* text : {&m_fields.modelName, &m_fields.firmwareVersion, &m_fields.canBaudRate,
                              &m_fields.vinStyle, &m_fields.firmwareBuild}) {
        *text = link::kNotFoundYet;
    }
    m_fields.serialNumber = 0;
    pushFields();
    link::openPort(m_serial, m_state, m_fields, *this);
    if (m_state.portOpen) {
        m_lastSerialError.clear();
        link::sendPaced(m_serial, m_clock, link::identifyCommand());
    }
    restartWatchdog(link::kIdentifyingPeriodMs);
}

void CMainDialog::disconnectDevice() {
    stopWatchdog();
    teardown();
}

void CMainDialog::OnTimer(int id) {
    if (id != kWatchdogTimerId) {
        return;
    }
    guarded([this] {
        if (!m_state.messageReceived) {
            disconnectDevice();
        }
        const QWidget* connectButton = control(link::control::kConnect);
        if (connectButton && connectButton->isEnabled()) {
            try {
                connectDevice();
            } catch (const link::SerialError&) {
                // The port cannot be opened now: an adapter pulled, a device switched off.
                // Resting idle would need the operator to notice and click Connect; the
                // watchdog goes on trying instead, so the device is found again as soon as it
                // is back. The refusal is shown once (guarded()).
                restartWatchdog(link::kIdentifyingPeriodMs);
                m_state.messageReceived = false;
                throw;
            }
        }
        m_state.messageReceived = false;
    });
}

void CMainDialog::OnCommMscomm() {
    guarded([this] { m_receiver.onComm(); });
}

void CMainDialog::sendKey(std::uint8_t keyCode) {
    const std::string command = link::keyCommand(keyCode);
    if (m_state.portOpen) link::sendPaced(m_serial, m_clock, command);
}

void CMainDialog::sendPosition() {
    m_state.sliderBusy = true;
    pullFields();
    const double position = m_slider ? m_slider->Position() : 0.0;
    // Truncated toward zero, low 8 bits: 99.9 is sent as 99.
    const auto byte =
        static_cast<std::uint8_t>(static_cast<long long>(std::trunc(position)) & 0xFF);
    const std::string command = link::positionCommand(byte);
    if (m_state.portOpen) link::sendPaced(m_serial, m_clock, command);
}

void CMainDialog::onExit() {
    link::closePort(m_serial, m_state);
    stopWatchdog();
    pullFields();
    accept();
}

void CMainDialog::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0u) != kAboutCommand) {
        return;
    }
    runDeviceInfo();
}

void CMainDialog::runDeviceInfo() {
    pullFields();
    DeviceInfoInput input;
    input.deviceIdentified = m_state.deviceIdentified;
    input.productId = m_state.productId;
    input.firmwareVersion = m_state.firmwareVersion;
    input.revisionLetter = m_state.revisionLetter;
    input.versionHundreds = m_state.versionText[0];
    input.serialNumber = m_fields.serialNumber;
    input.canBaudRateText = m_fields.canBaudRate;
    input.vinStyleText = m_fields.vinStyle;
    input.icon = m_icon;
    const DeviceInfoResult result =
        m_deviceInfo ? m_deviceInfo(input) : runDeviceInfoDialog(input, this);
    const std::optional<std::string> command = settingsCommandFor(result);
    if (!command) {
        return;
    }
    // The device takes the new setting and is identified afresh, twice, 500 ms apart; nothing
    // else is handled meanwhile, so only the answers to the second identify command are framed.
    guarded([&] {
        link::sendPaced(m_serial, m_clock, *command);
        link::settleAndReconnect(m_clock, [this] { connectDevice(); });
        link::settleAndReconnect(m_clock, [this] { connectDevice(); });
    });
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromLatin1(kAboutMenuText));
    // Taken from the action itself, not from what exec() returns: a screen reader triggers the
    // action without closing the menu.
    bool chosen = false;
    connect(about, &QAction::triggered, &menu, [&] {
        chosen = true;
        menu.close();
    });
    menu.exec(event->globalPos());
    if (chosen) {
        OnSysCommand(kAboutCommand);
    }
}

bool CMainDialog::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const unsigned command = controls::systemCommandOf(message);
    if ((command & 0xFFF0u) == kAboutCommand) {
        OnSysCommand(command);
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}

WindowState CMainDialog::windowState() const {
    const QWidget* connectButton = control(link::control::kConnect);
    const QWidget* remote = control(link::control::kSlider);
    const bool connectEnabled = connectButton && connectButton->isEnabled();
    if (!connectEnabled) {
        return remote && remote->isEnabled() ? WindowState::Connected : WindowState::IdentityOnly;
    }
    if (!m_watchdog.isActive()) return WindowState::IdleWatchdogStopped;
    return m_state.portOpen || m_state.identityAwaited ? WindowState::Identifying
                                                       : WindowState::IdleWatchdogRunning;
}

}  // namespace orvale::ui
