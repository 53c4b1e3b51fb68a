#include "bus/qt_can_bus.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QLoggingCategory>
#include <QVariant>

namespace orvale::bus {
namespace {

constexpr int kRetryMs = 1000;
// A virtual bus whose server does not answer within this long is tried again.
constexpr int kConnectTimeoutMs = 5000;

std::string plain(const QString& text) { return text.toStdString(); }

}  // namespace

void quietCanBusDebugging() {
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.canbus*.debug=false\nqt.canbus*.info=false\nqt.canbus*.warning=false"));
}

std::optional<fms::CanFrame> codecFrameOf(const QCanBusFrame& frame) {
    if (frame.frameType() != QCanBusFrame::DataFrame || frame.hasFlexibleDataRateFormat()) {
        return std::nullopt;
    }
    fms::CanFrame out;
    out.id = frame.frameId();
    out.extended = frame.hasExtendedFrameFormat();
    const QByteArray payload = frame.payload();
    out.dlc = static_cast<std::uint8_t>(std::min<qsizetype>(payload.size(), 8));
    out.data.fill(0);
    for (std::size_t i = 0; i < out.dlc; ++i) {
        out.data[i] = static_cast<std::uint8_t>(payload[static_cast<qsizetype>(i)]);
    }
    return out;
}

CanBusLink::CanBusLink(CanTarget target, QObject* parent)
    : QObject(parent), m_target(std::move(target)) {
    m_retry.setInterval(kRetryMs);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &CanBusLink::open);
    m_connectTimeout.setInterval(kConnectTimeoutMs);
    m_connectTimeout.setSingleShot(true);
    connect(&m_connectTimeout, &QTimer::timeout, this, [this] {
        fail("cannot open " + m_target.text() + ": no connection after " +
             std::to_string(kConnectTimeoutMs / 1000) + " s");
    });
}

CanBusLink::~CanBusLink() { close(); }

void CanBusLink::start() { open(); }

void CanBusLink::setDeviceBitrate(std::optional<std::uint32_t> bitsPerSecond) {
    if (bitsPerSecond == m_deviceBitrate) return;
    const std::optional<std::uint32_t> before = wantedBitrate();
    m_deviceBitrate = bitsPerSecond;
    if (wantedBitrate() != before && m_device != nullptr && !m_bitrateRefused) {
        close();
        open();
    }
}

std::optional<std::uint32_t> CanBusLink::wantedBitrate() const noexcept {
    return m_target.bitrate ? m_target.bitrate : m_deviceBitrate;
}

void CanBusLink::open() {
    m_retry.stop();
    close();
    QString error;
    QCanBusDevice* device =
        QCanBus::instance()->createDevice(QString::fromStdString(m_target.plugin),
                                          QString::fromStdString(m_target.interface), &error);
    if (device == nullptr) {
        const QStringList plugins = QCanBus::instance()->plugins();
        fail("cannot use " + m_target.text() + ": " +
             (error.isEmpty() ? std::string("no such plugin or interface") : plain(error)) +
             " (plugins here: " + plain(plugins.join(QStringLiteral(", "))) + ")");
        return;
    }
    m_device = device;
    m_device->setParent(this);
    // Bus errors come up as error frames where the plugin can pass them (socketcan).
    m_device->setConfigurationParameter(
        QCanBusDevice::ErrorFilterKey,
        QVariant::fromValue(QCanBusFrame::FrameErrors(QCanBusFrame::AnyError)));
    const std::optional<std::uint32_t> bitrate = m_bitrateRefused ? std::nullopt : wantedBitrate();
    if (bitrate) {
        m_device->setConfigurationParameter(QCanBusDevice::BitRateKey,
                                            QVariant::fromValue(*bitrate));
    }
    connect(m_device, &QCanBusDevice::errorOccurred, this, &CanBusLink::onErrorOccurred);
    connect(m_device, &QCanBusDevice::framesReceived, this, &CanBusLink::onFramesReceived);
    std::string listening = "listening on " + m_target.text();
    if (bitrate) listening += " at " + bitrateText(*bitrate);
    connect(m_device, &QCanBusDevice::stateChanged, this,
            [this, listening](QCanBusDevice::CanBusDeviceState s) {
                // The timeout runs exactly while the link waits for the interface to connect.
                if (s == QCanBusDevice::ConnectedState && m_connectTimeout.isActive()) {
                    m_connectTimeout.stop();
                    goUp(listening);
                } else if (s == QCanBusDevice::UnconnectedState &&
                           (m_up || m_connectTimeout.isActive())) {
                    fail(m_target.text() + " has gone");
                }
            });
    // Some plugins (SocketCAN) report a failed connect through errorOccurred before
    // connectDevice() returns: that error is handled here, once, where a refused bitrate can
    // still be taken back.
    m_connecting = true;
    const bool connected = m_device->connectDevice();
    m_connecting = false;
    if (!connected) {
        const std::string why = plain(m_device->errorString());
        if (bitrate && m_device->error() == QCanBusDevice::ConfigurationError) {
            // SocketCAN sets rates only for root: take the interface as it is configured.
            m_bitrateRefused = true;
            report("cannot set " + m_target.text() + " to " + bitrateText(*bitrate) + " (" + why +
                       "); going on with the interface as it is configured",
                   true);
            QTimer::singleShot(0, this, &CanBusLink::open);
            return;
        }
        fail("cannot open " + m_target.text() + ": " + (why.empty() ? "refused" : why));
        return;
    }
    if (m_device->state() == QCanBusDevice::ConnectedState) {
        goUp(listening);
        return;
    }
    // Qt's virtual bus connects to its server on a later turn of the event loop; until then
    // the link is not up, and frames due meanwhile are not sent, as while it is closed.
    m_connectTimeout.start();
}

void CanBusLink::goUp(const std::string& listening) {
    m_up = true;
    m_busOff = false;
    m_lastWriteProblem.clear();
    m_refusedSinceMs.reset();
    report(listening, false);
}

void CanBusLink::close() {
    m_up = false;
    m_connectTimeout.stop();
    if (m_device == nullptr) return;
    QCanBusDevice* device = m_device;
    m_device = nullptr;
    device->disconnect(this);
    if (device->state() != QCanBusDevice::UnconnectedState) device->disconnectDevice();
    device->deleteLater();
}

void CanBusLink::fail(const std::string& problem) {
    close();
    report(problem, true);
    m_retry.start();
}

void CanBusLink::report(const std::string& text, bool problem) {
    if (text == m_status && problem == m_statusIsProblem) return;
    m_status = text;
    m_statusIsProblem = problem;
    if (m_reporter) m_reporter(text, problem);
}

void CanBusLink::onErrorOccurred() {
    if (m_device == nullptr || m_connecting) return;
    const QCanBusDevice::CanBusError error = m_device->error();
    const std::string why = plain(m_device->errorString());
    switch (error) {
        case QCanBusDevice::NoError:
            return;
        case QCanBusDevice::WriteError:
        case QCanBusDevice::OperationError:
        case QCanBusDevice::TimeoutError:
            // The interface is still there; frames are refused for now.
            if (why != m_lastWriteProblem) {
                m_lastWriteProblem = why;
                report(m_target.text() + " refused a frame: " + why, true);
            }
            if (m_device->state() != QCanBusDevice::ConnectedState)
                fail(m_target.text() + ": " + why);
            return;
        default:
            fail(m_target.text() + ": " + (why.empty() ? "the interface failed" : why));
            return;
    }
}

void CanBusLink::onFramesReceived() {
    if (m_device == nullptr) return;
    const std::uint64_t now = steadyMs();
    while (m_device != nullptr && m_device->framesAvailable() > 0) {
        const QCanBusFrame frame = m_device->readFrame();
        if (frame.frameType() == QCanBusFrame::ErrorFrame) {
            ++m_errorFrames;
            if ((frame.error() & QCanBusFrame::BusOffError) != 0 && !m_busOff) {
                m_busOff = true;
                report(m_target.text() + " is bus-off: the controller has left the bus", true);
            }
            continue;
        }
        const std::optional<fms::CanFrame> codec = codecFrameOf(frame);
        if (!codec) continue;
        if (m_busOff || m_statusIsProblem) {
            // Frames flow again: the bus is back.
            m_busOff = false;
            m_lastWriteProblem.clear();
            report("listening on " + m_target.text(), false);
        }
        if (m_frameHandler) m_frameHandler(*codec, now);
    }
}

bool CanBusLink::write(const fms::CanFrame& frame) {
    if (!isUp()) return false;
    const QByteArray payload(reinterpret_cast<const char*>(frame.data.data()),
                             std::min<int>(frame.dlc, 8));
    QCanBusFrame out(frame.id, payload);
    out.setExtendedFrameFormat(frame.extended);
    if (!m_device->writeFrame(out)) {
        const std::uint64_t now = steadyMs();
        if (!m_refusedSinceMs) m_refusedSinceMs = now;
        const std::string why = plain(m_device->errorString());
        if (now - *m_refusedSinceMs >= kRetryMs) {
            // Refused for a second on end: open the interface afresh (a virtual bus whose
            // server has gone needs a new connection), as any other failure is retried.
            m_refusedSinceMs.reset();
            fail(m_target.text() +
                 " refuses every frame: " + (why.empty() ? "no reason given" : why));
            return false;
        }
        if (why != m_lastWriteProblem) {
            m_lastWriteProblem = why;
            report(m_target.text() + " refused a frame: " + (why.empty() ? "no reason given" : why),
                   true);
        }
        return false;
    }
    m_refusedSinceMs.reset();
    if (!m_lastWriteProblem.empty()) {
        m_lastWriteProblem.clear();
        std::string text = "sending on " + m_target.text();
        report(text, false);
    }
    return true;
}

}  // namespace orvale::bus
