#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>

#include "controls/port_map.h"
#include "link/serial_control.h"

namespace orvale::controls {

/// The serial communications control over QSerialPort: the properties and the one event the
/// link uses, with the values and call orders it relies on. A refused access throws
/// link::SerialError with a text naming the port, its device and the system's reason.
class CMSComm final : public QObject, public link::SerialControl {
    Q_OBJECT

public:
    explicit CMSComm(PortMap ports = {}, QObject* parent = nullptr);
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
    [[nodiscard]] QString portLabel() const;

    QSerialPort m_port;
    PortMap m_ports;
    short m_commPort = 1;
    short m_rThreshold = 0;
    short m_inputLen = 0;
    long m_inputMode = 0;
    short m_commEvent = 0;
    qint32 m_baud = 9600;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
    QByteArray m_input;
    bool m_lost = false;
};

}  // namespace orvale::controls
