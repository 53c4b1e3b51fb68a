#include "app/orvale_app.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QSaveFile>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "api/api_server.h"
#include "api/device_api.h"
#include "app/automation.h"
#include "app/display_recording.h"
#include "app/expected_can_file.h"
#include "app/port_file.h"
#include "app/termination.h"
#include "bus/bus_window.h"
#include "bus/qt_bus_monitor.h"
#include "controls/cmscomm.h"
#include "link/clock.h"
#include "link/connection.h"
#include "plot/plot_window.h"
#include "session/device_session.h"
#include "session/qt_watchdog_timer.h"
#include "sim/can_transmitter.h"
#include "sim/pty_device.h"
#include "ui/bus_marks.h"
#include "ui/main_dialog.h"

namespace orvale::app {
namespace {

// The window's view of the port configuration file. Failures to write are silent: the
// operator is never told about the file.
class PortFileConfiguration final : public session::PortConfiguration {
public:
    explicit PortFileConfiguration(std::string path) : m_file(std::move(path)) {}
    std::string read() override {
        PortFileReadResult result = m_file.read();
        // The operator is never bothered with the file in a box; a file that cannot serve is
        // said on standard error, and Orvale starts on COM1 leaving it as it is.
        if (!result.problem.empty()) {
            std::fprintf(stderr, "Orvale: %s; starting on %s and leaving it alone\n",
                         result.problem.c_str(), result.portText.c_str());
        }
        return result.portText;
    }
    void store(std::string_view portText) override { static_cast<void>(m_file.store(portText)); }

private:
    PortFile m_file;
};

// Every message the session has for the user also goes to standard error, before the window
// holds it in a box: a run from a terminal or a script leaves a trace of what went wrong.
class StandardErrorMessages final : public session::SessionObserver {
public:
    void message(std::string_view text, link::MessageIcon /*icon*/) override {
        // One write a message, so that lines from other writers never land inside it.
        const std::string line = "Orvale: " + std::string(text) + "\n";
        std::fputs(line.c_str(), stderr);
    }
};

// The application icon, from the PNG renderings embedded in the executable (app/resources).
QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/orvale-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

void writeStats(const QString& path, const session::DeviceSession& session, ui::CMainDialog& window,
                const bus::QtBusMonitor* bus) {
    const auto& pacer = window.repaintPacer();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    QString text = QStringLiteral("evaluations=%1\npaints=%2\nframes=%3\nmessage_boxes=%4\n")
                       .arg(session.evaluations())
                       .arg(pacer.paints())
                       .arg(pacer.frames())
                       .arg(session.messagesReported());
    if (bus != nullptr) {
        const bus::BusSummary& s = bus->monitor().check().summary();
        text += QStringLiteral("bus_frames=%1\nbus_mismatch=%2\nbus_missing=%3\nbus_match=%4\n")
                    .arg(s.frames)
                    .arg(s.count(bus::RowState::kMismatch))
                    .arg(s.count(bus::RowState::kMissing))
                    .arg(s.count(bus::RowState::kMatch));
    }
    file.write(text.toLatin1());
    file.commit();
}

}  // namespace

COrvaleApp::COrvaleApp(Options options) : m_options(std::move(options)) {}

COrvaleApp::~COrvaleApp() = default;

int COrvaleApp::InitInstance() {
    // A recording to look at needs no device: the plot window alone.
    if (m_options.viewPath) {
        QString error;
        std::unique_ptr<plot::PlotWindow> viewer =
            plot::PlotWindow::openRecording(QString::fromStdString(*m_options.viewPath), &error);
        if (!viewer) {
            std::fprintf(stderr, "Orvale: %s\n", qPrintable(error));
            return kExitBadCommandLine;
        }
        viewer->setWindowIcon(applicationIcon());
        if (m_options.plotLabels) {
            static_cast<void>(
                viewer->showSeriesByLabels(QString::fromStdString(*m_options.plotLabels), &error));
        }
        viewer->show();
        return QApplication::exec();
    }

    // What cannot be carried out is a command line that cannot be carried out, like a malformed
    // one: said on standard error before anything opens, and Orvale ends. A recording that
    // cannot be made, a drive profile that does not read, an API token that is not safe.
    std::unique_ptr<CsvRecorder> recorder;
    if (m_options.logPath) {
        std::string error;
        recorder = CsvRecorder::open(*m_options.logPath, &error);
        if (!recorder) {
            std::fprintf(stderr, "Orvale: %s\n", error.c_str());
            return kExitBadCommandLine;
        }
    }
    std::optional<QByteArray> token;
    if (m_options.apiTokenFile) {
        QString error;
        token = api::readTokenFile(QString::fromStdString(*m_options.apiTokenFile), &error);
        if (!token) {
            std::fprintf(stderr, "Orvale: %s\n", qPrintable(error));
            return kExitBadCommandLine;
        }
    }

    controls::PortMap ports;
    for (const auto& [number, path] : m_options.ports) {
        ports.map(number, QString::fromStdString(path));
    }

    // The simulated device sits behind a link of its own, so the path stays valid when the
    // device closes and re-opens its line. The directory is made only when it is needed.
    std::optional<QTemporaryDir> simDir;
    std::optional<sim::PtyDevice> device;
    if (m_options.simulate) {
        simDir.emplace(QDir::tempPath() + QStringLiteral("/orvale-sim-XXXXXX"));
        const QString link = simDir->filePath(QStringLiteral("quennet"));
        device.emplace(*m_options.simulate, link.toStdString());
        for (int n = 1; n <= link::kHighestPort; ++n) {
            if (!ports.isMapped(n)) ports.map(n, link);
        }
    }

    controls::CMSComm comm(ports);
    link::SteadyMillisecondClock clock;
    PortFileConfiguration portFile(resolvePortFilePath(
        QCoreApplication::applicationFilePath().toStdString(), userConfigDirectory()));
    session::QtWatchdogTimer watchdog;
    session::DeviceSession deviceSession(comm, clock, portFile, watchdog);
    QObject::connect(&comm, &controls::CMSComm::OnComm,
                     [&deviceSession] { deviceSession.onComm(); });

    // Registered before the window, whose box holds a message until it is closed.
    StandardErrorMessages standardError;
    deviceSession.addObserver(&standardError);

    Automation automation(deviceSession, ports);
    if (recorder) automation.record(std::move(recorder));
    std::unique_ptr<ExpectedCanFile> expectedCan;
    if (m_options.expectedCanPath) {
        std::string error;
        expectedCan = ExpectedCanFile::open(*m_options.expectedCanPath, deviceSession, &error);
        if (!expectedCan) {
            std::fprintf(stderr, "Orvale: --expected-can: %s\n", error.c_str());
            return kExitBadCommandLine;
        }
    }
    // --can: the bus check, kept up for the whole run, shown or not, so that the bus window,
    // the API and the frame log all see the same frames.
    std::unique_ptr<CsvRecorder> canLog;
    if (m_options.canLogPath) {
        std::string error;
        canLog = CsvRecorder::open(*m_options.canLogPath, &error);
        if (!canLog) {
            std::fprintf(stderr, "Orvale: --can-log: %s\n", error.c_str());
            return kExitBadCommandLine;
        }
    }
    std::unique_ptr<bus::QtBusMonitor> busMonitor;
    if (m_options.can || m_options.simulateCan) bus::quietCanBusDebugging();
    // The simulated device's own CAN side, as quennet-sim --can. Made after `device`, so that
    // it stops before the device whose frames it sends. It sends from this thread: Qt's virtual
    // bus serves every interface of a process from one thread, and --can opens one here too.
    std::unique_ptr<sim::CanTransmitter> simulatedCan;
    if (device && m_options.simulateCan) {
        simulatedCan = std::make_unique<sim::CanTransmitter>(
            *device, *m_options.simulateCan,
            [](const std::string& text, bool /*problem*/) {
                std::fprintf(stderr, "Orvale: simulated device: CAN: %s\n", text.c_str());
            },
            sim::CanTransmitter::Threading::kCallersThread);
    }
    if (m_options.can) {
        busMonitor = std::make_unique<bus::QtBusMonitor>(deviceSession, *m_options.can);
        busMonitor->setReporter([](const std::string& text, bool /*problem*/) {
            std::fprintf(stderr, "Orvale: CAN: %s\n", text.c_str());
        });
        if (canLog) {
            busMonitor->setFrameLog([&canLog, told = false](std::string_view line) mutable {
                canLog->writeLine(line);
                if (!told && !canLog->healthy()) {
                    told = true;
                    std::fprintf(stderr, "Orvale: --can-log %s: writing stopped: %s\n",
                                 canLog->path().c_str(), canLog->failureReason().c_str());
                }
            });
        }
        busMonitor->start();
    }
    if (m_options.profilePath) {
        if (const auto error = automation.loadProfile(
                QString::fromStdString(*m_options.profilePath), m_options.profileLoop)) {
            std::fprintf(stderr, "Orvale: %s\n", qPrintable(*error));
            return kExitBadCommandLine;
        }
        // Played as soon as the device can be remote-controlled; it waits till then.
        static_cast<void>(automation.startProfile());
    }

    std::unique_ptr<api::ApiServer> server;
    std::unique_ptr<api::DeviceApi> deviceApi;
    if (m_options.api) {
        api::ServerOptions options;
        if (!m_options.api->address.empty()) {
            const QString address = QString::fromStdString(m_options.api->address);
            options.address = address == QLatin1String("localhost")
                                  ? QHostAddress(QHostAddress::LocalHost)
                                  : QHostAddress(address);
            if (options.address->isNull()) {
                std::fprintf(stderr, "Orvale: --api: \"%s\" is not an IP address\n",
                             m_options.api->address.c_str());
                return kExitBadCommandLine;
            }
        }
        options.port = static_cast<quint16>(m_options.api->port);
        options.token = token;
        server = std::make_unique<api::ApiServer>(options);
        deviceApi = std::make_unique<api::DeviceApi>(
            deviceSession, automation,
            [&server](api::ClientId client, const QByteArray& line, bool event) {
                server->send(client, line, event);
            });
        server->setApi(deviceApi.get());
        if (busMonitor) deviceApi->setBusMonitor(&busMonitor->monitor());
        automation.setProfileProgressHandler(
            [&deviceApi](const QJsonObject& progress) { deviceApi->profileProgress(progress); });
        QString error;
        if (!server->listen(&error)) {
            std::fprintf(stderr, "Orvale: %s\n", qPrintable(error));
            return kExitBadCommandLine;
        }
        std::fprintf(stderr, "Orvale: the control API listens on %s port %u\n",
                     options.address ? qPrintable(options.address->toString()) : "loopback",
                     static_cast<unsigned>(server->port()));
    }

    // Asked to stop (Ctrl+C, logout, a script): end as the window's close box would, so that a
    // recording is closed whole.
    if (m_options.headless) {
        const TerminationHandler termination([] { QCoreApplication::quit(); });
        deviceSession.initialise();
        QCoreApplication::exec();
        deviceSession.exit();
        server.reset();
        deviceApi.reset();
        busMonitor.reset();
        automation.finish();
        expectedCan.reset();
        deviceSession.removeObserver(&standardError);
        return 0;
    }

    ui::CMainDialog window(deviceSession);
    // The plot collects from start, shown or not, so that opening it shows the history.
    plot::PlotWindow plotWindow(deviceSession);
    plotWindow.setWindowIcon(applicationIcon());
    window.setPlotHandler([&plotWindow](std::optional<model::ControlId> display) {
        if (display) plotWindow.showSeries(*display);
        plotWindow.bringToFront();
    });
    if (m_options.plotLabels) {
        QString error;
        static_cast<void>(
            plotWindow.showSeriesByLabels(QString::fromStdString(*m_options.plotLabels), &error));
        plotWindow.bringToFront();
    }
    std::unique_ptr<bus::BusWindow> busWindow;
    std::unique_ptr<ui::BusMarks> busMarks;
    if (busMonitor) {
        busWindow = std::make_unique<bus::BusWindow>(busMonitor->monitor());
        busWindow->setWindowIcon(applicationIcon());
        window.setBusHandler([&busWindow] { busWindow->bringToFront(); });
        if (m_options.busCheck) busWindow->bringToFront();
        if (m_options.busMarks) {
            busMarks = std::make_unique<ui::BusMarks>(window, busMonitor->monitor());
        }
    }
    const QIcon icon = applicationIcon();
    QApplication::setWindowIcon(icon);
    // Wayland shells take the window's icon from the installed desktop file of this name.
    QApplication::setDesktopFileName(QStringLiteral("orvale"));
    window.setApplicationIcon(icon);
    window.describePorts([&ports, &device](int number) {
        const QString path = ports.devicePath(number);
        if (device && path == QString::fromStdString(device->linkPath())) {
            return QStringLiteral("%1: the simulated device").arg(path);
        }
        const QSerialPortInfo info(path);
        const QString what = info.isNull() ? QString() : info.description();
        return what.isEmpty() ? path : QStringLiteral("%1 (%2)").arg(path, what);
    });
    // A recording that stops mid-run is told once, on standard error and in a box that does
    // not hold the window up.
    automation.setRecordingFailureHandler([&window](const std::string& text) {
        std::fprintf(stderr, "Orvale: %s\n", text.c_str());
        auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(),
                                    QString::fromStdString(text), QMessageBox::Ok, &window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });

    const TerminationHandler termination([&window] {
        // A menu, a message box or the device dialog may be open over the window: each runs
        // its own event loop, which must end first.
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        for (int i = 0; i < 16; ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal == &window) break;
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            } else {
                modal->close();
            }
            modal->hide();
        }
        window.reject();
    });

    // ORVALE_STATS=<file>: once a second, the counts that speed measurements read.
    QTimer statsTimer;
    const QString statsPath = qEnvironmentVariable("ORVALE_STATS");
    if (!statsPath.isEmpty()) {
        QObject::connect(&statsTimer, &QTimer::timeout,
                         [&] { writeStats(statsPath, deviceSession, window, busMonitor.get()); });
        statsTimer.start(1000);
    }

    window.exec();
    if (!statsPath.isEmpty()) writeStats(statsPath, deviceSession, window, busMonitor.get());
    server.reset();
    deviceApi.reset();
    busMarks.reset();
    busWindow.reset();
    busMonitor.reset();
    automation.finish();
    expectedCan.reset();
    deviceSession.removeObserver(&standardError);
    return 0;
}

}  // namespace orvale::app
