#include "link/receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "link/protocol.h"
#include "support/fakes.h"

namespace orvale::link {
namespace {

class ReceiverTest : public ::testing::Test {
protected:
    ReceiverTest() {
        window.state.portOpen = true;
        connect();
    }

    // What the window's connect operation does to the state the receiver reads.
    void connect() {
        window.state.versionText = {' ', '0', '.', '0', 'A'};
        window.state.revisionLetter = 'A';
        window.state.identityAwaited = true;
        window.state.revisionReceived = false;
        window.fields.modelName = kNotFoundYet;
        window.fields.firmwareVersion = kNotFoundYet;
    }

    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        receiver.onComm();
    }

    void identify(std::uint8_t productId, std::uint8_t versionByte, char revision) {
        deliver(device::revisionAnswer(revision));
        deliver(device::identityAnswer({productId, 4242, versionByte}));
    }

    test::FakeSerialControl serial;
    test::RecordingWindow window;
    Receiver receiver{serial, window, window.state, window.fields};
};

TEST_F(ReceiverTest, IdentityOutcomes) {
    const struct {
        std::uint8_t productId;
        std::uint8_t versionByte;
        char revision;
        bool remoteControl;
        unsigned watchdog;
        bool message;
        bool identified;
        bool disconnected;
    } cases[] = {
        {9, 2, 'B', true, 1000, false, true, false},  {11, 2, 'C', true, 1000, false, true, false},
        {13, 2, 'B', true, 1000, false, true, false}, {15, 2, 'C', true, 1000, false, true, false},
        {8, 2, 'B', false, 0, false, true, false},    {10, 2, 'B', false, 0, false, true, false},
        {12, 2, 'C', false, 0, false, true, false},   {14, 2, 'B', false, 0, false, true, false},
        {15, 2, 'A', false, 0, true, true, false},    {9, 1, 'B', false, 0, true, true, false},
        {10, 9, 'C', false, 0, true, true, false},    {16, 2, 'B', false, 0, false, false, true},
        {20, 2, 'B', false, 0, false, false, true},   {7, 5, 'A', false, 0, false, false, true},
    };
    for (const auto& c : cases) {
        window = test::RecordingWindow{};
        window.state.portOpen = true;
        connect();
        identify(c.productId, c.versionByte, c.revision);
        const std::string id = "product " + std::to_string(c.productId) + " v" +
                               std::to_string(c.versionByte + 1) + c.revision;
        EXPECT_EQ(window.enabled[control::kSlider], c.remoteControl) << id;
        EXPECT_EQ(window.enabled[control::kQuiet], c.remoteControl) << id;
        EXPECT_EQ(window.watchdogMs, c.watchdog) << id;
        EXPECT_EQ(!window.messages.empty(), c.message) << id;
        EXPECT_EQ(window.state.deviceIdentified, c.identified) << id;
        EXPECT_EQ(window.has("disconnect"), c.disconnected) << id;
        EXPECT_FALSE(window.state.identityAwaited) << id;
        EXPECT_EQ(window.portFileStores, 1u) << id;
    }
}

TEST_F(ReceiverTest, IdentityFillsTheFields) {
    window.fields.portText = "COM7";
    identify(11, 2, 'B');
    EXPECT_EQ(window.fields.modelName, "Quennet Truck Plus");
    EXPECT_EQ(window.fields.serialNumber, 4242u);
    EXPECT_EQ(window.fields.firmwareVersion, " 0.3B");
    EXPECT_EQ(window.state.productId, 11);
    EXPECT_EQ(window.state.firmwareVersion, 3);
    EXPECT_TRUE(window.enabled[control::kDisconnect]);
    EXPECT_FALSE(window.enabled[control::kConnect]);
    EXPECT_TRUE(window.has("store COM7"));
}

TEST_F(ReceiverTest, FirmwareMessageText) {
    identify(15, 2, 'A');
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0],
              "This release requires a Special build Quennet (firmware) version 0.3B/0.3C; please "
              "update your Quennet accordingly.");
    // Pushed after the box closes, too.
    EXPECT_EQ(window.calls.back(), "push");
}

TEST_F(ReceiverTest, VersionText) {
    identify(15, 99, 'C');
    EXPECT_EQ(window.fields.firmwareVersion, "10.0C");
}

TEST_F(ReceiverTest, BadChecksumStillStoresThePortAndEndsTheIdentification) {
    deliver("ACK REVB\r\n");
    deliver("ACK IDB0930300002013\r\n");
    EXPECT_EQ(window.portFileStores, 1u);
    EXPECT_FALSE(window.state.identityAwaited);
    EXPECT_EQ(window.fields.modelName, kNotFoundYet);
    EXPECT_FALSE(window.state.deviceIdentified);
    // A good identity afterwards is not taken: the identification of this attempt is over.
    deliver("ACK IDB0930300002012\r\n");
    EXPECT_EQ(window.fields.modelName, kNotFoundYet);
}

TEST_F(ReceiverTest, IdentityWithoutRevisionIsTakenTheFourthTimeWithLetterA) {
    const std::string identity = device::identityAnswer({15, 1, 2});
    for (int i = 1; i <= 3; ++i) {
        deliver(identity);
        EXPECT_EQ(receiver.identityRetries(), static_cast<unsigned>(i));
        EXPECT_TRUE(window.state.identityAwaited);
    }
    deliver(identity);
    EXPECT_EQ(receiver.identityRetries(), 0u);
    EXPECT_EQ(window.fields.firmwareVersion, " 0.3A");
    EXPECT_EQ(window.messages.size(), 1u) << "a known model on 0.3A gets the firmware message";
}

TEST_F(ReceiverTest, RetryCounterCarriesOverAReconnect) {
    const std::string identity = device::identityAnswer({15, 1, 2});
    deliver(identity);
    deliver(identity);
    connect();
    deliver(identity);
    deliver(identity);  // the fourth in all: taken
    EXPECT_FALSE(window.state.identityAwaited);
}

TEST_F(ReceiverTest, IdentificationFramesAreTakenOnlyWhileAwaited) {
    identify(15, 2, 'B');
    window.fields.firmwareBuild = "before";
    deliver("ACK REVC\r\n");
    deliver(device::buildAnswer("NEW BUILD"));
    EXPECT_EQ(window.state.revisionLetter, 'B');
    EXPECT_EQ(window.fields.firmwareBuild, "before");
    // Settings answers are taken at any time.
    deliver("ACK CBRS=03\r\n");
    deliver("ACK VIN=1\r\n");
    EXPECT_EQ(window.fields.canBaudRate, "500K bps");
    EXPECT_EQ(window.fields.vinStyle, "Fixed");
}

TEST_F(ReceiverTest, AnswerFrames) {
    const struct {
        std::string frame;
        std::string canBaudRate;
        std::string vinStyle;
        std::string build;
    } cases[] = {
        {"ACK CBRS=00\r\n", "250K bps", "-", "-"},
        {"ACK CBRS=04\r\n", "1M bps", "-", "-"},
        {"ACK CBRS=05\r\n", "invalid", "-", "-"},
        {"ACK CBRS=13\r\n", "invalid", "-", "-"},
        {"ACK VIN=0\r\n", "-", "Variable", "-"},
        {"ACK VIN=2\r\n", "-", "-", "-"},
        {"ACK VIN=0X\r\n", "-", "-", "-"},
        {"ACK BNjan 07 2019 firmware\r\n", "-", "-", "JAN 07 2019 FIRMWARE  "},
    };
    for (const auto& c : cases) {
        window.fields.canBaudRate = window.fields.vinStyle = window.fields.firmwareBuild = "-";
        window.state.messageReceived = false;
        std::string frame = c.frame;
        if (frame.starts_with("ACK BN")) {
            frame = device::buildAnswer(frame.substr(6, frame.size() - 8));
        }
        deliver(frame);
        EXPECT_TRUE(window.state.messageReceived) << c.frame;
        EXPECT_EQ(window.fields.canBaudRate, c.canBaudRate) << c.frame;
        EXPECT_EQ(window.fields.vinStyle, c.vinStyle) << c.frame;
        EXPECT_EQ(window.fields.firmwareBuild, c.build) << c.frame;
    }
}

TEST_F(ReceiverTest, LowerCaseFramesAreUpperCasedBeforeAnything) {
    deliver("ack revb\r\n");
    EXPECT_EQ(window.state.revisionLetter, 'B');
    // The checksum covers the upper-cased characters: the lower-case form of a good frame is
    // good only when no letter moved the sum.
    identify(15, 2, 'B');
    window.state.sliderBusy = false;
    deliver("brc %s2320ac\r\n");
    EXPECT_EQ(window.evaluated, std::vector<int>{50});
}

TEST_F(ReceiverTest, ForeignAndUnknownFrames) {
    deliver("HELLO\r\n");
    EXPECT_FALSE(window.state.messageReceived) << "other headers are no sign of life";
    deliver("ACK \r\n");
    EXPECT_TRUE(window.state.messageReceived);
    window.state.sliderBusy = true;
    deliver("ACK %X\r\n");
    EXPECT_TRUE(window.state.sliderBusy) << "length 8 is not a position acknowledgement";
    deliver("ACK %\r\n");
    EXPECT_FALSE(window.state.sliderBusy);
}

TEST_F(ReceiverTest, BroadcastsNeedAConnectedPlusModel) {
    deliver("BRC %S2320AC\r\n");
    EXPECT_TRUE(window.state.messageReceived);
    EXPECT_TRUE(window.evaluated.empty());

    identify(14, 2, 'B');  // Duo, not remote-controllable
    deliver("BRC %S2320AC\r\n");
    EXPECT_TRUE(window.evaluated.empty());
}

TEST_F(ReceiverTest, PositionAndStatusBroadcasts) {
    identify(15, 2, 'B');
    const struct {
        std::uint8_t position, status;
        int dynamic, quiet;
    } cases[] = {{50, 2, 1, 1}, {0, 0, 0, 1}, {100, 1, 0, 0}, {150, 3, 1, 0}, {7, 0xFC, 0, 1}};
    for (const auto& c : cases) {
        deliver(device::positionStatusBroadcast({c.position, c.status}));
        EXPECT_EQ(window.slider, c.position);
        EXPECT_EQ(window.evaluated.back(), c.position) << "passed on without a range check";
        EXPECT_EQ(window.fields.dynamicChecked, c.dynamic) << int(c.status);
        EXPECT_EQ(window.fields.quietChecked, c.quiet) << int(c.status);
    }
}

TEST_F(ReceiverTest, BusyFlagsHoldBackTheirFields) {
    identify(15, 2, 'B');
    window.state.sliderBusy = true;
    window.state.dynamicBusy = true;
    window.fields.dynamicChecked = 0;
    deliver(device::positionStatusBroadcast({40, 2}));  // Dynamic on, Quiet on
    EXPECT_TRUE(window.evaluated.empty());
    EXPECT_EQ(window.fields.dynamicChecked, 0);
    EXPECT_EQ(window.fields.quietChecked, 1) << "the status still applies to Quiet";

    deliver("ACK KI\r\n");
    EXPECT_FALSE(window.state.dynamicBusy);
    EXPECT_FALSE(window.state.quietBusy);
    EXPECT_TRUE(window.state.sliderBusy);
    deliver(device::positionStatusBroadcast({41, 2}));
    EXPECT_EQ(window.fields.dynamicChecked, 1);
    EXPECT_TRUE(window.evaluated.empty());
}

TEST_F(ReceiverTest, CorruptBroadcastsChangeNothingButLiveness) {
    identify(15, 2, 'B');
    window.fields.clockText.clear();
    window.state.messageReceived = false;
    deliver("BRC %S2320AD\r\n");
    deliver("BRC CLKC0220E3F\r\n");
    EXPECT_TRUE(window.state.messageReceived);
    EXPECT_TRUE(window.evaluated.empty());
    EXPECT_TRUE(window.fields.clockText.empty());
    deliver("BRC CLKC0220E3E\r\n");
    EXPECT_EQ(window.fields.clockText, "12:34:56");
}

TEST_F(ReceiverTest, BytesAreDroppedWhileThePortIsClosedAndThePartialFrameKept) {
    deliver("ACK RE");
    window.state.portOpen = false;
    deliver("VB\r\n");
    EXPECT_FALSE(window.state.revisionReceived);
    EXPECT_EQ(receiver.pendingFrame(), "ACK RE");
}

TEST_F(ReceiverTest, OtherCommEventsReadNothing) {
    serial.queue("ACK REVB\r\n");
    serial.commEvent = comm_event::kFrame;
    receiver.onComm();
    EXPECT_EQ(serial.input.size(), 10u);
    EXPECT_FALSE(window.state.messageReceived);
}

TEST_F(ReceiverTest, TakesEveryByteOfAHugeDelivery) {
    identify(15, 2, 'B');
    std::string flood;
    for (int i = 0; i < 2000; ++i) {
        flood += device::positionStatusBroadcast({static_cast<std::uint8_t>(i % 101), 0});
    }
    ASSERT_GT(flood.size(), 2048u * 10);
    deliver(flood);
    EXPECT_EQ(window.evaluated.size(), 2000u);
    EXPECT_EQ(window.evaluated.back(), 1999 % 101);
}

// While the firmware message box is open, its nested event loop delivers more bytes. They must
// neither merge with the identity frame nor jump ahead of bytes delivered before them.
TEST_F(ReceiverTest, RegressionFramesArrivingDuringTheFirmwareMessageAreNotLost) {
    window.state.dynamicBusy = true;
    bool keyAckBeforeCbrs = false;
    window.onPush = [&] {
        if (window.fields.canBaudRate == "500K bps" && !keyAckBeforeCbrs) {
            keyAckBeforeCbrs = !window.state.dynamicBusy;
        }
    };
    window.duringMessage = [this] {
        window.duringMessage = nullptr;
        deliver("ACK CBRS=03\r\nACK VI");
        deliver("N=1\r\n");
    };
    deliver("ACK REVA\r\n");
    deliver(device::identityAnswer({15, 1, 2}) + "ACK KI\r\n");
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.fields.canBaudRate, "500K bps");
    EXPECT_EQ(window.fields.vinStyle, "Fixed");
    EXPECT_TRUE(keyAckBeforeCbrs) << "bytes delivered first are applied first";
}

TEST_F(ReceiverTest, ASerialErrorInAFrameEffectStopsTheDeliveryAndTheNextOneStillWorks) {
    struct ThrowingWindow : test::RecordingWindow {
        void disconnectDevice() override { throw SerialError("port gone"); }
    } throwing;
    throwing.state.portOpen = true;
    throwing.state.identityAwaited = true;
    throwing.state.revisionReceived = true;
    Receiver r{serial, throwing, throwing.state, throwing.fields};
    serial.queue(device::identityAnswer({20, 1, 2}) + "ACK REVC\r\n");
    EXPECT_THROW(r.onComm(), SerialError);
    serial.queue("ACK CBRS=04\r\n");
    r.onComm();
    EXPECT_EQ(throwing.fields.canBaudRate, "1M bps");
}

}  // namespace
}  // namespace orvale::link
