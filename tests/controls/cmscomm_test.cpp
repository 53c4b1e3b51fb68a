#include "controls/cmscomm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QEvent>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "link/connection.h"
#include "support/fakes.h"
#include "support/pty_pair.h"

namespace orvale::controls {
namespace {

using link::SerialError;

/// Runs `action` once, just before the first queued call to `target` is delivered: for a lost
/// device, the moment between the error and the close that CMSComm queues for it.
class BeforeQueuedCall final : public QObject {
public:
    BeforeQueuedCall(QObject* target, std::function<void()> action) : m_action(std::move(action)) {
        target->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall && m_action) {
            std::exchange(m_action, nullptr)();
            ran = true;
        }
        return false;
    }
    bool ran = false;

private:
    std::function<void()> m_action;
};

/// The slave end of a pseudo-terminal held open by the test, to see what the system buffers for
/// the port without taking it.
class HeldSlave {
public:
    explicit HeldSlave(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~HeldSlave() {
        if (m_fd >= 0) ::close(m_fd);
    }
    HeldSlave(const HeldSlave&) = delete;
    HeldSlave& operator=(const HeldSlave&) = delete;

    [[nodiscard]] bool ok() const { return m_fd >= 0; }
    /// Waits, without running the event loop (Qt would take the bytes), until the system holds
    /// at least `count` bytes for the port.
    [[nodiscard]] bool waitForBuffered(int count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int held = 0;
        while (::ioctl(m_fd, FIONREAD, &held) == 0 && held < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return held >= count;
    }

private:
    int m_fd;
};

class CMSCommTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        PortMap ports;
        ports.map(3, QString::fromStdString(pty.path()));
        ports.map(7, QStringLiteral("/nonexistent/quennet-port"));
        comm = std::make_unique<CMSComm>(ports);
        QObject::connect(comm.get(), &CMSComm::OnComm,
                         [this] { events.push_back(comm->GetCommEvent()); });
    }

    void openPort3() {
        comm->SetCommPort(3);
        comm->SetPortOpen(true);
        comm->SetSettings("115200,n,8,1");
        comm->SetInputMode(link::kInputModeBinary);
        comm->SetRThreshold(1);
        comm->SetInputLen(0);
    }

    /// Takes every receive event's Input into `received` until it holds `count` bytes.
    bool receive(std::string& received, std::size_t count) {
        return test::processEventsUntil([&] {
            if (!events.empty() && events.back() == link::comm_event::kReceive) {
                const auto input = comm->GetInput();
                received.append(reinterpret_cast<const char*>(input.data()), input.size());
                events.clear();
            }
            return received.size() >= count;
        });
    }

    test::PtyPair pty;
    std::unique_ptr<CMSComm> comm;
    std::vector<short> events;
};

TEST_F(CMSCommTest, WritesAndReceivesThroughTheDevice) {
    openPort3();
    EXPECT_TRUE(comm->GetPortOpen());
    const std::uint8_t byte = 'A';
    comm->SetOutput({&byte, 1});
    std::string seen;
    EXPECT_TRUE(test::processEventsUntil([&] { return !(seen += pty.read()).empty(); }));
    EXPECT_EQ(seen, "A");

    pty.write("ACK %\r\n");
    std::string received;
    EXPECT_TRUE(test::processEventsUntil([&] {
        if (!events.empty() && events.back() == link::comm_event::kReceive) {
            const auto input = comm->GetInput();
            received.append(reinterpret_cast<const char*>(input.data()), input.size());
            events.clear();
        }
        return received.size() >= 7;
    }));
    EXPECT_EQ(received, "ACK %\r\n");
}

TEST_F(CMSCommTest, RThresholdZeroRaisesNoReceiveEvents) {
    openPort3();
    comm->SetRThreshold(0);
    pty.write("ACK %\r\n");
    test::processEventsUntil([] { return false; }, 200);
    EXPECT_TRUE(events.empty());
    const auto input = comm->GetInput();
    EXPECT_EQ(input.size(), 7u) << "the bytes wait in the buffer";
}

TEST_F(CMSCommTest, RefusedAccessesRaiseASerialErrorWithAClearText) {
    const struct {
        const char* name;
        std::function<void(CMSComm&)> access;
        const char* textContains;
    } cases[] = {
        {"missing device",
         [](CMSComm& c) {
             c.SetCommPort(7);
             c.SetPortOpen(true);
         },
         "/nonexistent/quennet-port"},
        {"port name in the text",
         [](CMSComm& c) {
             c.SetCommPort(7);
             c.SetPortOpen(true);
         },
         "COM7"},
        {"write on a closed port",
         [](CMSComm& c) {
             const std::uint8_t b = 0;
             c.SetOutput({&b, 1});
         },
         "not open"},
        {"read on a closed port", [](CMSComm& c) { c.GetInput(); }, "not open"},
        {"malformed settings", [](CMSComm& c) { c.SetSettings("fast,n,8,1"); }, "fast,n,8,1"},
        {"bad stop bits", [](CMSComm& c) { c.SetSettings("115200,n,8,3"); }, "115200,n,8,3"},
        {"port number 0", [](CMSComm& c) { c.SetCommPort(0); }, "port number"},
    };
    for (const auto& c : cases) {
        CMSComm fresh(comm->ports());
        try {
            c.access(fresh);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const SerialError& e) {
            EXPECT_NE(std::string(e.what()).find(c.textContains), std::string::npos)
                << c.name << ": " << e.what();
        }
        EXPECT_FALSE(fresh.GetPortOpen()) << c.name;
    }
}

TEST_F(CMSCommTest, RenumberingAnOpenPortIsRefused) {
    openPort3();
    EXPECT_THROW(comm->SetCommPort(4), SerialError);
    EXPECT_THROW(comm->SetPortOpen(true), SerialError);
    comm->SetPortOpen(false);
    EXPECT_FALSE(comm->GetPortOpen());
    EXPECT_NO_THROW(comm->SetCommPort(4));
}

TEST_F(CMSCommTest, AVanishedDeviceClosesThePortOnceAndReportsIt) {
    openPort3();
    pty.closeMaster();
    EXPECT_TRUE(test::processEventsUntil([&] { return !comm->GetPortOpen(); }));
    // Let the event loop run on: a port left open would report its error on every pass.
    test::processEventsUntil([] { return false; }, 300);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], link::comm_event::kPortLost);
    const std::uint8_t b = 0;
    EXPECT_THROW(comm->SetOutput({&b, 1}), SerialError);
}

TEST_F(CMSCommTest, ReopensAfterClose) {
    openPort3();
    comm->SetPortOpen(false);
    comm->SetPortOpen(true);
    EXPECT_TRUE(comm->GetPortOpen());
}

TEST_F(CMSCommTest, RegressionBytesTheSystemHeldBeforeTheOpenAreDiscarded) {
    HeldSlave slave(pty.path());
    ASSERT_TRUE(slave.ok());
    // The device talked while the port was closed: the system keeps the bytes for the next open.
    pty.write("STALE");
    ASSERT_TRUE(slave.waitForBuffered(5));

    test::RecordingWindow window;
    window.fields.portText = "COM3";
    link::openPort(*comm, window.state, window.fields, window);
    ASSERT_TRUE(window.state.portOpen);

    // A read after the open's own discard leaves what the system holds alone.
    pty.write("LIVE");
    ASSERT_TRUE(slave.waitForBuffered(4));
    EXPECT_EQ(comm->GetInput().size(), 0u);

    std::string received;
    EXPECT_TRUE(receive(received, 4)) << received;
    EXPECT_EQ(received, "LIVE");
}

TEST_F(CMSCommTest, RegressionTheCloseQueuedForALostDeviceClosedThePortOpenedSince) {
    test::PtyPair other;
    ASSERT_TRUE(other.ok());
    PortMap ports = comm->ports();
    ports.map(4, QString::fromStdString(other.path()));
    comm->setPorts(ports);
    openPort3();
    // The watchdog's reconnect to another port gets in before the close queued for the loss.
    BeforeQueuedCall reconnect(comm.get(), [&] {
        comm->SetPortOpen(false);
        comm->SetCommPort(4);
        comm->SetPortOpen(true);
    });
    pty.closeMaster();
    ASSERT_TRUE(test::processEventsUntil([&] { return reconnect.ran; }));

    EXPECT_TRUE(comm->GetPortOpen());
    EXPECT_TRUE(events.empty()) << "a loss reported for the port opened since";
    // The new port's own loss is still reported, once.
    other.closeMaster();
    EXPECT_TRUE(test::processEventsUntil([&] { return !comm->GetPortOpen(); }));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], link::comm_event::kPortLost);
}

TEST_F(CMSCommTest, RegressionRefusedLineSettingsLeftThePortHeld) {
    const QString reason = QStringLiteral("Invalid argument");
    const struct {
        const char* name;
        qint32 refusedBaud;
        std::function<void(CMSComm&)> access;
    } cases[] = {
        {"open with stored settings the line refuses", 300,
         [](CMSComm& c) {
             c.SetSettings("300,n,8,1");
             c.SetCommPort(3);
             c.SetPortOpen(true);
         }},
        {"settings changed on an open port", 300,
         [](CMSComm& c) {
             c.SetCommPort(3);
             c.SetPortOpen(true);
             c.SetSettings("300,n,8,1");
         }},
        {"the link's open sequence", 115200,
         [](CMSComm& c) {
             test::RecordingWindow window;
             window.fields.portText = "COM3";
             link::openPort(c, window.state, window.fields, window);
         }},
    };
    for (const auto& c : cases) {
        CMSComm refusing(comm->ports(), [&](QSerialPort&, const CMSComm::LineSettings& line) {
            return line.baud == c.refusedBaud ? std::optional(reason) : std::nullopt;
        });
        try {
            c.access(refusing);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const SerialError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot apply the line settings to COM3 (" +
                                                 pty.path() + "): Invalid argument")
                << c.name;
        }
        EXPECT_FALSE(refusing.GetPortOpen()) << c.name;
        // Nothing holds the device: another control opens it.
        CMSComm next(comm->ports());
        next.SetCommPort(3);
        EXPECT_NO_THROW(next.SetPortOpen(true)) << c.name;
    }
}

TEST_F(CMSCommTest, RegressionAWriteAfterTheDeviceWentSaidThePortWasNotOpen) {
    const std::string label = "Cannot write to COM3 (" + pty.path() + "): ";
    const std::string notOpen = label + "the port is not open.";
    const std::string gone = label + "the device behind the port has gone.";
    const auto writeRefusal = [this] {
        try {
            const std::uint8_t b = 0;
            comm->SetOutput({&b, 1});
            return std::string("no error");
        } catch (const SerialError& e) {
            return std::string(e.what());
        }
    };

    comm->SetCommPort(3);
    EXPECT_EQ(writeRefusal(), notOpen) << "never opened";
    openPort3();
    comm->SetPortOpen(false);
    EXPECT_EQ(writeRefusal(), notOpen) << "closed by the caller";

    openPort3();
    std::string pending;
    BeforeQueuedCall whileClosePending(comm.get(), [&] { pending = writeRefusal(); });
    pty.closeMaster();
    ASSERT_TRUE(test::processEventsUntil([&] { return whileClosePending.ran; }));
    EXPECT_EQ(pending, gone) << "device gone, close pending";
    EXPECT_EQ(writeRefusal(), notOpen) << "device gone, port closed";
}

}  // namespace
}  // namespace orvale::controls
