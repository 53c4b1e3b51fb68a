#include "sim/can_transmitter.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <vector>

#include "bus/frame_schedule.h"
#include "bus/qt_can_bus.h"
#include "sim/device_bus.h"
#include "sim/pty_device.h"

namespace orvale::sim {
namespace {

// How often the device is looked at: well inside a clock second and a position broadcast, and
// no more work than a lock and a comparison.
constexpr int kFollowMs = 20;
// The extra traffic goes out in small batches this often.
constexpr std::uint64_t kExtraTickMs = 5;

// Follows the device and sends; lives on the transmitter's thread.
class Pump {
public:
    Pump(PtyDevice& device, bus::CanBusLink& link, CanTransmitter::AtomicCounters& counters)
        : m_device(device), m_link(link), m_counters(counters) {
        m_follow.setTimerType(Qt::PreciseTimer);
        m_follow.setInterval(kFollowMs);
        QObject::connect(&m_follow, &QTimer::timeout, [this] { follow(); });
        m_send.setTimerType(Qt::PreciseTimer);
        m_send.setSingleShot(true);
        QObject::connect(&m_send, &QTimer::timeout, [this] { send(); });
    }

    void start() {
        // The device's rate is known before the interface first opens.
        follow();
        m_link.start();
        m_follow.start();
    }

private:
    void follow() {
        BusInputs inputs = m_device.busInputs();
        if (m_inputs && inputs == *m_inputs) return;
        if (!m_inputs || m_inputs->canBaudCode != inputs.canBaudCode) {
            m_link.setDeviceBitrate(bitrateOfBaudCode(inputs.canBaudCode));
        }
        encodeBusFrames(inputs, m_frames);
        m_schedule.set(m_frames, bus::steadyMs());
        m_counters.evaluations.fetch_add(1, std::memory_order_relaxed);
        m_inputs = std::move(inputs);
        send();
    }

    void send() {
        const std::uint64_t now = bus::steadyMs();
        std::uint64_t sent = 0;
        std::uint64_t refused = 0;
        m_schedule.run(now, [&](const fms::CanFrame& frame, std::uint64_t) {
            ++(m_link.write(frame) ? sent : refused);
        });
        const std::uint32_t extraRate = m_inputs ? m_inputs->faults.extraPerSecond : 0;
        m_extraFrames.clear();
        m_extra.due(extraRate, now, m_extraFrames);
        std::uint64_t extraSent = 0;
        for (const fms::CanFrame& frame : m_extraFrames) {
            ++(m_link.write(frame) ? extraSent : refused);
        }
        m_counters.frames.fetch_add(sent, std::memory_order_relaxed);
        m_counters.extraFrames.fetch_add(extraSent, std::memory_order_relaxed);
        m_counters.refused.fetch_add(refused, std::memory_order_relaxed);

        std::optional<std::uint64_t> next = m_schedule.nextDue();
        if (extraRate != 0) next = std::min(next.value_or(now + kExtraTickMs), now + kExtraTickMs);
        if (!next) {
            m_send.stop();
            return;
        }
        m_send.start(static_cast<int>(*next > now ? *next - now : 0));
    }

    PtyDevice& m_device;
    bus::CanBusLink& m_link;
    CanTransmitter::AtomicCounters& m_counters;
    std::optional<BusInputs> m_inputs;
    fms::EncodedFrames m_frames;
    bus::FrameSchedule m_schedule;
    ExtraTraffic m_extra;
    std::vector<fms::CanFrame> m_extraFrames;
    QTimer m_follow;
    QTimer m_send;
};

}  // namespace

// The interface and the pump, on the thread that makes them.
class CanTransmitter::Here {
public:
    Here(PtyDevice& device, const bus::CanTarget& target, const Reporter& reporter,
         AtomicCounters& counters)
        : m_link(target), m_pump(device, m_link, counters) {
        m_link.setReporter(reporter);
        m_pump.start();
    }

private:
    bus::CanBusLink m_link;
    Pump m_pump;
};

class CanTransmitter::Thread final : public QThread {
public:
    Thread(PtyDevice& device, bus::CanTarget target, Reporter reporter, AtomicCounters& counters)
        : m_device(device),
          m_target(std::move(target)),
          m_reporter(std::move(reporter)),
          m_counters(counters) {}

    ~Thread() override {
        // quit() before the loop has begun still ends it at once.
        quit();
        wait();
    }

protected:
    void run() override {
        Here here(m_device, m_target, m_reporter, m_counters);
        exec();
    }

private:
    PtyDevice& m_device;
    const bus::CanTarget m_target;
    const Reporter m_reporter;
    AtomicCounters& m_counters;
};

CanTransmitter::CanTransmitter(PtyDevice& device, bus::CanTarget target, Reporter reporter,
                               Threading threading)
    : m_device(device), m_target(target) {
    if (threading == Threading::kCallersThread) {
        m_here = std::make_unique<Here>(device, m_target, reporter, m_counters);
        return;
    }
    m_thread = std::make_unique<Thread>(device, std::move(target), std::move(reporter), m_counters);
    m_thread->setObjectName(QStringLiteral("CAN transmitter"));
    m_thread->start();
}

CanTransmitter::~CanTransmitter() {
    m_thread.reset();
    m_here.reset();
}

void CanTransmitter::setFaults(CanFaults faults) { m_device.setCanFaults(std::move(faults)); }

CanFaults CanTransmitter::faults() const { return m_device.canFaults(); }

CanTransmitter::Counters CanTransmitter::counters() const noexcept {
    return {m_counters.frames.load(std::memory_order_relaxed),
            m_counters.extraFrames.load(std::memory_order_relaxed),
            m_counters.refused.load(std::memory_order_relaxed),
            m_counters.evaluations.load(std::memory_order_relaxed)};
}

}  // namespace orvale::sim
