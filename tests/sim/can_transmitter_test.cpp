// The CAN transmitter on a real Qt SerialBus interface: Qt's virtual CAN bus, which needs no
// kernel support. Every test here holds the virtualcan resource lock: the bus is one TCP port.

#include "sim/can_transmitter.h"

#include <gtest/gtest.h>

#include <QCanBus>
#include <QCanBusDevice>
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus/qt_can_bus.h"
#include "fms/decoder.h"
#include "fms/fields.h"
#include "model/parameter_model.h"
#include "sim/pty_device.h"

namespace orvale::sim {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `condition` holds; false after a generous deadline.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Reports {
public:
    CanTransmitter::Reporter reporter() {
        return [this](const std::string& text, bool problem) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back((problem ? "problem: " : "news: ") + text);
        };
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

TEST(CanTransmitter, AMissingPluginIsReportedOnceWhileTheDeviceGoesOn) {
    PtyDevice device;
    Reports reports;
    {
        CanTransmitter transmitter(device, {"nosuchplugin", "can0", {}}, reports.reporter());
        // Frames keep their rhythm with nowhere to go: more than a second's worth means the
        // interface has been tried again at least once.
        ASSERT_TRUE(eventually([&] { return transmitter.counters().refused > 500; }));
        const std::uint64_t evaluations = transmitter.counters().evaluations;
        device.setPosition(77);
        ASSERT_TRUE(eventually([&] { return transmitter.counters().evaluations > evaluations; }));
        EXPECT_EQ(transmitter.counters().frames, 0U);
    }
    const std::vector<std::string> lines = reports.lines();
    ASSERT_EQ(lines.size(), 1U) << testing::PrintToString(lines);
    EXPECT_EQ(lines[0].rfind("problem: cannot use nosuchplugin:can0", 0), 0U) << lines[0];
}

TEST(CanTransmitter, PutsTheDevicesFramesOnTheVirtualBusAndFollowsIt) {
    bus::quietCanBusDebugging();
    DeviceConfig config;
    config.position = 40;
    PtyDevice device(config);
    Reports reports;
    // Sending from this thread: Qt's virtual bus serves one process from one thread, and the
    // reader below is in this process too (quennet-sim sends from a thread of its own, which
    // the end-to-end cases cover).
    CanTransmitter transmitter(device, {"virtualcan", "can0", {}}, reports.reporter(),
                               CanTransmitter::Threading::kCallersThread);

    // The reader joins the bus the transmitter opened (or opens it, and the transmitter joins).
    std::unique_ptr<QCanBusDevice> reader(
        QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), QStringLiteral("can0")));
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->connectDevice());
    fms::Decoder decoder;
    const auto read = [&] {
        while (reader->framesAvailable() > 0) {
            if (const auto frame = bus::codecFrameOf(reader->readFrame())) {
                decoder.onFrame(*frame, bus::steadyMs());
            }
        }
    };
    const std::size_t engineSpeed = fms::fieldIndex(model::control::kEngineSpeed);
    const auto speedOf = [](std::uint8_t position) {
        return model::computeRawParameters(position, 15).engineSpeed;
    };
    const auto shows = [&](std::uint8_t position) {
        return [&, position] {
            read();
            return decoder.value(engineSpeed).received &&
                   decoder.value(engineSpeed).raw == speedOf(position);
        };
    };
    ASSERT_TRUE(eventually(shows(40))) << testing::PrintToString(reports.lines());
    device.setPosition(41);
    ASSERT_TRUE(eventually(shows(41)));

    // A wrong value on demand, and back.
    CanFaults faults;
    faults.wrongDisplay = model::control::kEngineSpeed;
    transmitter.setFaults(faults);
    EXPECT_EQ(transmitter.faults(), faults);
    ASSERT_TRUE(eventually([&] {
        read();
        return decoder.value(engineSpeed).raw != speedOf(41);
    }));
    transmitter.setFaults({});
    ASSERT_TRUE(eventually(shows(41)));
    EXPECT_GT(transmitter.counters().frames, 0U);
    reader->disconnectDevice();
}

// Qt's virtual bus connects to its server on a later turn of the event loop. The link is up,
// and says it listens, only once it has: a frame due before that (the transmitter sends at once
// after a change of rate) is not sent, and is no refusal that would close the link.
TEST(CanBusLink, RegressionUpOnlyOnceTheVirtualBusHasConnected) {
    bus::quietCanBusDebugging();
    Reports reports;
    bus::CanBusLink link({"virtualcan", "can0", {}});
    link.setReporter(reports.reporter());
    fms::CanFrame frame;
    frame.id = 0x0CF00400;
    frame.dlc = 8;
    const std::string at250 = "news: listening on virtualcan:can0 at 250 kbit/s";
    const std::string at500 = "news: listening on virtualcan:can0 at 500 kbit/s";
    struct Step {
        std::function<void()> open;
        std::vector<std::string> reports;
    };
    const Step steps[] = {
        {[&] {
             link.setDeviceBitrate(250'000);
             link.start();
         },
         {at250}},
        {[&] { link.setDeviceBitrate(500'000); }, {at250, at500}},
    };
    for (const Step& step : steps) {
        step.open();
        EXPECT_FALSE(link.isUp());
        EXPECT_FALSE(link.write(frame));
        ASSERT_TRUE(eventually([&] { return link.isUp(); }));
        EXPECT_TRUE(link.write(frame));
        EXPECT_EQ(reports.lines(), step.reports);
    }
}

}  // namespace
}  // namespace orvale::sim
