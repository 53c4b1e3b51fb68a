#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include <QElapsedTimer>

#include "controls/cmscomm.h"
#include "link/connection.h"
#include "link/protocol.h"
#include "link/receiver.h"
#include "session/device_session.h"
#include "sim/pty_device.h"
#include "support/fakes.h"
#include "support/pty_pair.h"
#include "support/session_fakes.h"

namespace orvale {
namespace {

using namespace std::chrono_literals;

class LinkOverPty : public ::testing::Test {
protected:
    explicit LinkOverPty(sim::DeviceConfig config = {}) : device(config) {
        controls::PortMap ports;
        ports.map(5, QString::fromStdString(device.slavePath()));
        comm.setPorts(ports);
        QObject::connect(&comm, &controls::CMSComm::OnComm, [this] { receiver.onComm(); });
        window.fields.portText = "COM5";
    }

    void connect() {
        window.state.identityAwaited = true;
        window.state.revisionReceived = false;
        window.state.revisionLetter = 'A';
        window.state.versionText = {' ', '0', '.', '0', 'A'};
        link::openPort(comm, window.state, window.fields, window);
        ASSERT_TRUE(window.state.portOpen);
        device.clearReceived();
        link::sendPaced(comm, clock, link::identifyCommand());
    }

    sim::PtyDevice device;
    controls::CMSComm comm;
    link::SteadyMillisecondClock clock;
    test::RecordingWindow window;
    link::Receiver receiver{comm, window, window.state, window.fields};
};

TEST_F(LinkOverPty, IdentifyLeavesAsEightPacedBytesAndTheAnswersAreApplied) {
    connect();
    ASSERT_TRUE(test::processEventsUntil([&] { return window.state.deviceIdentified; }));

    const auto chunks = device.received();
    std::string bytes;
    for (const auto& c : chunks) bytes += c.bytes;
    EXPECT_EQ(bytes, "AT ID?\r\n");
    // The sender waits more than 2 ms after every byte. What the device sees adds its own
    // scheduling: on a busy machine a late read can take two bytes at once, so the check is
    // that the command came as separate bytes, typically 2 to 3 ms apart.
    ASSERT_GE(chunks.size(), 5u) << "the identify command arrived as a burst";
    std::vector<double> gapsMs;
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        gapsMs.push_back(
            std::chrono::duration<double, std::milli>(chunks[i].time - chunks[i - 1].time).count());
    }
    std::sort(gapsMs.begin(), gapsMs.end());
    EXPECT_GE(gapsMs[gapsMs.size() / 2], 2.0);

    EXPECT_EQ(window.fields.modelName, "Quennet Duo Plus");
    EXPECT_EQ(window.fields.serialNumber, 12345u);
    EXPECT_EQ(window.fields.firmwareVersion, " 0.3B");
    EXPECT_EQ(window.fields.canBaudRate, "250K bps");
    EXPECT_EQ(window.fields.vinStyle, "Variable");
    EXPECT_EQ(window.watchdogMs, link::kConnectedPeriodMs);
    EXPECT_TRUE(window.has("store COM5"));
}

TEST_F(LinkOverPty, BroadcastsAndKeysTravelBothWays) {
    connect();
    ASSERT_TRUE(test::processEventsUntil([&] { return window.state.deviceIdentified; }));
    ASSERT_TRUE(test::processEventsUntil([&] { return !window.evaluated.empty(); }));

    device.clearReceived();
    window.state.sliderBusy = true;
    link::sendPaced(comm, clock, link::positionCommand(42));
    ASSERT_TRUE(test::processEventsUntil([&] { return !window.state.sliderBusy; }))
        << "the device acknowledges the position";
    link::sendPaced(comm, clock, link::keyCommand(link::Key::Up));
    ASSERT_TRUE(test::processEventsUntil([&] { return window.evaluated.back() == 43; }));
    EXPECT_EQ(device.receivedBytes(), link::positionCommand(42) + link::keyCommand(link::Key::Up));
}

class NoisyLinkOverPty : public LinkOverPty {};

TEST_F(NoisyLinkOverPty, GarbageSplitAndCorruptInputIsSurvived) {
    sim::Faults faults;
    faults.splitPieceMax = 3;
    faults.garbage = std::string(sim::kDefaultGarbage);
    faults.lowerCase = true;
    device.setFaults(faults);
    device.setBroadcastRate(200);
    connect();
    ASSERT_TRUE(test::processEventsUntil([&] { return window.state.deviceIdentified; }));
    ASSERT_TRUE(test::processEventsUntil([&] { return window.evaluated.size() > 20; }));

    faults.corruptOneIn = 50;
    device.setFaults(faults);
    const std::size_t before = window.evaluated.size();
    test::processEventsUntil([&] { return window.evaluated.size() > before + 50; });
    // Corrupt broadcasts fail their checksum; the rest still carry the device's position.
    const auto position = device.state().position;
    EXPECT_TRUE(std::all_of(window.evaluated.begin() + static_cast<std::ptrdiff_t>(before),
                            window.evaluated.end(), [&](int p) { return p == position; }));
}

TEST_F(LinkOverPty, AVanishedDeviceNeitherSpinsNorCrashesAndComesBack) {
    connect();
    ASSERT_TRUE(test::processEventsUntil([&] { return window.state.deviceIdentified; }));
    device.closeLine();
    ASSERT_TRUE(test::processEventsUntil([&] { return !comm.GetPortOpen(); }));
    EXPECT_THROW(link::sendPaced(comm, clock, link::identifyCommand()), link::SerialError);

    device.reopenLine();
    controls::PortMap ports;
    ports.map(5, QString::fromStdString(device.slavePath()));
    comm.setPorts(ports);
    window.state.deviceIdentified = false;
    connect();
    EXPECT_TRUE(test::processEventsUntil([&] { return window.state.deviceIdentified; }));
}

// The firmware warning is shown while the identity frame is being applied; the box's event loop
// runs meanwhile. Answers the device sends while it is open are taken once it has closed,
// without waiting for the device to send anything more.
TEST(SessionOverPty, AnswersSentWhileTheFirmwareMessageIsOpenAreTaken) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    controls::PortMap ports;
    ports.map(1, QString::fromStdString(pty.path()));
    controls::CMSComm comm(ports);
    link::SteadyMillisecondClock clock;
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer watchdog;
    session::DeviceSession deviceSession(comm, clock, portFile, watchdog);
    QObject::connect(&comm, &controls::CMSComm::OnComm, [&] { deviceSession.onComm(); });

    struct MessageBox final : session::SessionObserver {
        void message(std::string_view, link::MessageIcon) override {
            ++shown;
            if (whileOpen) whileOpen();
        }
        std::function<void()> whileOpen;
        int shown = 0;
    } box;
    box.whileOpen = [&] {
        pty.write("ACK CBRS=03\r\nACK VIN=1\r\n");
        // The box stays open a while; its event loop reads the line.
        QElapsedTimer open;
        open.start();
        while (open.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    deviceSession.addObserver(&box);
    deviceSession.initialise();
    ASSERT_TRUE(deviceSession.connect());
    std::string command;
    ASSERT_TRUE(
        test::processEventsUntil([&] { return (command += pty.read()).ends_with("\r\n"); }));
    EXPECT_EQ(command, link::identifyCommand());
    pty.write("ACK REVA\r\n" + link::device::identityAnswer({15, 7, 2}));
    ASSERT_TRUE(test::processEventsUntil([&] { return box.shown == 1; }));
    EXPECT_TRUE(test::processEventsUntil([&] {
        return deviceSession.fields().canBaudRate == "500K bps" &&
               deviceSession.fields().vinStyle == "Fixed";
    })) << deviceSession.fields().canBaudRate
        << " / " << deviceSession.fields().vinStyle;
    EXPECT_EQ(deviceSession.state(), session::SessionState::IdentityOnly);
    deviceSession.removeObserver(&box);
}

}  // namespace
}  // namespace orvale
