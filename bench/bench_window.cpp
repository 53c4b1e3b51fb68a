// The window's share of a busy line: the real main window (offscreen, so no display server's
// costs are counted) takes position broadcasts that change every display, and each screen
// refresh is painted. At the line's limit about 14 broadcasts arrive per 60 Hz refresh.
//
// Time is per refresh: its broadcasts, formatting and painting. paints_per_frame counts the
// widgets repainted in one refresh (at most once each).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

#include <cstdlib>
#include <string>
#include <string_view>

#include "controls/repaint_pacer.h"
#include "link/protocol.h"
#include "tests/support/fakes.h"
#include "tests/support/session_fakes.h"
#include "ui/main_dialog.h"

namespace {

using namespace orvale;

class NoPortFile final : public session::PortConfiguration {
public:
    std::string read() override { return "COM1"; }
    void store(std::string_view /*portText*/) override {}
};

class ConnectedWindow {
public:
    ConnectedWindow() {
        window.setMessageBoxHandler([](const QString&, link::MessageIcon) {});
        window.OnInitDialog();
        window.show();
        while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        window.OnTimer(ui::CMainDialog::kWatchdogTimerId);
        deliver(link::device::revisionAnswer('B'));
        deliver(link::device::canBaudRateAnswer(3));
        deliver(link::device::vinStyleAnswer('1'));
        deliver(link::device::identityAnswer({15, 987654321, 2}));
        endFrame();
    }

    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        window.OnCommMscomm();
    }

    // What the pacer's timer and the window system do at the end of a refresh.
    void endFrame() {
        window.repaintPacer().flush();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QCoreApplication::sendPostedEvents();
    }

    test::SteppingClock clock;
    test::FakeSerialControl serial{&clock};
    NoPortFile portFile;
    test::ManualWatchdogTimer watchdog;
    session::DeviceSession session{serial, clock, portFile, watchdog};
    ui::CMainDialog window{session};
};

// `state.range(0)` broadcasts per refresh, the position moving by one with each.
void BM_WindowFrame(benchmark::State& state) {
    ConnectedWindow connected;
    const auto perFrame = static_cast<int>(state.range(0));
    std::string broadcasts[101];
    for (int p = 0; p <= 100; ++p) {
        broadcasts[p] = link::device::positionStatusBroadcast({static_cast<std::uint8_t>(p), 0});
    }
    auto& pacer = connected.window.repaintPacer();
    const auto paintsBefore = pacer.paints();
    int position = 0;
    for (auto _ : state) {
        for (int i = 0; i < perFrame; ++i) {
            position = (position + 1) % 101;
            connected.deliver(broadcasts[position]);
        }
        connected.endFrame();
    }
    const auto frames = static_cast<double>(state.iterations());
    state.counters["paints_per_frame"] =
        static_cast<double>(pacer.paints() - paintsBefore) / frames;
}
BENCHMARK(BM_WindowFrame)->Arg(1)->Arg(14)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // No display is needed, and none is measured.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
