#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/display_recording.h"
#include "controls/ci_analog_display_x.h"
#include "controls/ci_slider_x.h"
#include "controls/cmscomm.h"
#include "controls/read_only_box.h"
#include "controls/repaint_pacer.h"
#include "model/control_ids.h"
#include "session/qt_watchdog_timer.h"
#include "sim/pty_device.h"
#include "support/pty_pair.h"
#include "ui/control_catalogue.h"
#include "ui/main_dialog.h"

namespace orvale::app {
namespace {

class NoPortFile final : public session::PortConfiguration {
public:
    std::string read() override { return "COM1"; }
    void store(std::string_view) override {}
};

std::vector<std::string> lines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

// One CSV line into its fields, quotes undone.
std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back().push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back().push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

TEST(Recording, TheCsvHoldsWhatTheWindowShowedAfterADrive) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("orvale-drive-" + std::to_string(::getpid()) + ".csv");
    sim::PtyDevice device;
    controls::PortMap ports;
    ports.map(1, QString::fromStdString(device.slavePath()));
    controls::CMSComm comm(ports);
    link::SteadyMillisecondClock clock;
    NoPortFile portFile;
    session::QtWatchdogTimer watchdog;
    session::DeviceSession deviceSession(comm, clock, portFile, watchdog);
    ui::CMainDialog window(deviceSession);
    QObject::connect(&comm, &controls::CMSComm::OnComm, &window, &ui::CMainDialog::OnCommMscomm);

    // The recording observes the session, as the window does; `updates` counts what it saw.
    struct CountUpdates final : session::SessionObserver {
        void displaysChanged(std::uint8_t, const session::Displays&) override { ++count; }
        int count = 0;
    } updates;
    std::string error;
    auto recording =
        std::make_unique<DisplayRecording>(CsvRecorder::open(path.string(), &error), deviceSession);
    deviceSession.addObserver(recording.get());
    deviceSession.addObserver(&updates);
    window.OnInitDialog();
    window.OnTimer(ui::CMainDialog::kWatchdogTimerId);

    // The drive: the device reports 20, 55, then 80, and the window follows each.
    const auto* slider = qobject_cast<controls::CiSliderX*>(window.control(link::control::kSlider));
    for (const int position : {20, 55, 80}) {
        device.setPosition(static_cast<std::uint8_t>(position));
        ASSERT_TRUE(test::processEventsUntil([&] {
            return window.connection().deviceIdentified && slider->Position() == position;
        })) << position;
    }
    deviceSession.removeObserver(recording.get());
    recording.reset();
    window.repaintPacer().flush();

    const auto rows = lines(path);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0], DisplayRecording::headerLine());
    const auto header = split(rows[0]);
    EXPECT_EQ(header.size(), 2u + 83u);
    EXPECT_EQ(header[2], "Vehicle Identification number");
    EXPECT_EQ(header[3], "Engine total fuel used (L)");

    std::size_t dataRows = 0;
    std::vector<std::string> identity;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].starts_with("# ")) {
            identity.push_back(rows[i]);
        } else {
            ++dataRows;
        }
    }
    EXPECT_EQ(dataRows, static_cast<std::size_t>(updates.count)) << "one row per update";
    ASSERT_EQ(identity.size(), 6u);
    EXPECT_EQ(identity[0], "# model: Quennet Duo Plus");
    EXPECT_EQ(identity[1], "# serial number: 12345");
    EXPECT_EQ(identity[2], "# firmware version:  0.3B");

    // The last row holds exactly what the window shows now.
    const auto last = split(rows.back());
    ASSERT_EQ(last.size(), header.size());
    EXPECT_EQ(last[1], "80");
    std::size_t column = 2;
    for (const auto& control : ui::controls()) {
        if (column >= header.size()) break;
        if (header[column].rfind(std::string(control.label), 0) != 0) continue;
        QWidget* widget = window.control(control.id);
        if (auto* display = qobject_cast<controls::CiAnalogDisplayX*>(widget)) {
            EXPECT_EQ(last[column] + display->UnitsText().toStdString(),
                      display->text().toStdString())
                << control.label;
        } else if (auto* edit = qobject_cast<controls::ReadOnlyBox*>(widget)) {
            std::string shown = edit->text().toStdString();
            if (!shown.empty() && shown.back() == '\n') shown.pop_back();
            EXPECT_EQ(last[column], shown) << control.label;
        }
        ++column;
    }
    EXPECT_EQ(column, header.size()) << "every column matched a display in catalogue order";
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace orvale::app
