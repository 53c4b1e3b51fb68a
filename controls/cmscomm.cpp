#include "controls/cmscomm.h"

#include <QDir>
#include <QMetaObject>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <utility>
#include <vector>

#ifndef Q_OS_WIN
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace orvale::controls {
namespace {

QString fromView(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::optional<QString> setLineOnPort(QSerialPort& port, const CMSComm::LineSettings& line) {
    const bool ok = port.setBaudRate(line.baud) && port.setParity(line.parity) &&
                    port.setDataBits(line.dataBits) && port.setStopBits(line.stopBits) &&
                    port.setFlowControl(QSerialPort::NoFlowControl);
    if (ok) {
        return std::nullopt;
    }
    return port.errorString();
}

// QSerialPort's reason for a refusal by the system is the system's text for its errno (in the
// user's language): the errno is found again by comparing texts, since errno itself has been
// overwritten by the time open() returns.
int systemErrorOf(const QString& reason) {
    for (const int error : {ENOENT, ENOTDIR, ENODEV, ENXIO, EACCES, EPERM, EBUSY, ENOTTY, EIO}) {
        if (qt_error_string(error) == reason) return error;
    }
    return 0;
}

#ifndef Q_OS_WIN

// Where QSerialPort keeps its lock files (the first of these it may write), and where UUCP
// programs such as minicom keep theirs.
std::vector<std::string> defaultLockDirectories() {
    std::vector<std::string> directories = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                            "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                            "/var/lock/lockdev", "/run/lock"};
    directories.push_back(QDir::tempPath().toStdString());
    return directories;
}

// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK.._tmp_quennet" for /tmp/quennet: the name below /dev,
// or the whole path, with its slashes made underscores, as QSerialPort and UUCP name them.
std::string lockFileName(std::string_view path) {
    std::string name(path.starts_with("/dev/") ? path.substr(5) : path);
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return "LCK.." + name;
}

bool processRunning(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// The process that a lock file names, when it is running and not this one. QLockFile writes the
// number on the first line; UUCP programs write it right-aligned in ten characters.
long lockHolderIn(const std::string& file) {
    std::ifstream in(file);
    long pid = 0;
    if (!(in >> pid) || pid <= 0 || pid == static_cast<long>(::getpid())) return 0;
    return processRunning(pid) ? pid : 0;
}

std::string processName(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::string userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
    return entry.pw_name;
}

bool inThisLogin(gid_t gid) {
    if (::getegid() == gid) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    groups.resize(static_cast<std::size_t>(std::max(got, 0)));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The group's name, and whether the group database counts this user in it (a membership that
// a login started before it was given does not yet have).
std::pair<std::string, bool> groupOf(gid_t gid) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(65536);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        return {};
    }
    const std::string user = userName(::getuid());
    bool member = false;
    for (char** name = entry.gr_mem; name != nullptr && *name != nullptr; ++name) {
        member = member || user == *name;
    }
    return {entry.gr_name, member};
}

#endif

}  // namespace

std::string openRefusalAdvice(const OpenRefusalFacts& facts, std::string_view portName,
                              std::string_view path) {
    const int error = facts.systemError;
    if (!facts.exists || error == ENOENT || error == ENOTDIR || error == ENODEV || error == ENXIO) {
        return "no such device; is the adapter plugged in?";
    }
    const std::string port(portName);
    if (facts.lockHolder != 0) {
        const std::string holder =
            facts.lockHolderName.empty()
                ? "process " + std::to_string(facts.lockHolder)
                : facts.lockHolderName + ", process " + std::to_string(facts.lockHolder);
        return port + " is in use by another program (" + holder + ")";
    }
    if (error == EBUSY) {
        return port + " is in use by another program";
    }
    if (facts.accessDenied || error == EACCES || error == EPERM) {
        if (!facts.group.empty() && facts.groupFromNextLogin) {
            return "you are a member of the group " + facts.group +
                   " only from your next login on; log out and in again";
        }
        if (!facts.group.empty()) {
            return "only members of the group " + facts.group +
                   " may open it; add yourself (sudo usermod -aG " + facts.group +
                   " $USER) and log in again";
        }
        if (!facts.owner.empty()) {
            return "only its owner, " + facts.owner + ", may open it";
        }
        return {};
    }
    if (!facts.characterDevice || error == ENOTTY) {
        return std::string(path) + " is not a serial device";
    }
    return {};
}

OpenRefusalFacts probeOpenRefusal(const std::string& path, const QString& reason,
                                  [[maybe_unused]] std::span<const std::string> lockDirectories) {
    OpenRefusalFacts facts;
    facts.systemError = systemErrorOf(reason);
#ifndef Q_OS_WIN
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        facts.exists = errno != ENOENT && errno != ENOTDIR;
        return facts;
    }
    facts.characterDevice = S_ISCHR(info.st_mode);
    facts.accessDenied = ::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
    facts.owner = userName(info.st_uid);
    constexpr auto kGroupReadWrite = S_IRGRP | S_IWGRP;
    // Joining root's group is no advice to give; nor is joining a group this login is in.
    if (info.st_gid != 0 && (info.st_mode & kGroupReadWrite) == kGroupReadWrite &&
        !inThisLogin(info.st_gid)) {
        std::tie(facts.group, facts.groupFromNextLogin) = groupOf(info.st_gid);
    }

    const std::vector<std::string> defaults =
        lockDirectories.empty() ? defaultLockDirectories() : std::vector<std::string>{};
    const auto directories =
        lockDirectories.empty() ? std::span<const std::string>(defaults) : lockDirectories;
    // Other programs lock the device under its own name, a /dev/serial/by-id link under the
    // name of the device it leads to.
    std::vector<std::string> names = {lockFileName(path)};
    std::error_code ec;
    const std::string target = std::filesystem::canonical(path, ec).string();
    if (!ec && target != path) names.push_back(lockFileName(target));
    for (const std::string& directory : directories) {
        for (const std::string& name : names) {
            if (const long pid = lockHolderIn(directory + "/" + name); pid != 0) {
                facts.lockHolder = pid;
                facts.lockHolderName = processName(pid);
                return facts;
            }
        }
    }
#endif
    return facts;
}

CMSComm::CMSComm(PortMap ports, QObject* parent)
    : CMSComm(std::move(ports), setLineOnPort, parent) {}

CMSComm::CMSComm(PortMap ports, LineSetter setLine, QObject* parent)
    : QObject(parent), m_ports(std::move(ports)), m_setLine(std::move(setLine)) {
    connect(&m_port, &QSerialPort::readyRead, this, &CMSComm::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &CMSComm::onError);
}

CMSComm::~CMSComm() = default;

QString CMSComm::portLabel() const {
    return QStringLiteral("COM%1 (%2)").arg(m_commPort).arg(m_ports.devicePath(m_commPort));
}

void CMSComm::refuse(const QString& what) const { throw link::SerialError(what.toStdString()); }

void CMSComm::SetCommPort(short port) {
    if (m_port.isOpen()) {
        refuse(QStringLiteral("Cannot change the port number while %1 is open.").arg(portLabel()));
    }
    if (port < 1) {
        refuse(QStringLiteral("Invalid port number %1.").arg(port));
    }
    m_commPort = port;
}

void CMSComm::SetInputLen(short length) {
    if (length < 0) {
        refuse(QStringLiteral("Invalid input length %1.").arg(length));
    }
    m_inputLen = length;
}

bool CMSComm::GetPortOpen() { return m_port.isOpen(); }

void CMSComm::closePort() {
    if (m_port.isOpen()) {
        m_port.close();
    }
    m_discardPending = false;
}

void CMSComm::SetPortOpen(bool open) {
    if (!open) {
        closePort();
        return;
    }
    if (m_port.isOpen()) {
        refuse(QStringLiteral("%1 is already open.").arg(portLabel()));
    }
    m_port.clearError();
    m_port.setPortName(m_ports.devicePath(m_commPort));
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        const QString path = m_ports.devicePath(m_commPort);
        const std::string advice = openRefusalAdvice(
            probeOpenRefusal(path.toStdString(), reason),
            QStringLiteral("COM%1").arg(m_commPort).toStdString(), path.toStdString());
        QString text = QStringLiteral("Cannot open %1: %2").arg(portLabel(), reason);
        if (!advice.empty()) text += QStringLiteral(": ") + QString::fromStdString(advice);
        refuse(text);
    }
    ++m_opens;
    m_lost = false;
    m_input.clear();
    m_discardPending = true;
    applySettings();
}

void CMSComm::SetRThreshold(short threshold) {
    if (threshold < 0) {
        refuse(QStringLiteral("Invalid receive threshold %1.").arg(threshold));
    }
    m_rThreshold = threshold;
}

void CMSComm::SetSettings(std::string_view settings) {
    const QStringList parts = fromView(settings).split(QLatin1Char(','));
    const auto invalid = [&] {
        refuse(QStringLiteral("Invalid line settings \"%1\".").arg(fromView(settings)));
    };
    if (parts.size() != 4) invalid();
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0) invalid();

    QSerialPort::Parity parity = QSerialPort::NoParity;
    const QString p = parts[1].trimmed().toLower();
    if (p == QLatin1String("n"))
        parity = QSerialPort::NoParity;
    else if (p == QLatin1String("e"))
        parity = QSerialPort::EvenParity;
    else if (p == QLatin1String("o"))
        parity = QSerialPort::OddParity;
    else if (p == QLatin1String("m"))
        parity = QSerialPort::MarkParity;
    else if (p == QLatin1String("s"))
        parity = QSerialPort::SpaceParity;
    else
        invalid();

    const int data = parts[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8) invalid();

    QSerialPort::StopBits stop = QSerialPort::OneStop;
    const QString s = parts[3].trimmed();
    if (s == QLatin1String("1"))
        stop = QSerialPort::OneStop;
    else if (s == QLatin1String("1.5"))
        stop = QSerialPort::OneAndHalfStop;
    else if (s == QLatin1String("2"))
        stop = QSerialPort::TwoStop;
    else
        invalid();

    m_line = {baud, parity, static_cast<QSerialPort::DataBits>(data), stop};
    if (m_port.isOpen()) {
        applySettings();
    }
}

void CMSComm::applySettings() {
    const std::optional<QString> reason = m_setLine(m_port, m_line);
    if (reason) {
        // A refusal leaves the port closed: the caller takes it for a port that did not open, and
        // one left open would stay locked against every other open with nothing to close it.
        closePort();
        m_port.clearError();
        refuse(
            QStringLiteral("Cannot apply the line settings to %1: %2").arg(portLabel(), *reason));
    }
}

void CMSComm::SetOutput(std::span<const std::uint8_t> bytes) {
    if (!m_port.isOpen()) {
        refuse(QStringLiteral("Cannot write to %1: the port is not open.").arg(portLabel()));
    }
    if (m_lost) {
        refuse(QStringLiteral("Cannot write to %1: the device behind the port has gone.")
                   .arg(portLabel()));
    }
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    if (m_port.write(data, static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        refuse(QStringLiteral("Cannot write to %1: %2").arg(portLabel(), m_port.errorString()));
    }
    // QSerialPort only queues: hand the byte to the driver now, and on a real line wait until
    // it has left, so that the pause that follows is a pause on the wire.
    m_port.flush();
#ifndef Q_OS_WIN
    if (m_port.bytesToWrite() == 0) {
        ::tcdrain(static_cast<int>(m_port.handle()));
    }
#endif
}

std::span<const std::uint8_t> CMSComm::GetInput() {
    if (!m_port.isOpen()) {
        refuse(QStringLiteral("Cannot read from %1: the port is not open.").arg(portLabel()));
    }
    m_input = m_inputLen > 0 ? m_port.read(m_inputLen) : m_port.readAll();
    if (m_discardPending) {
        m_discardPending = false;
        // The open's discard read. What the device sent while the port was closed waits in the
        // system's buffer, not Qt's (no event loop has run since the open): left there it would
        // be framed with the reply to the first command. A failed flush reports itself through
        // errorOccurred like any other line error.
        m_port.clear(QSerialPort::Input);
    }
    return {reinterpret_cast<const std::uint8_t*>(m_input.constData()),
            static_cast<std::size_t>(m_input.size())};
}

void CMSComm::onReadyRead() {
    if (m_rThreshold <= 0) {
        return;
    }
    m_commEvent = link::comm_event::kReceive;
    emit OnComm();
    // QSerialPort does not signal again while a handler of its signal runs, and a handler may
    // run a nested event loop (a message box): what arrived meanwhile sits in its buffer. It is
    // delivered as soon as the handler is done instead of waiting for the device's next byte.
    if (m_port.isOpen() && m_port.bytesAvailable() > 0) {
        QMetaObject::invokeMethod(this, &CMSComm::onReadyRead, Qt::QueuedConnection);
    }
}

void CMSComm::onError(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
        case QSerialPort::UnknownError:
            break;
        default:
            return;
    }
    if (!m_port.isOpen() || m_lost) {
        return;
    }
    // The device behind the port is gone (adapter pulled, the other end of a pseudo-terminal
    // closed). QSerialPort would report it again on every pass of the event loop until the port
    // is closed; close it as soon as QSerialPort has returned from its notifier.
    // A watchdog tick may close the port and open it again before the close runs: that port is
    // another one, whose device is there, and it stays open.
    m_lost = true;
    QMetaObject::invokeMethod(
        this,
        [this, open = m_opens] {
            if (open != m_opens) {
                return;
            }
            closePort();
            m_port.clearError();
            m_lost = false;
            m_commEvent = link::comm_event::kPortLost;
            emit OnComm();
        },
        Qt::QueuedConnection);
}

}  // namespace orvale::controls
