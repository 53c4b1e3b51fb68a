#include "session/device_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "model/control_ids.h"
#include "support/fakes.h"
#include "support/session_fakes.h"

namespace orvale::session {
namespace {

namespace id = model::control;
using link::device::identityAnswer;
using State = SessionState;

// Writes down what a view of the session is told, in order.
class RecordingObserver final : public SessionObserver {
public:
    void fieldsPushed(const link::WindowFields& fields) override { modelName = fields.modelName; }
    void displaysChanged(std::uint8_t position, const Displays& displays) override {
        positions.push_back(position);
        last = displays;
    }
    void controlEnabled(int controlId, bool on) override { enabled[controlId] = on; }
    void sliderMoved(double position) override { slider = position; }
    void stateChanged(SessionState state) override { states.push_back(state); }
    void identityChanged(const Identity& identity) override { identities.push_back(identity); }
    void message(std::string_view text, link::MessageIcon) override {
        messages.emplace_back(text);
        if (duringMessage) duringMessage();
    }

    std::string modelName;
    std::vector<int> positions;
    Displays last;
    std::map<int, bool> enabled;
    double slider = -1;
    std::vector<SessionState> states;
    std::vector<Identity> identities;
    std::vector<std::string> messages;
    std::function<void()> duringMessage;
};

class DeviceSessionTest : public ::testing::Test {
protected:
    DeviceSessionTest() { session.addObserver(&view); }
    ~DeviceSessionTest() override { session.removeObserver(&view); }

    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        session.onComm();
    }
    void portLost() {
        serial.open = false;
        serial.commEvent = link::comm_event::kPortLost;
        session.onComm();
        serial.commEvent = link::comm_event::kReceive;
    }
    // Start-up, the first tick and a device answering.
    void identify(std::uint8_t productId, char revision = 'B') {
        session.initialise();
        timer.fire();
        deliver(link::device::revisionAnswer(revision));
        deliver(identityAnswer({productId, 4242, 2}));
    }

    test::SteppingClock clock;
    test::FakeSerialControl serial{&clock};
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer timer;
    DeviceSession session{serial, clock, portFile, timer};
    RecordingObserver view;
};

TEST_F(DeviceSessionTest, RunsTheConnectionWithoutAnyWindow) {
    session.initialise();
    EXPECT_EQ(session.state(), State::IdleWatchdogRunning);
    EXPECT_EQ(timer.period(), 100u);
    EXPECT_EQ(view.modelName, "Not Found Yet!");
    EXPECT_EQ(view.last.texts[model::indexOf(model::kTextDisplays, id::kDriver1WorkingState)], " ");

    timer.fire();  // the first tick connects without anybody asking
    EXPECT_EQ(serial.written, link::identifyCommand());
    EXPECT_EQ(session.state(), State::Identifying);

    deliver(link::device::revisionAnswer('B'));
    deliver(identityAnswer({13, 4242, 2}));
    EXPECT_EQ(session.state(), State::Connected);
    EXPECT_EQ(timer.period(), 1000u);
    EXPECT_TRUE(view.enabled[id::kSlider]);
    ASSERT_FALSE(view.identities.empty());
    EXPECT_EQ(view.identities.back().modelName, "Quennet Bus Plus");
    EXPECT_EQ(view.identities.back().serialNumber, 4242u);
    EXPECT_TRUE(view.identities.back().identified);

    deliver(link::device::positionStatusBroadcast({80, 2}));
    EXPECT_EQ(view.slider, 80.0);
    EXPECT_EQ(view.positions.back(), 80);
    EXPECT_EQ(session.evaluatedPosition(), 80);
    EXPECT_EQ(view.states,
              (std::vector{State::IdleWatchdogRunning, State::Identifying, State::Connected}));
}

TEST_F(DeviceSessionTest, EveryObserverHearsEveryReportAndOneMayLeaveDuringAReport) {
    RecordingObserver second;
    RecordingObserver leaving;
    session.addObserver(&leaving);
    session.addObserver(&second);
    leaving.duringMessage = [&] { session.removeObserver(&leaving); };
    identify(12, 'A');  // a known model on old firmware: the firmware message
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(leaving.messages.size(), 1u);
    EXPECT_EQ(second.messages, view.messages) << "the one after the leaver still hears it";
    EXPECT_EQ(second.identities, view.identities);
    session.disconnect();
    EXPECT_EQ(second.states.back(), State::IdleWatchdogStopped);
    EXPECT_NE(leaving.states.back(), State::IdleWatchdogStopped) << "it left";
    session.removeObserver(&second);
}

// The refusal of a port that stays missing: reported once while the watchdog retries it, but
// every time the operator asks, and again once a port has opened in between.
TEST_F(DeviceSessionTest, RegressionAClickOnConnectAlwaysGetsItsAnswer) {
    session.initialise();
    serial.failOn = "PortOpen=1";
    const struct {
        const char* step;
        bool operatorAsked;
        std::size_t messages;
    } steps[] = {
        {"tick", false, 1}, {"tick", false, 1}, {"click", true, 2},
        {"click", true, 3}, {"tick", false, 3},
    };
    for (const auto& s : steps) {
        if (s.operatorAsked) {
            EXPECT_FALSE(session.connect()) << s.step;
        } else {
            timer.fire();
        }
        EXPECT_EQ(view.messages.size(), s.messages) << s.step << " " << s.messages;
        EXPECT_EQ(session.lastError(), "refused: PortOpen=1");
    }
    serial.failOn.clear();
    EXPECT_TRUE(session.connect());
    serial.failOn = "PortOpen=1";
    timer.fire();
    EXPECT_EQ(view.messages.size(), 4u) << "news again after a port opened";
}

// The device is identified afresh after a settings change and after a click on Connect. A frame
// it had begun when the port was closed is gone with the close: its start must not take the
// revision answer into itself, or the identity answer is passed over and the device, which
// goes on broadcasting, is never asked again.
TEST_F(DeviceSessionTest, RegressionAFrameCutOffByTheCloseDoesNotSwallowTheRevisionAnswer) {
    const struct {
        const char* reconnect;
        std::function<bool(DeviceSession&)> run;
    } cases[] = {
        {"settings change",
         [](DeviceSession& s) { return s.changeSetting(link::canBaudRateCommand("500K bps")); }},
        {"Connect", [](DeviceSession& s) { return s.disconnect() && s.connect(); }},
    };
    for (const auto& c : cases) {
        identify(15);
        deliver("BRC %S2");  // half a position broadcast
        ASSERT_TRUE(c.run(session)) << c.reconnect;
        deliver(link::device::revisionAnswer('B'));
        deliver(identityAnswer({15, 777, 2}));
        EXPECT_EQ(view.identities.back().modelName, "Quennet Duo Plus") << c.reconnect;
        EXPECT_EQ(view.identities.back().serialNumber, 777u) << c.reconnect;
        EXPECT_TRUE(session.settingsChangeAllowed()) << c.reconnect;
        EXPECT_EQ(session.receiver().pendingFrame(), "") << c.reconnect;
    }
}

// A model shown with its identity only has no watchdog running: when its adapter is pulled,
// the session must notice the serial control's report and look for the device again.
TEST_F(DeviceSessionTest, RegressionAnUnpluggedIdentityOnlyModelIsDroppedAndLookedForAgain) {
    const struct {
        std::uint8_t productId;
        State before;
    } cases[] = {{10, State::IdentityOnly}, {15, State::Connected}};
    for (const auto& c : cases) {
        test::FakeSerialControl s{&clock};
        test::ManualWatchdogTimer t;
        DeviceSession d{s, clock, portFile, t};
        d.initialise();
        t.fire();
        s.queue(link::device::revisionAnswer('B'));
        d.onComm();
        s.queue(identityAnswer({c.productId, 1, 2}));
        d.onComm();
        ASSERT_EQ(d.state(), c.before);

        s.open = false;  // the serial control closed the lost port and says so
        s.commEvent = link::comm_event::kPortLost;
        d.onComm();
        EXPECT_EQ(d.state(), State::IdleWatchdogRunning) << int(c.productId);
        EXPECT_EQ(t.period(), 100u);
        EXPECT_EQ(d.fields().modelName, "Not Found Yet!");

        s.commEvent = link::comm_event::kReceive;
        s.written.clear();
        t.fire();  // the device is back
        EXPECT_EQ(s.written, link::identifyCommand()) << int(c.productId);
    }
}

TEST_F(DeviceSessionTest, APortLostReportForAPortNoLongerOursChangesNothing) {
    identify(15);
    session.disconnect();
    const auto states = view.states.size();
    portLost();
    EXPECT_EQ(session.state(), State::IdleWatchdogStopped);
    EXPECT_EQ(view.states.size(), states);
}

TEST_F(DeviceSessionTest, ARepeatedMessageIsNotReportedWhileItsReportRuns) {
    session.initialise();
    serial.failOn = "PortOpen=1";
    int nested = 0;
    view.duringMessage = [&] {
        for (; nested < 3; ++nested) EXPECT_FALSE(session.connect());
    };
    EXPECT_FALSE(session.connect());
    EXPECT_EQ(nested, 3);
    EXPECT_EQ(view.messages.size(), 1u) << "one box at a time for the same text";
    EXPECT_EQ(session.messagesReported(), 1u);
}

// Every watchdog retry while no device answers tears down again; a teardown evaluates the model
// at position 0 before it blanks the texts. Views hear what the displays end up showing, once
// per change, and nothing while it stays the same.
TEST_F(DeviceSessionTest, RegressionDisplaysAreReportedOncePerChange) {
    session.initialise();
    ASSERT_EQ(view.positions.size(), 1u);
    for (int i = 0; i < 5; ++i) timer.fire();
    EXPECT_EQ(view.positions.size(), 1u) << "retries against a silent port change nothing";

    deliver(link::device::revisionAnswer('B'));
    deliver(identityAnswer({15, 4242, 2}));
    deliver(link::device::positionStatusBroadcast({30, 1}));
    deliver(link::device::positionStatusBroadcast({30, 1}));
    EXPECT_EQ(view.positions, (std::vector<int>{0, 30}));

    timer.fire();  // the identification's sign of life
    timer.fire();  // silent: teardown and a new identification
    EXPECT_EQ(view.positions, (std::vector<int>{0, 30, 0}));
    const auto text = [&](model::ControlId id) {
        return view.last.texts[model::indexOf(model::kTextDisplays, id)];
    };
    EXPECT_EQ(text(id::kVehicleIdentificationNumber), " ");
    EXPECT_EQ(text(id::kFuelType), "");
    EXPECT_FALSE(view.last.leds[model::indexOf(model::kLeds, id::kParkingLed)]);
}

TEST_F(DeviceSessionTest, KeysAndPositionsGoThroughThePacedTransmitterWithTheirBusyFlags) {
    identify(15);
    const struct {
        link::Key key;
        bool dynamicBusy;
        bool quietBusy;
    } keys[] = {{link::Key::Down, false, false},
                {link::Key::Up, false, false},
                {link::Key::Dynamic, true, false},
                {link::Key::Quiet, false, true}};
    for (const auto& k : keys) {
        serial.written.clear();
        EXPECT_TRUE(session.pressKey(k.key));
        EXPECT_EQ(serial.written, link::keyCommand(k.key));
        EXPECT_EQ(session.connection().dynamicBusy, k.dynamicBusy);
        EXPECT_EQ(session.connection().quietBusy, k.quietBusy);
        deliver(link::device::keyAck());
    }
    serial.written.clear();
    session.sendPosition(57.9);
    EXPECT_TRUE(session.connection().sliderBusy);
    EXPECT_EQ(serial.written, link::positionCommand(57));
    deliver(link::device::positionStatusBroadcast({20, 1}));
    EXPECT_EQ(session.evaluatedPosition(), 0) << "held back until the device acknowledges";
    deliver(link::device::positionAck());
    deliver(link::device::positionStatusBroadcast({20, 1}));
    EXPECT_EQ(session.evaluatedPosition(), 20);
}

}  // namespace
}  // namespace orvale::session
