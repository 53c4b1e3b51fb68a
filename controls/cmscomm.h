#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "controls/port_map.h"
#include "link/serial_control.h"

namespace orvale::controls {

/// What can be found out about a device that would not open, beyond the system's reason: the
/// input of openRefusalAdvice(). Plain values, so that every cause is tested whoever runs the
/// tests (root opens any device, whatever its permissions).
struct OpenRefusalFacts {
    /// errno of the system's refusal (ENOENT, EACCES, EBUSY ...); 0 when the reason was one of
    /// QSerialPort's own, such as a lock file it could not take.
    int systemError = 0;
    bool exists = true;           ///< the path leads to something
    bool characterDevice = true;  ///< ... and that is a character device, as serial lines are
    bool accessDenied = false;    ///< this user may not both read and write it
    std::string owner;            ///< the device's owner; empty when unknown
    /// The group (never root's) whose members may read and write the device, when this login
    /// is not in it; empty otherwise.
    std::string group;
    /// The user is a member of `group` in the group database, but this login began before
    /// that: the membership counts from the next login.
    bool groupFromNextLogin = false;
    /// Process ID of another running program whose lock file names the device; 0 for none.
    long lockHolder = 0;
    std::string lockHolderName;  ///< that program's name; empty when unknown
};

/// The cause of a refused open in words a user can act on ("no such device; is the adapter
/// plugged in?"), for after the system's reason; empty when nothing is known beyond it.
/// `portName` is "COM7", `path` the device path opened.
std::string openRefusalAdvice(const OpenRefusalFacts& facts, std::string_view portName,
                              std::string_view path);

/// The facts about `path` after QSerialPort refused to open it for `reason` (its error
/// string): the device node, its owner and group, and lock files in `lockDirectories`
/// (QSerialPort's and the usual UUCP ones when empty).
OpenRefusalFacts probeOpenRefusal(const std::string& path, const QString& reason,
                                  std::span<const std::string> lockDirectories = {});

/// The serial communications control over QSerialPort: the properties and the one event the
/// link uses, with the values and call orders it relies on. A refused access throws
/// link::SerialError with a text naming the port, its device and the system's reason; a refused
/// open adds the cause in words (openRefusalAdvice()).
class CMSComm final : public QObject, public link::SerialControl {
    Q_OBJECT

public:
    /// Line settings as the port takes them; the default is "9600,n,8,1".
    struct LineSettings {
        qint32 baud = 9600;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    };
    /// Puts line settings (no flow control) on an open port. Returns the system's reason when it
    /// refused them, nothing when it took them.
    using LineSetter =
        std::function<std::optional<QString>(QSerialPort& port, const LineSettings& line)>;

    explicit CMSComm(PortMap ports = {}, QObject* parent = nullptr);
    /// As above, with the settings put on the port through `setLine`: tests use one that refuses,
    /// since a pseudo-terminal takes any settings.
    CMSComm(PortMap ports, LineSetter setLine, QObject* parent = nullptr);
    ~CMSComm() override;

    void SetCommPort(short port) override;
    void SetInputLen(short length) override;
    bool GetPortOpen() override;
    void SetPortOpen(bool open) override;
    void SetRThreshold(short threshold) override;
    void SetSettings(std::string_view settings) override;
    void SetOutput(std::span<const std::uint8_t> bytes) override;
    std::span<const std::uint8_t> GetInput() override;
    short GetCommEvent() override { return m_commEvent; }
    void SetInputMode(long mode) override { m_inputMode = mode; }

    [[nodiscard]] short commPort() const { return m_commPort; }
    [[nodiscard]] const PortMap& ports() const { return m_ports; }
    void setPorts(PortMap ports) { m_ports = std::move(ports); }

signals:
    /// Data received (CommEvent 2), a line error or a vanished port (other CommEvent values).
    void OnComm();

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    [[noreturn]] void refuse(const QString& what) const;
    void applySettings();
    void closePort();
    [[nodiscard]] QString portLabel() const;

    QSerialPort m_port;
    PortMap m_ports;
    LineSetter m_setLine;
    short m_commPort = 1;
    short m_rThreshold = 0;
    short m_inputLen = 0;
    long m_inputMode = 0;
    short m_commEvent = 0;
    LineSettings m_line;
    QByteArray m_input;
    /// Set while a vanished device's port waits for its queued close.
    bool m_lost = false;
    /// Successful opens so far: tells a queued close which open it belongs to.
    std::uint64_t m_opens = 0;
    /// Set by an open until the next read of Input, the open's discard of stale bytes.
    bool m_discardPending = false;
};

}  // namespace orvale::controls
