#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/ci_slider_x.h"
#include "controls/read_only_box.h"
#include "controls/repaint_pacer.h"
#include "link/protocol.h"
#include "model/control_ids.h"
#include "support/fakes.h"
#include "support/session_fakes.h"

namespace orvale::ui {
namespace {

namespace id = link::control;
using link::device::identityAnswer;

using test::MemoryPortFile;

// A session and its window over a fake serial control, as the application wires them.
struct Rig {
    explicit Rig(link::MillisecondClock& clock, session::PortConfiguration& portFile)
        : serial(&clock), session(serial, clock, portFile, timer), window(session) {}
    test::FakeSerialControl serial;
    test::ManualWatchdogTimer timer;
    session::DeviceSession session;
    CMainDialog window;
};

class MainDialogTest : public ::testing::Test {
protected:
    MainDialogTest() {
        window.setMessageBoxHandler([this](const QString& text, link::MessageIcon icon) {
            boxes.push_back(text.toStdString());
            icons.push_back(icon);
            if (duringBox) duringBox();
        });
    }

    void init() { window.OnInitDialog(); }

    std::string text(int controlId) {
        window.repaintPacer().flush();
        auto* edit = qobject_cast<controls::ReadOnlyBox*>(window.control(controlId));
        return edit ? edit->text().toStdString() : "<none>";
    }
    bool enabled(int controlId) const { return window.control(controlId)->isEnabled(); }
    double value(int controlId) const {
        return qobject_cast<controls::CiAnalogDisplayX*>(window.control(controlId))->Value();
    }
    bool lit(int controlId) const {
        return qobject_cast<controls::CiLedRectangleX*>(window.control(controlId))->Active();
    }
    controls::CiSliderX* slider() const {
        return qobject_cast<controls::CiSliderX*>(window.control(id::kSlider));
    }
    void click(int controlId) {
        qobject_cast<QAbstractButton*>(window.control(controlId))->click();
    }
    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        window.OnCommMscomm();
    }
    void tick() { window.OnTimer(CMainDialog::kWatchdogTimerId); }

    // Start-up, the first tick and a device answering: the window ends connected.
    void connectTo(std::uint8_t productId, std::uint8_t versionByte = 2, char revision = 'B') {
        init();
        tick();
        deliver(link::device::revisionAnswer(revision));
        deliver(link::device::canBaudRateAnswer(3));
        deliver(link::device::vinStyleAnswer('1'));
        deliver(identityAnswer({productId, 987654321, versionByte}));
    }

    test::SteppingClock clock;
    test::FakeSerialControl serial{&clock};
    MemoryPortFile portFile;
    test::ManualWatchdogTimer timer;
    session::DeviceSession session{serial, clock, portFile, timer};
    CMainDialog window{session};
    std::vector<std::string> boxes;
    std::vector<link::MessageIcon> icons;
    std::function<void()> duringBox;
};

TEST_F(MainDialogTest, StartsIdleWithTheWatchdogRunningAndEverythingReset) {
    portFile.portText = "COM12";
    init();
    EXPECT_EQ(window.windowState(), WindowState::IdleWatchdogRunning);
    EXPECT_EQ(window.watchdogPeriod(), 100);
    EXPECT_TRUE(enabled(id::kConnect));
    EXPECT_FALSE(enabled(id::kDisconnect));
    for (const int remote : id::kRemoteControlGroup) EXPECT_FALSE(enabled(remote)) << remote;
    EXPECT_EQ(qobject_cast<QComboBox*>(window.control(id::kPortList))->currentText().toStdString(),
              "COM12");
    for (const int identity : {id::kProductId, id::kFirmwareVersion, id::kCanBaudRate,
                               id::kVinStyle, id::kFirmwareBuild}) {
        EXPECT_EQ(text(identity), "Not Found Yet!") << identity;
    }
    EXPECT_EQ(text(id::kSerialNumber), "0");
    // The widget displays show position 0; the texts are blank or empty; Parking is dark.
    EXPECT_EQ(value(model::control::kEngineCoolantTemperature), -40.0);
    EXPECT_EQ(value(model::control::kServiceDistance), -160635.0);
    EXPECT_EQ(text(model::control::kDriver1WorkingState), " ");
    EXPECT_EQ(text(model::control::kVehicleIdentificationNumber), " ");
    EXPECT_EQ(text(model::control::kFuelType), "");
    EXPECT_EQ(text(model::control::kDateTime), "");
    EXPECT_FALSE(lit(model::control::kParkingLed));
    EXPECT_TRUE(serial.written.empty()) << "nothing is sent before the first tick";
}

TEST_F(MainDialogTest, PortListPushAndPull) {
    init();
    auto* list = qobject_cast<QComboBox*>(window.control(id::kPortList));
    ASSERT_EQ(list->count(), 50);
    EXPECT_EQ(list->itemText(0).toStdString(), "COM1");
    EXPECT_EQ(list->itemText(49).toStdString(), "COM50");
    const struct {
        const char* portText;
        const char* selected;
    } cases[] = {{"com4", "COM4"}, {"COM2", "COM2"}, {"COM", "COM1"},    {"COM5", "COM5"},
                 {"XYZ", "COM5"},  {"", "COM1"},     {"COM45", "COM45"}, {"COMX1", "COM45"}};
    for (const auto& c : cases) {
        window.fields().portText = c.portText;
        window.pushFields();
        EXPECT_EQ(list->currentText().toStdString(), c.selected) << c.portText;
    }
    list->setCurrentIndex(-1);
    window.pullFields();
    EXPECT_EQ(window.fields().portText, "");
}

TEST_F(MainDialogTest, APortChosenThroughTheSessionIsShownAndOpened) {
    init();
    session.selectPort("COM9");
    EXPECT_EQ(qobject_cast<QComboBox*>(window.control(id::kPortList))->currentText().toStdString(),
              "COM9");
    tick();
    EXPECT_EQ(serial.commPort, 9);
}

TEST_F(MainDialogTest, FirstTickConnectsWithoutAClick) {
    portFile.portText = "COM7";
    init();
    tick();
    EXPECT_EQ(serial.commPort, 7);
    EXPECT_EQ(serial.written, link::identifyCommand());
    EXPECT_EQ(window.windowState(), WindowState::Identifying);
    EXPECT_EQ(window.watchdogPeriod(), 100);
    EXPECT_TRUE(window.connection().identityAwaited);
}

TEST_F(MainDialogTest, IdentifyingRepeatsTheIdentifyCommandEveryTick) {
    init();
    tick();
    deliver("ACK \r\n");  // a sign of life, but no identity
    tick();
    tick();
    EXPECT_EQ(serial.written,
              link::identifyCommand() + link::identifyCommand() + link::identifyCommand());
    EXPECT_EQ(window.windowState(), WindowState::Identifying);
}

TEST_F(MainDialogTest, IdentityOutcomesSetTheWindowState) {
    const struct {
        std::uint8_t productId;
        std::uint8_t versionByte;
        char revision;
        WindowState state;
        int watchdog;
        std::size_t boxes;
    } cases[] = {
        {15, 2, 'B', WindowState::Connected, 1000, 0},
        {11, 2, 'C', WindowState::Connected, 1000, 0},
        {10, 2, 'B', WindowState::IdentityOnly, 0, 0},
        {13, 2, 'A', WindowState::IdentityOnly, 0, 1},
        {20, 2, 'B', WindowState::IdleWatchdogStopped, 0, 0},
    };
    for (const auto& c : cases) {
        Rig rig{clock, portFile};
        auto& s = rig.serial;
        auto& w = rig.window;
        std::size_t shown = 0;
        w.setMessageBoxHandler([&](const QString&, link::MessageIcon) { ++shown; });
        w.OnInitDialog();
        w.OnTimer(CMainDialog::kWatchdogTimerId);
        s.queue(link::device::revisionAnswer(c.revision));
        w.OnCommMscomm();
        s.queue(identityAnswer({c.productId, 42, c.versionByte}));
        w.OnCommMscomm();
        const std::string name = "product " + std::to_string(c.productId);
        EXPECT_EQ(w.windowState(), c.state) << name;
        EXPECT_EQ(w.watchdogPeriod(), c.watchdog) << name;
        EXPECT_EQ(shown, c.boxes) << name;
    }
}

TEST_F(MainDialogTest, ConnectedShowsIdentityAndBroadcasts) {
    connectTo(15);
    EXPECT_EQ(window.windowState(), WindowState::Connected);
    EXPECT_EQ(text(id::kProductId), "Quennet Duo Plus");
    EXPECT_EQ(text(id::kSerialNumber), "987654321");
    EXPECT_EQ(text(id::kFirmwareVersion), " 0.3B");
    EXPECT_EQ(text(id::kCanBaudRate), "500K bps");
    EXPECT_EQ(text(id::kVinStyle), "Fixed");
    EXPECT_EQ(portFile.stored, std::vector<std::string>{"COM1"});

    deliver("BRC CLKC0220E3E\r\n");
    deliver(link::device::positionStatusBroadcast({80, 2}));
    EXPECT_EQ(slider()->Position(), 80.0);
    EXPECT_EQ(value(model::control::kEngineSpeed), 6425.5);
    EXPECT_EQ(text(model::control::kVehicleIdentificationNumber), "1M8GDM9AXKP654321*");
    EXPECT_EQ(text(model::control::kDateTime), "2185/09/25/12:34:56");
    EXPECT_TRUE(qobject_cast<QCheckBox*>(window.control(id::kDynamic))->isChecked());
    EXPECT_TRUE(qobject_cast<QCheckBox*>(window.control(id::kQuiet))->isChecked());
    EXPECT_TRUE(lit(model::control::kBrakeLed));
}

TEST_F(MainDialogTest, ASilentDeviceIsTornDownAndIdentifiedAgain) {
    connectTo(15);
    deliver(link::device::positionStatusBroadcast({60, 1}));
    tick();  // messages came: stays connected
    EXPECT_EQ(window.windowState(), WindowState::Connected);
    serial.written.clear();
    tick();  // a whole period without a frame
    EXPECT_EQ(window.windowState(), WindowState::Identifying);
    EXPECT_EQ(serial.written, link::identifyCommand());
    EXPECT_EQ(slider()->Position(), 0.0);
    EXPECT_EQ(text(id::kProductId), "Not Found Yet!");
    EXPECT_EQ(text(model::control::kDriver1WorkingState), " ");
    EXPECT_EQ(value(model::control::kEngineSpeed), 0.0);
}

TEST_F(MainDialogTest, DisconnectStopsTheWatchdog) {
    connectTo(15);
    click(id::kDisconnect);
    EXPECT_EQ(window.windowState(), WindowState::IdleWatchdogStopped);
    EXPECT_FALSE(serial.open);
    click(id::kConnect);
    EXPECT_EQ(window.windowState(), WindowState::Identifying);
}

TEST_F(MainDialogTest, KeysAndSliderSendTheirCommands) {
    connectTo(15);
    serial.written.clear();
    click(id::kUp);
    click(id::kDown);
    EXPECT_EQ(serial.written, link::keyCommand(link::Key::Up) + link::keyCommand(link::Key::Down));

    serial.written.clear();
    click(id::kDynamic);
    EXPECT_TRUE(window.connection().dynamicBusy);
    click(id::kQuiet);
    EXPECT_TRUE(window.connection().quietBusy);
    EXPECT_EQ(serial.written,
              link::keyCommand(link::Key::Dynamic) + link::keyCommand(link::Key::Quiet));
    deliver(link::device::keyAck());
    EXPECT_FALSE(window.connection().dynamicBusy);

    const struct {
        double position;
        std::uint8_t sent;
    } positions[] = {{99.9, 99}, {100, 100}, {57.9, 57}, {0, 0}};
    for (const auto& p : positions) {
        serial.written.clear();
        slider()->setPosition(p.position);
        emit slider()->mouseDown(1, 0, 5, 5);
        EXPECT_TRUE(window.connection().sliderBusy);
        emit slider()->mouseUp(1, 0, 5, 5);
        EXPECT_EQ(serial.written, link::positionCommand(p.sent)) << p.position;
    }
}

TEST_F(MainDialogTest, AScreenReadersToggleOnDynamicAndQuietSendsTheKeyAsAClickDoes) {
    connectTo(15);
    serial.written.clear();
    for (const int box : {id::kDynamic, id::kQuiet}) {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(window.control(box));
        ASSERT_NE(accessible, nullptr);
        ASSERT_NE(accessible->actionInterface(), nullptr);
        accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    }
    EXPECT_EQ(serial.written,
              link::keyCommand(link::Key::Dynamic) + link::keyCommand(link::Key::Quiet));
    EXPECT_TRUE(window.connection().dynamicBusy);
}

TEST_F(MainDialogTest, SliderBusyHoldsBackPositionBroadcastsEvenAcrossATeardown) {
    connectTo(15);
    short key = 0x27;
    emit slider()->keyDown(key, 0);
    EXPECT_TRUE(window.connection().sliderBusy);
    emit slider()->mouseDown(2, 0, 1, 1);  // a right button does not mark it
    deliver(link::device::positionStatusBroadcast({30, 1}));
    EXPECT_EQ(slider()->Position(), 0.0);
    click(id::kDisconnect);
    click(id::kConnect);
    EXPECT_TRUE(window.connection().sliderBusy);
    deliver(link::device::positionAck());
    EXPECT_FALSE(window.connection().sliderBusy);
}

TEST_F(MainDialogTest, CommandsAreDroppedWhileThePortIsClosed) {
    init();
    emit slider()->positionChangeFinished();
    click(id::kUp);
    EXPECT_TRUE(serial.written.empty());
}

TEST_F(MainDialogTest, ExitClosesThePortCancelDoesNot) {
    connectTo(15);
    serial.calls.clear();
    click(id::kExit);
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(window.watchdogPeriod(), 0);

    Rig rig{clock, portFile};
    auto& s = rig.serial;
    auto& other = rig.window;
    other.OnInitDialog();
    other.OnTimer(CMainDialog::kWatchdogTimerId);
    ASSERT_TRUE(s.open);
    other.show();
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(other.result(), QDialog::Rejected);
    EXPECT_TRUE(s.open) << "the cancel path does not close the port first";
}

TEST_F(MainDialogTest, EnterRunsExitUnlessAnotherButtonHasTheFocus) {
    init();
    window.show();
    QApplication::setActiveWindow(&window);
    auto* connectButton = qobject_cast<QPushButton*>(window.control(id::kConnect));
    connectButton->setFocus();
    QTest::keyClick(connectButton, Qt::Key_Return);
    EXPECT_TRUE(window.isVisible()) << "Enter on Connect connects";
    EXPECT_EQ(window.windowState(), WindowState::Identifying);
    window.control(model::control::kEngineSpeed)->setFocus();
    QTest::keyClick(window.control(id::kProductId), Qt::Key_Return);
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(MainDialogTest, SystemCommandsSixteenToThirtyOneOpenTheDeviceDialog) {
    init();
    int opened = 0;
    window.setDeviceInfoHandler([&](const DeviceInfoInput&) {
        ++opened;
        return DeviceInfoResult{};
    });
    for (unsigned command = 0; command < 48; ++command) window.OnSysCommand(command);
    EXPECT_EQ(opened, 16);
}

TEST_F(MainDialogTest, TheDeviceDialogGetsTheIdentityAndAConfirmedChangeReconnectsTwice) {
    connectTo(11);
    DeviceInfoInput seen;
    window.setDeviceInfoHandler([&](const DeviceInfoInput& input) {
        seen = input;
        DeviceInfoResult result;
        result.accepted = true;
        result.canChangeConfirmed = true;
        result.canBaudRateChoice = "500K bps";
        return result;
    });
    serial.written.clear();
    serial.writeTimes.clear();
    window.OnSysCommand(CMainDialog::kAboutCommand);
    EXPECT_TRUE(seen.deviceIdentified);
    EXPECT_EQ(seen.productId, 11);
    EXPECT_EQ(seen.firmwareVersion, 3);
    EXPECT_EQ(seen.revisionLetter, 'B');
    EXPECT_EQ(seen.serialNumber, 987654321u);
    EXPECT_EQ(seen.canBaudRateText, "500K bps");

    const std::string command = link::canBaudRateCommand("500K bps");
    const std::string identify = link::identifyCommand();
    ASSERT_EQ(serial.written, command + identify + identify);
    const auto firstIdentify = command.size();
    const auto secondIdentify = firstIdentify + identify.size();
    EXPECT_GE(serial.writeTimes[firstIdentify] - serial.writeTimes[firstIdentify - 1], 500u);
    EXPECT_GE(serial.writeTimes[secondIdentify] - serial.writeTimes[secondIdentify - 1], 500u);
    EXPECT_FALSE(enabled(id::kConnect)) << "the buttons keep the state they came from";
    EXPECT_EQ(text(id::kCanBaudRate), "Not Found Yet!");

    // OK without a confirmation sends nothing.
    window.setDeviceInfoHandler([](const DeviceInfoInput&) {
        DeviceInfoResult result;
        result.accepted = true;
        return result;
    });
    serial.written.clear();
    window.OnSysCommand(CMainDialog::kAboutCommand + 5);
    EXPECT_TRUE(serial.written.empty());
}

TEST_F(MainDialogTest, ARefusedOpenIsShownInAStopBoxAndStopsTheConnect) {
    init();
    timer.stop();
    serial.failOn = "PortOpen=1";
    click(id::kConnect);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "refused: PortOpen=1");
    EXPECT_EQ(icons[0], link::MessageIcon::Stop);
    EXPECT_TRUE(serial.written.empty());
    EXPECT_EQ(window.windowState(), WindowState::IdleWatchdogStopped)
        << "the connect stopped where the open was refused, before restarting the watchdog";
}

// An adapter pulled while connected: the silent tick tears down and its connect cannot open
// the port. The watchdog goes on trying, shows the refusal once, and finds the device again
// when it is back.
TEST_F(MainDialogTest, RegressionAVanishedPortIsRetriedByTheWatchdogUntilItIsBack) {
    connectTo(15);
    tick();  // clears the sign of life the identification left
    serial.failOn = "PortOpen=1";
    tick();  // a whole period without a frame
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(window.watchdogPeriod(), 100);
    for (int i = 0; i < 20; ++i) tick();
    EXPECT_EQ(boxes.size(), 1u) << "the same refusal is shown once";
    EXPECT_EQ(window.watchdogPeriod(), 100);

    serial.failOn.clear();
    serial.written.clear();
    tick();
    EXPECT_EQ(serial.written, link::identifyCommand());
    deliver(link::device::revisionAnswer('B'));
    deliver(identityAnswer({15, 1, 2}));
    EXPECT_EQ(window.windowState(), WindowState::Connected);
}

TEST_F(MainDialogTest, StillOpenPortIsReportedAndNothingIsSent) {
    init();
    serial.stuckOpen = true;
    tick();
    EXPECT_EQ(boxes, std::vector<std::string>{"Cannot Open the selected Serial Port!"});
    EXPECT_EQ(icons[0], link::MessageIcon::Warning);
    EXPECT_TRUE(serial.written.empty());
    EXPECT_EQ(window.watchdogPeriod(), 100) << "the next tick tries again";
}

// A port that vanishes while the device is being identified: every tick that runs inside the
// open error box fails the same open again. One box at a time, and the same failure is not
// shown again until a port has opened in between.
TEST_F(MainDialogTest, RegressionARepeatedPortFailureShowsOneBoxNotAStack) {
    init();
    tick();
    deliver("ACK \r\n");  // the device was alive: the next tick reconnects without disconnect
    serial.failOn = "PortOpen=1";
    int nestedTicks = 0;
    duringBox = [&] {
        for (; nestedTicks < 5; ++nestedTicks) tick();
    };
    tick();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(nestedTicks, 5);
    tick();
    EXPECT_EQ(boxes.size(), 1u) << "the same refusal again";

    serial.failOn.clear();
    click(id::kConnect);  // opens: the next refusal is news again
    serial.failOn = "PortOpen=1";
    click(id::kConnect);
    EXPECT_EQ(boxes.size(), 2u);
}

// An adapter pulled while the device is identified: the refusal is shown, and while its box is
// open the watchdog finds the device back. The stale box is taken away, not left over a working
// connection.
TEST_F(MainDialogTest, RegressionARefusalWhoseProblemHasGoneIsTakenAway) {
    init();
    std::vector<std::string> withdrawn;
    window.setMessageWithdrawnHandler(
        [&](const QString& text) { withdrawn.push_back(text.toStdString()); });
    serial.failOn = "PortOpen=1";
    duringBox = [&] {
        serial.failOn.clear();
        tick();
    };
    tick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(withdrawn, boxes);
    EXPECT_EQ(window.windowState(), WindowState::Identifying);
}

TEST_F(MainDialogTest, AWithdrawnRefusalClosesItsBox) {
    Rig rig{clock, portFile};
    rig.window.OnInitDialog();
    rig.serial.failOn = "PortOpen=1";
    bool closedByHand = false;
    // While the box is open its event loop runs: the device comes back and a tick opens it.
    QTimer::singleShot(0, [&] {
        rig.serial.failOn.clear();
        rig.timer.fire();
    });
    QTimer::singleShot(5000, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            closedByHand = true;
            modal->close();
        }
    });
    rig.timer.fire();
    EXPECT_FALSE(closedByHand) << "the box stayed open";
    EXPECT_EQ(rig.session.messagesReported(), 1u);
}

TEST_F(MainDialogTest, EmptySerialErrorTextBecomesInternalApplicationError) {
    init();
    serial.failOn = "CommPort";
    serial.failText = "";
    tick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Internal application error.");
}

}  // namespace
}  // namespace orvale::ui
