// The plot and its window under the offscreen platform: what is drawn, by pixel, and what a
// screen reader finds.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QScrollArea>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/protocol.h"
#include "plot/axes.h"
#include "plot/plot_widget.h"
#include "plot/plot_window.h"
#include "support/fakes.h"
#include "support/session_fakes.h"

namespace orvale::plot {
namespace {

namespace c = model::control;

std::filesystem::path tempFile(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("orvale-plot-" + std::to_string(::getpid()) + "-" + name);
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

// Whether a pixel of `colour` lies within `radius` of (x, y).
bool drawnNear(const QImage& image, int x, int y, const QColor& colour, int radius = 2) {
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p(x + dx, y + dy);
            if (image.rect().contains(p) && image.pixelColor(p).rgb() == colour.rgb()) return true;
        }
    }
    return false;
}

// Series values between 0 and 100 over a minute, on an axis with room around them.
TEST(PlotWidget, DrawsEverySpikeAndStepWhereItIs) {
    struct Probe {
        double time;
        double value;
        bool drawn;
    };
    const struct {
        const char* name;
        std::vector<Point> points;
        std::vector<Probe> probes;
    } cases[] = {
        {"a spike of one point up, 17 ms wide in a minute",
         {{0, 0}, {30'000, 100}, {30'017, 0}},
         {{30'000, 100, true},
          {10'000, 0, true},
          {50'000, 0, true},
          {10'000, 100, false},
          {50'000, 100, false}}},
        {"a spike of one point down",
         {{0, 100}, {45'000, 0}, {45'017, 100}},
         {{45'000, 0, true}, {20'000, 100, true}, {20'000, 0, false}}},
        {"a step",
         {{0, 0}, {30'000, 100}},
         {{15'000, 0, true}, {45'000, 100, true}, {15'000, 100, false}, {45'000, 0, false}}},
    };
    const std::size_t series = *seriesOf(c::kEngineSpeed);
    for (const auto& t : cases) {
        SeriesStore store;
        for (const Point& p : t.points) store.record(p.time, series, p.value);
        store.extendTo(60'000);
        PlotWidget plot(store);
        plot.resize(500, 300);
        plot.setSeriesVisible(series, true);
        plot.setRange({0, 60'000});
        const QImage image = plot.grab().toImage();
        const QRect area = plot.plotArea();
        for (const Probe& probe : t.probes) {
            const int x = area.left() + static_cast<int>(probe.time / 60'000 * area.width());
            const AxisRange axis = axisRange(0, 100);
            const int y =
                area.bottom() - static_cast<int>((probe.value - axis.low) / (axis.high - axis.low) *
                                                 (area.height() - 1));
            EXPECT_EQ(drawnNear(image, x, y, plot.colour(series)), probe.drawn)
                << t.name << ": " << probe.value << " at " << probe.time << " ms";
        }
    }
}

// A device session driven by fakes, as the main window's is.
struct Device {
    Device() {
        session.initialise();
        timer.fire();
    }
    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        session.onComm();
    }
    void identify() {
        deliver(link::device::revisionAnswer('B'));
        deliver(link::device::buildAnswer("BUILD 7"));
        deliver(link::device::canBaudRateAnswer(0));
        deliver(link::device::vinStyleAnswer('0'));
        deliver(link::device::identityAnswer({15, 4242, 2}));
    }
    void broadcast(std::uint8_t position) {
        deliver(link::device::positionStatusBroadcast({position, 1}));
    }

    test::SteppingClock clock;
    test::FakeSerialControl serial{&clock};
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer timer;
    session::DeviceSession session{serial, clock, portFile, timer};
};

TEST(PlotWindow, FollowsTheSessionAndPauseFreezesOnlyTheView) {
    Device device;
    TimeMs now = 1'000'000;
    PlotWindow window(device.session, [&now] { return now; });
    EXPECT_EQ(window.identityText(), QStringLiteral("No device identified"));
    EXPECT_EQ(window.plot().span(), 60'000) << "a minute by default";
    ASSERT_TRUE(window.showSeries(c::kEngineSpeed));
    EXPECT_FALSE(window.showSeries(c::kDriver1Card)) << "a text box is not plotted";

    device.identify();
    now += 1000;
    device.broadcast(20);
    window.refreshNow();
    EXPECT_TRUE(
        window.identityText().startsWith(QStringLiteral("Quennet Duo Plus, serial number 4242")))
        << window.identityText().toStdString();
    const SeriesBuffer& speed = window.store().series(*seriesOf(c::kEngineSpeed));
    const std::size_t pointsAt20 = speed.size();
    EXPECT_EQ(speed.back().time, now);
    EXPECT_EQ(window.plot().range().to, static_cast<double>(now));

    window.setPaused(true);
    const TimeRange frozen = window.plot().range();
    now += 5000;
    device.broadcast(55);
    window.refreshNow();
    EXPECT_EQ(window.plot().range(), frozen) << "the view stands still";
    EXPECT_EQ(speed.size(), pointsAt20 + 1) << "while the data keeps coming";
    EXPECT_TRUE(window.isPaused());

    window.setPaused(false);
    window.refreshNow();
    EXPECT_EQ(window.plot().range().to, static_cast<double>(now)) << "back to live";
    window.setTimeWindow(600);
    EXPECT_EQ(window.plot().span(), 600'000);
}

TEST(PlotWindow, EveryControlHasANameAndTheListTogglesThroughTheAccessibilityBus) {
    Device device;
    PlotWindow window(device.session);
    window.show();
    QApplication::processEvents();
    int controls = 0;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window)) continue;
        if (!qobject_cast<QAbstractButton*>(widget) && !qobject_cast<QComboBox*>(widget) &&
            !qobject_cast<PlotWidget*>(widget) && !qobject_cast<QScrollArea*>(widget)) {
            continue;
        }
        ++controls;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
    EXPECT_GE(controls, static_cast<int>(kSeriesCount) + 6);

    // A screen reader's toggle on a check box plots its series, and a second one hides it.
    const std::size_t series = *seriesOf(c::kWheelBasedSpeed);
    QAccessibleInterface* box =
        QAccessible::queryAccessibleInterface(window.seriesCheckBox(series));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(QAccessible::Name), QStringLiteral("Wheel based Speed"));
    EXPECT_EQ(box->parent()->text(QAccessible::Name),
              QString::fromUtf8(model::kCommonGroupCaption.data()));
    ASSERT_NE(box->actionInterface(), nullptr);
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(window.plot().isSeriesVisible(series));
    EXPECT_TRUE(box->state().checked);
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(window.plot().isSeriesVisible(series));
}

TEST(PlotWindow, NamedSeriesAreShownAllOrNone) {
    Device device;
    PlotWindow window(device.session);
    const struct {
        const char* labels;
        bool ok;
        std::vector<model::ControlId> shown;
    } cases[] = {
        {"Engine speed,Retarder Selection, non-engine",
         true,
         {c::kEngineSpeed, c::kRetarderSelection}},
        {"Brake,Warp drive", false, {c::kEngineSpeed, c::kRetarderSelection}},
    };
    for (const auto& t : cases) {
        QString error;
        EXPECT_EQ(window.showSeriesByLabels(QString::fromUtf8(t.labels), &error), t.ok) << t.labels;
        EXPECT_EQ(error.isEmpty(), t.ok) << error.toStdString();
        std::vector<model::ControlId> shown;
        for (const std::size_t s : window.plot().visibleSeries()) shown.push_back(seriesInfo(s).id);
        EXPECT_EQ(shown, t.shown) << t.labels;
    }
    EXPECT_TRUE(window.showSeriesByLabel(QStringLiteral("fuel level 1")));
}

TEST(PlotWindow, ViewsARecordingAndExportsTheVisibleRange) {
    const auto csv = tempFile("view.csv");
    {
        std::ofstream out(csv, std::ios::binary);
        out << "time,position,model,serial number,firmware version,firmware build,CAN baud rate,"
               "VIN style,Engine speed (rpm),Brake\r\n"
               "2026-12-08T15:30:00.000+01:00,20,Quennet Bus Plus,77, 0.3C,B2,500K "
               "bps,X,800.000,0\r\n"
               "2026-12-08T15:30:10.000+01:00,20,Quennet Bus Plus,77, 0.3C,B2,500K "
               "bps,X,900.000,1\r\n"
               "2026-12-08T15:30:20.000+01:00,20,Quennet Bus Plus,77, 0.3C,B2,500K "
               "bps,X,oops,1\r\n";
    }
    QString error;
    auto window = PlotWindow::openRecording(QString::fromStdString(csv.string()), &error);
    ASSERT_TRUE(window) << error.toStdString();
    EXPECT_TRUE(
        window->identityText().startsWith(QStringLiteral("Quennet Bus Plus, serial number 77")))
        << window->identityText().toStdString();
    EXPECT_TRUE(window->identityText().contains(QStringLiteral("line 4"))) << "the row left out";
    EXPECT_FALSE(window->showSeries(c::kWheelBasedSpeed)) << "no such column in the file";
    ASSERT_TRUE(window->showSeriesByLabels(QStringLiteral("Engine speed,Brake"), &error));
    EXPECT_TRUE(window->isPaused()) << "a recording does not move";

    const auto exported = tempFile("export.csv");
    ASSERT_TRUE(window->exportCsv(QString::fromStdString(exported.string()), &error))
        << error.toStdString();
    const std::string text = slurp(exported);
    EXPECT_TRUE(text.starts_with("time,Engine speed (rpm),Brake\r\n")) << text;
    EXPECT_NE(text.find(",800.000,0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":30:10.000"), std::string::npos) << text;
    EXPECT_NE(text.find(",900.000,1\r\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;

    const auto png = tempFile("export.png");
    window->resize(900, 600);
    ASSERT_TRUE(window->exportPng(QString::fromStdString(png.string()), &error))
        << error.toStdString();
    const QImage image(QString::fromStdString(png.string()));
    EXPECT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), window->plot().size() * window->plot().devicePixelRatio());

    const auto bad = tempFile("bad.csv");
    std::ofstream(bad, std::ios::binary) << "date,value\r\n";
    EXPECT_FALSE(PlotWindow::openRecording(QString::fromStdString(bad.string()), &error));
    EXPECT_TRUE(error.contains(QStringLiteral(", line 1: not a recording of Orvale")))
        << error.toStdString();
    for (const auto& path : {csv, exported, png, bad}) std::filesystem::remove(path);
}

}  // namespace
}  // namespace orvale::plot
