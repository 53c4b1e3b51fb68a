#include "controls/cmscomm.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/pty_pair.h"

namespace orvale::controls {
namespace {

using link::SerialError;

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

}  // namespace
}  // namespace orvale::controls
