#pragma once

#include <QCanBusFrame>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "bus/bus_clock.h"
#include "bus/can_target.h"
#include "fms/can_frame.h"

class QCanBusDevice;

namespace orvale::bus {

/// One CAN interface through Qt SerialBus (QCanBus), kept open for as long as this object lives.
///
/// Whatever goes wrong (no such plugin or interface, a bitrate the plugin cannot set, bus-off,
/// an interface that disappears) is reported once through the reporter, and the interface is
/// tried again every second, as the serial watchdog does with a silent device: never a spin,
/// never a stack of messages. A frame the bus refuses is dropped; writing never blocks.
class CanBusLink final : public QObject {
    Q_OBJECT

public:
    /// A frame from the bus and when it came (steadyMs()).
    using FrameHandler = std::function<void(const fms::CanFrame& frame, std::uint64_t timeMs)>;
    /// A line for the operator: `problem` true for something wrong, false for news that it is
    /// mended ("listening on virtualcan:can0 at 250 kbit/s").
    using Reporter = std::function<void(const std::string& text, bool problem)>;

    explicit CanBusLink(CanTarget target, QObject* parent = nullptr);
    ~CanBusLink() override;

    CanBusLink(const CanBusLink&) = delete;
    CanBusLink& operator=(const CanBusLink&) = delete;

    void setFrameHandler(FrameHandler handler) { m_frameHandler = std::move(handler); }
    void setReporter(Reporter reporter) { m_reporter = std::move(reporter); }

    /// Opens the interface now, and again every second while it is down.
    void start();
    /// The rate the bus should run at when the target names none: the device's CAN baud rate.
    /// A change reopens the interface at the new rate.
    void setDeviceBitrate(std::optional<std::uint32_t> bitsPerSecond);

    /// Puts `frame` on the bus. False while the interface is down or when the bus refused it.
    bool write(const fms::CanFrame& frame);

    [[nodiscard]] bool isUp() const noexcept { return m_device != nullptr && m_up; }
    [[nodiscard]] const CanTarget& target() const noexcept { return m_target; }
    /// The last report: what is wrong, or where the link listens.
    [[nodiscard]] const std::string& status() const noexcept { return m_status; }
    /// Error frames the interface passed up (socketcan reports bus errors so).
    [[nodiscard]] std::uint64_t errorFrames() const noexcept { return m_errorFrames; }

private:
    void open();
    void close();
    void onErrorOccurred();
    void onFramesReceived();
    void goUp(const std::string& listening);
    void fail(const std::string& problem);
    void report(const std::string& text, bool problem);
    [[nodiscard]] std::optional<std::uint32_t> wantedBitrate() const noexcept;

    CanTarget m_target;
    std::optional<std::uint32_t> m_deviceBitrate;
    bool m_bitrateRefused = false;  // the plugin cannot set rates: go on as configured
    QCanBusDevice* m_device = nullptr;
    bool m_up = false;
    bool m_busOff = false;
    QTimer m_retry;
    QTimer m_connectTimeout;  // runs while the link waits for the interface to connect
    FrameHandler m_frameHandler;
    Reporter m_reporter;
    std::string m_status;
    bool m_statusIsProblem = false;
    bool m_connecting = false;  // inside connectDevice()
    std::string m_lastWriteProblem;
    std::optional<std::uint64_t> m_refusedSinceMs;  // writes refused without a break since
    std::uint64_t m_errorFrames = 0;
};

/// Keeps Qt SerialBus's plugins from writing their chatter (the virtual bus's server and clients
/// coming and going, SocketCAN's optional library missing, the same failure again at every
/// retry) to standard error: CanBusLink reports what matters once. QT_LOGGING_RULES still turns
/// it back on.
void quietCanBusDebugging();

/// A QCanBusFrame's identifier, bytes and kind as the codec reads them.
[[nodiscard]] std::optional<fms::CanFrame> codecFrameOf(const QCanBusFrame& frame);

}  // namespace orvale::bus
