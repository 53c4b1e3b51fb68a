#include "ui/main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <optional>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/ci_slider_x.h"
#include "controls/read_only_box.h"
#include "controls/system_menu.h"
#include "link/protocol.h"
#include "model/control_ids.h"
#include "ui/accessible_check_box.h"
#include "ui/control_builder.h"
#include "ui/control_catalogue.h"
#include "ui/dialog_units.h"
#include "ui/readable_palette.h"
#include "ui/text_fit.h"

namespace orvale::ui {
namespace {

namespace id = model::control;

QString fromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CMainDialog::CMainDialog(session::DeviceSession& session, QWidget* parent)
    : QDialog(parent), m_session(session) {
    installCheckBoxAccessibility();
    setPalette(readablePalette(QApplication::palette(this)));
    buildWindow();
    m_pacer.attachTo(this);
    wireEvents();
    // The first exchange to the controls, as the dialog's own initialisation does: the window
    // shows what the session holds now.
    for (const auto& [controlId, widget] : m_controls) {
        if (controlId == id::kConnect || controlId == id::kDisconnect ||
            std::find(id::kRemoteControlGroup.begin(), id::kRemoteControlGroup.end(), controlId) !=
                id::kRemoteControlGroup.end()) {
            widget->setEnabled(m_session.isEnabled(controlId));
        }
    }
    fieldsPushed(m_session.fields());
    m_session.addObserver(this);
    m_session.setOperatorInputs(this);
}

CMainDialog::~CMainDialog() {
    m_session.setOperatorInputs(nullptr);
    m_session.removeObserver(this);
}

void CMainDialog::buildWindow() {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    m_baseFont = font();
    m_units = DialogUnits(fontMetrics());
    m_controls = buildControls(this, m_units, m_placements);
    m_naturalSize = m_units.toPixels(QSize(kWindowWidthDu, kWindowHeightDu));
    // A font that makes the widest texts fit makes them all fit: only those are tried when the
    // window is resized.
    for (Placement& placed : m_placements) {
        if (placed.texts.size() > 3) placed.texts = widestTexts(placed.texts, m_baseFont);
    }
    setMinimumSize(m_naturalSize * kSmallestScale);
    resize(m_naturalSize);
    applyScale(1.0);

    m_portList = qobject_cast<QComboBox*>(control(id::kPortList));
    m_slider = qobject_cast<controls::CiSliderX*>(control(id::kSlider));
    m_dynamic = qobject_cast<QCheckBox*>(control(id::kDynamic));
    m_quiet = qobject_cast<QCheckBox*>(control(id::kQuiet));
    for (const int identityBox : {id::kProductId, id::kSerialNumber, id::kFirmwareVersion,
                                  id::kCanBaudRate, id::kVinStyle, id::kFirmwareBuild}) {
        m_identityEdits[identityBox].edit =
            qobject_cast<controls::ReadOnlyBox*>(control(identityBox));
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
    if (auto* exit = qobject_cast<QPushButton*>(control(id::kExit))) {
        exit->setDefault(true);
    }
    for (QWidget* display : m_displays) {
        if (display) display->installEventFilter(this);
    }
    for (QWidget* led : m_leds) {
        if (led) led->installEventFilter(this);
    }
    // The context menu's shortcut, when the menu is not open.
    auto* plot = new QAction(this);
    plot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(plot, &QAction::triggered, this, [this] {
        if (m_plot) m_plot(std::nullopt);
    });
    addAction(plot);
    auto* bus = new QAction(this);
    bus->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(bus, &QAction::triggered, this, [this] {
        if (m_bus) m_bus();
    });
    addAction(bus);
}

void CMainDialog::applyScale(double scale) {
    m_scale = scale;
    const DialogUnits units = m_units.scaled(scale);
    const QSize laidOut = units.toPixels(QSize(kWindowWidthDu, kWindowHeightDu));
    // The layout keeps its proportions; what the window has beyond them is shared out evenly.
    const QPoint origin(std::max(0, (width() - laidOut.width()) / 2),
                        std::max(0, (height() - laidOut.height()) / 2));
    QFont base(m_baseFont);
    base.setPointSizeF(m_baseFont.pointSizeF() * scale);
    placeControls(m_placements, units, origin);
    const QList<QFont> fonts = fittingFonts(base);
    for (const Placement& placed : m_placements) {
        const auto fits = [&](const QFont& font) {
            for (const QString& text : placed.texts) {
                bool ok = true;
                switch (placed.role) {
                    case Placement::Role::Control:
                        ok = textFits(*placed.widget, placed.kind, text, font);
                        break;
                    case Placement::Role::LabelFrame:
                    case Placement::Role::Group:
                        ok = captionFits(*static_cast<QGroupBox*>(placed.widget), text, font);
                        break;
                    case Placement::Role::StaticText: {
                        // It may run on to the edge of its group.
                        const QRect groupBox =
                            units.toPixels(group(placed.group).box).translated(origin);
                        const int room = groupBox.left() + groupBox.width() - units.toPixelsX(4) -
                                         placed.widget->x();
                        ok = labelFits(room, text, font);
                        break;
                    }
                }
                if (!ok) return false;
            }
            return true;
        };
        // The window's own font where every text fits; else the first of the condensed and
        // smaller faces that makes them fit; else the smallest, and the control shortens what
        // still does not fit.
        const auto chosen = std::find_if(fonts.begin(), fonts.end(), fits);
        placed.widget->setFont(chosen != fonts.end() ? *chosen : fonts.back());
    }
    // Static texts widen with their font: placed again now that it is set.
    placeControls(m_placements, units, origin);
}

void CMainDialog::changeEvent(QEvent* event) {
    // A desktop switched to another palette (a dark one): its texts are kept readable.
    if (event->type() == QEvent::ApplicationPaletteChange) {
        setPalette(readablePalette(QApplication::palette(this)));
    }
    QDialog::changeEvent(event);
}

void CMainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (m_naturalSize.isEmpty()) return;
    const double scale = std::min(static_cast<double>(width()) / m_naturalSize.width(),
                                  static_cast<double>(height()) / m_naturalSize.height());
    if (std::abs(scale - m_scale) > 1e-3) applyScale(scale);
}

void CMainDialog::fitToScreen() {
    const QScreen* shown = screen();
    if (shown == nullptr) return;
    // Never taller or wider than the screen's free area: the window opens at the size its
    // font gives, or as much smaller as the screen needs, and can be made no smaller than
    // kSmallestScale unless the screen itself is smaller.
    const QRect available = shown->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize room = available.size() - (frame.isEmpty() ? QSize(16, 40) : frame);
    const double scale = std::min({1.0, static_cast<double>(room.width()) / m_naturalSize.width(),
                                   static_cast<double>(room.height()) / m_naturalSize.height()});
    setMinimumSize((m_naturalSize * std::min(kSmallestScale, scale)).boundedTo(room));
    if (scale < 1.0 || width() > room.width() || height() > room.height()) {
        resize((m_naturalSize * scale).boundedTo(room));
    }
}

void CMainDialog::showEvent(QShowEvent* event) {
    if (!m_fittedToScreen) {
        m_fittedToScreen = true;
        fitToScreen();
        // The window frame's size is known once it is shown: check again then.
        QMetaObject::invokeMethod(this, &CMainDialog::fitToScreen, Qt::QueuedConnection);
    }
    QDialog::showEvent(event);
}

void CMainDialog::wireEvents() {
    const auto onClick = [this](int controlId, auto handler) {
        if (auto* button = qobject_cast<QAbstractButton*>(control(controlId))) {
            connect(button, &QAbstractButton::clicked, this, handler);
        }
    };
    onClick(id::kConnect, [this] { m_session.connect(); });
    onClick(id::kDisconnect, [this] { m_session.disconnect(); });
    onClick(id::kExit, [this] { onExit(); });
    onClick(id::kDown, [this] { m_session.pressKey(link::Key::Down); });
    onClick(id::kUp, [this] { m_session.pressKey(link::Key::Up); });
    // Automatic check boxes: the click has toggled the mark already; the pull takes it.
    onClick(id::kDynamic, [this] { m_session.pressKey(link::Key::Dynamic); });
    onClick(id::kQuiet, [this] { m_session.pressKey(link::Key::Quiet); });

    if (m_slider) {
        using controls::CiSliderX;
        // The operator starting a change marks the position as the operator's; ending one
        // sends it. Until the device acknowledges, its broadcasts leave the slider alone.
        const auto send = [this] { m_session.sendPosition(m_slider->Position()); };
        const auto busy = [this] { m_session.markSliderBusy(); };
        connect(m_slider, &CiSliderX::mouseDown, this, [busy](short button, short, int, int) {
            if ((button & 1) != 0) busy();
        });
        connect(m_slider, &CiSliderX::mouseUp, this, send);
        connect(m_slider, &CiSliderX::keyDown, this, busy);
        connect(m_slider, &CiSliderX::keyUp, this, send);
        connect(m_slider, &CiSliderX::positionChangeStarted, this, busy);
        connect(m_slider, &CiSliderX::positionChangeFinished, this, send);
    }
}

QWidget* CMainDialog::control(int controlId) const {
    const auto it = m_controls.find(controlId);
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
    // Where the platform has a real system menu, the entry is added to it there; everywhere the
    // window's context menu offers it (contextMenuEvent). Once: exec() comes here again.
    if (!property("orvaleInitialised").toBool()) {
        setProperty("orvaleInitialised", true);
        controls::appendSystemMenuEntry(*this, kAboutCommand, QString::fromLatin1(kAboutMenuText));
    }
    m_session.initialise();
}

void CMainDialog::OnTimer(int timerId) {
    if (timerId == kWatchdogTimerId) m_session.onWatchdogTick();
}

// --- data exchange ------------------------------------------------------------------------

void CMainDialog::pullInputs(link::WindowFields& fields) {
    if (m_portList) {
        // Pulls come with every broadcast; the list's text is converted only when it changed.
        const int index = m_portList->currentIndex();
        if (index != m_portIndexPulled) {
            m_portTextPulled = index < 0 ? std::string() : m_portList->currentText().toStdString();
            m_portIndexPulled = index;
        }
        fields.portText = m_portTextPulled;
    }
    if (m_dynamic) fields.dynamicChecked = m_dynamic->isChecked() ? 1 : 0;
    if (m_quiet) fields.quietChecked = m_quiet->isChecked() ? 1 : 0;
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

void CMainDialog::fieldsPushed(const link::WindowFields& fields) {
    // Resolving the port text against the list is skipped when neither changed since the last
    // push: pushes come with every broadcast.
    if (m_portList &&
        (fields.portText != m_portTextPushed || m_portList->currentIndex() != m_portIndexPushed)) {
        // The first entry that begins with the text, letters compared without regard to case;
        // a text that begins no entry leaves the selection as it is.
        const QString text = fromLatin1(fields.portText);
        for (int i = 0; i < m_portList->count(); ++i) {
            if (m_portList->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
                if (m_portList->currentIndex() != i) m_portList->setCurrentIndex(i);
                break;
            }
        }
        m_portTextPushed = fields.portText;
        m_portIndexPushed = m_portList->currentIndex();
    }
    pushText(m_identityEdits[id::kProductId], fields.modelName);
    pushText(m_identityEdits[id::kSerialNumber], std::to_string(fields.serialNumber));
    pushText(m_identityEdits[id::kFirmwareVersion], fields.firmwareVersion);
    pushText(m_identityEdits[id::kCanBaudRate], fields.canBaudRate);
    pushText(m_identityEdits[id::kVinStyle], fields.vinStyle);
    pushText(m_identityEdits[id::kFirmwareBuild], fields.firmwareBuild);
    if (m_dynamic && m_dynamic->isChecked() != (fields.dynamicChecked != 0)) {
        m_dynamic->setChecked(fields.dynamicChecked != 0);
    }
    if (m_quiet && m_quiet->isChecked() != (fields.quietChecked != 0)) {
        m_quiet->setChecked(fields.quietChecked != 0);
    }
}

void CMainDialog::displaysChanged(std::uint8_t /*position*/, const session::Displays& displays) {
    for (std::size_t i = 0; i < m_displays.size(); ++i) {
        if (m_displays[i]) m_displays[i]->setValue(displays.numbers[i]);
    }
    for (std::size_t i = 0; i < m_leds.size(); ++i) {
        if (m_leds[i]) m_leds[i]->setActive(displays.leds[i]);
    }
    for (std::size_t i = 0; i < m_parameterEdits.size(); ++i) {
        pushParameterText(m_parameterEdits[i], displays.texts[i]);
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
    m_pacer.requestWork(this, [this] { applyPendingTexts(); });
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

std::string_view CMainDialog::shownText(int controlId) const {
    if (const auto it = m_identityEdits.find(controlId); it != m_identityEdits.end()) {
        return it->second.shown;
    }
    const auto index =
        model::indexOf(model::kTextDisplays, static_cast<model::ControlId>(controlId));
    return index < m_parameterEdits.size() ? std::string_view(m_parameterEdits[index].shown)
                                           : std::string_view();
}

void CMainDialog::controlEnabled(int controlId, bool enabled) {
    if (QWidget* w = control(controlId)) w->setEnabled(enabled);
}

void CMainDialog::sliderMoved(double position) {
    if (m_slider) m_slider->setPosition(position);
}

void CMainDialog::message(std::string_view text, link::MessageIcon icon) {
    const QString shown = fromLatin1(text);
    if (m_messageBox) {
        m_messageBox(shown, icon);
        return;
    }
    QMessageBox box(icon == link::MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                    QCoreApplication::applicationName(), shown, QMessageBox::Ok, this);
    const std::string key(text);
    m_openBoxes[key] = &box;
    box.exec();
    m_openBoxes.erase(key);
}

void CMainDialog::messageWithdrawn(std::string_view text) {
    if (const auto it = m_openBoxes.find(std::string(text)); it != m_openBoxes.end()) {
        it->second->reject();
    }
    if (m_messageWithdrawn) m_messageWithdrawn(fromLatin1(text));
}

// --- operations ---------------------------------------------------------------------------

void CMainDialog::onExit() {
    if (!m_session.exit()) return;
    pullFields();
    accept();
}

void CMainDialog::OnSysCommand(unsigned command) {
    if ((command & 0xFFF0u) != kAboutCommand) {
        return;
    }
    runDeviceInfo();
}

void CMainDialog::runDeviceInfo() {
    pullFields();
    const link::ConnectionState& state = m_session.connection();
    const link::WindowFields& fields = m_session.fields();
    DeviceInfoInput input;
    input.deviceIdentified = state.deviceIdentified;
    input.productId = state.productId;
    input.firmwareVersion = state.firmwareVersion;
    input.revisionLetter = state.revisionLetter;
    input.versionHundreds = state.versionText[0];
    input.serialNumber = fields.serialNumber;
    input.canBaudRateText = fields.canBaudRate;
    input.vinStyleText = fields.vinStyle;
    input.icon = m_icon;
    DeviceInfoResult result;
    {
        // Other views of the session (the control API) hold their device commands meanwhile.
        const session::DeviceSession::ModalScope modal(m_session, "the device information dialog");
        result = m_deviceInfo ? m_deviceInfo(input) : runDeviceInfoDialog(input, this);
    }
    if (const std::optional<std::string> command = settingsCommandFor(result)) {
        m_session.changeSetting(*command);
    }
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromLatin1(kAboutMenuText));
    QAction* plot = nullptr;
    if (m_plot) {
        plot = menu.addAction(QStringLiteral("&Plot..."));
        plot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    }
    QAction* bus = nullptr;
    if (m_bus) {
        bus = menu.addAction(QStringLiteral("&Bus..."));
        bus->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    }
    // Taken from the action itself, not from what exec() returns: a screen reader triggers the
    // action without closing the menu.
    QAction* chosen = nullptr;
    for (QAction* action : {about, plot, bus}) {
        if (action == nullptr) continue;
        connect(action, &QAction::triggered, &menu, [&chosen, &menu, action] {
            chosen = action;
            menu.close();
        });
    }
    menu.exec(event->globalPos());
    if (chosen == about) {
        OnSysCommand(kAboutCommand);
    } else if (chosen != nullptr && chosen == bus) {
        if (m_bus) m_bus();
    } else if (chosen != nullptr && m_plot) {
        m_plot(std::nullopt);
    }
}

void CMainDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (m_decorate) {
        QPainter painter(this);
        m_decorate(painter);
    }
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    // A double click on a display plots its parameter.
    if (event->type() == QEvent::MouseButtonDblClick && m_plot) {
        for (const auto& [controlId, widget] : m_controls) {
            if (widget == watched) {
                m_plot(static_cast<model::ControlId>(controlId));
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
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

}  // namespace orvale::ui
