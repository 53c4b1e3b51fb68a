#include <gtest/gtest.h>

#include <QString>
#include <QStringDecoder>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "app/display_recording.h"
#include "controls/ci_analog_display_x.h"
#include "controls/ci_slider_x.h"
#include "controls/cmscomm.h"
#include "controls/read_only_box.h"
#include "controls/repaint_pacer.h"
#include "file_size_limit.h"
#include "link/protocol.h"
#include "model/control_ids.h"
#include "session/qt_watchdog_timer.h"
#include "sim/pty_device.h"
#include "support/fakes.h"
#include "support/pty_pair.h"
#include "support/session_fakes.h"
#include "ui/control_catalogue.h"
#include "ui/main_dialog.h"

namespace orvale::app {
namespace {

class NoPortFile final : public session::PortConfiguration {
public:
    std::string read() override { return "COM1"; }
    void store(std::string_view) override {}
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

using Row = std::vector<std::string>;

// Records of CSV text, quotes undone; a quoted field may hold a line end.
std::vector<Row> parseCsv(std::string_view text) {
    std::vector<Row> rows;
    Row row(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                row.back().push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                row.back().push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.push_back(std::move(row));
            row.assign(1, {});
            ++i;
        } else {
            row.back().push_back(c);
        }
    }
    if (row.size() > 1 || !row.front().empty()) rows.push_back(std::move(row));
    return rows;
}

std::vector<Row> readCsv(const std::filesystem::path& path) { return parseCsv(slurp(path)); }

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

    // The recording observes the session, as the window does; `updates` counts the changes it
    // saw while a device was identified.
    struct CountUpdates final : session::SessionObserver {
        explicit CountUpdates(const session::DeviceSession& s) : observed(s) {}
        void displaysChanged(std::uint8_t, const session::Displays&) override {
            if (observed.connection().deviceIdentified) ++count;
        }
        const session::DeviceSession& observed;
        int count = 0;
    } updates(deviceSession);
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

    const auto rows = readCsv(path);
    ASSERT_GE(rows.size(), 2u);
    const Row& header = rows[0];
    EXPECT_EQ(header, parseCsv(DisplayRecording::headerLine()).front());
    EXPECT_EQ(header.size(), 2u + 6u + 83u);
    EXPECT_EQ(header[8], "Vehicle Identification number");
    EXPECT_EQ(header[9], "Engine total fuel used (L)");
    // The identification (the displays as a teardown left them), then one row per update.
    EXPECT_EQ(rows.size() - 1, 1u + static_cast<std::size_t>(updates.count));

    // The last row holds exactly what the window shows now, the identity boxes included.
    const Row& last = rows.back();
    ASSERT_EQ(last.size(), header.size());
    EXPECT_EQ(last[1], "80");
    const auto boxText = [&](int id) {
        return qobject_cast<controls::ReadOnlyBox*>(window.control(id))->text().toStdString();
    };
    namespace id = model::control;
    const int identityBoxes[] = {id::kProductId,     id::kSerialNumber, id::kFirmwareVersion,
                                 id::kFirmwareBuild, id::kCanBaudRate,  id::kVinStyle};
    for (std::size_t i = 0; i < std::size(identityBoxes); ++i) {
        EXPECT_EQ(last[2 + i], boxText(identityBoxes[i])) << header[2 + i];
    }
    EXPECT_EQ(last[2], "Quennet Duo Plus");
    std::size_t column = 8;
    for (const auto& control : ui::controls()) {
        const auto mid = static_cast<model::ControlId>(control.id);
        if (model::indexOf(model::kNumericDisplays, mid) == model::kNumericDisplayCount &&
            model::indexOf(model::kLeds, mid) == model::kLedCount &&
            model::indexOf(model::kTextDisplays, mid) == model::kTextDisplayCount) {
            continue;
        }
        ASSERT_LT(column, header.size()) << control.label;
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

// --- the rules of the rows, on a session driven by fakes ------------------------------------

using link::device::positionStatusBroadcast;

constexpr std::size_t kModel = 2;
constexpr std::size_t kFirmwareBuild = 5;
constexpr std::size_t kCanBaudRate = 6;

// A device session without a window, recorded into a file of its own.
class Rig {
public:
    explicit Rig(std::string name)
        : path(std::filesystem::temp_directory_path() /
               ("orvale-rows-" + std::to_string(::getpid()) + "-" + name + ".csv")) {
        std::string error;
        auto recorder = CsvRecorder::open(path.string(), &error);
        EXPECT_TRUE(recorder) << error;
        recording = std::make_unique<DisplayRecording>(std::move(recorder), session);
        session.addObserver(recording.get());
    }
    ~Rig() {
        session.removeObserver(recording.get());
        recording.reset();
        std::filesystem::remove(path);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void deliver(std::string_view bytes) {
        serial.queue(bytes);
        session.onComm();
    }
    // The answers to the identify command, in the device's order.
    void answer(std::uint8_t productId, char revision = 'B', std::string_view build = "BUILD 7",
                int canBaudCode = 0) {
        deliver(link::device::revisionAnswer(revision));
        deliver(link::device::buildAnswer(build));
        deliver(link::device::canBaudRateAnswer(canBaudCode));
        deliver(link::device::vinStyleAnswer('0'));
        deliver(link::device::identityAnswer({productId, 4242, 2}));
    }
    // Start-up, the first tick and a device answering.
    void identify(std::uint8_t productId, char revision = 'B', std::string_view build = "BUILD 7") {
        session.initialise();
        timer.fire();
        answer(productId, revision, build);
    }
    // The data rows written so far.
    std::vector<Row> rows() {
        recording->recorder().flushNow();
        std::vector<Row> all = readCsv(path);
        EXPECT_FALSE(all.empty()) << "no header";
        if (!all.empty()) all.erase(all.begin());
        return all;
    }

    std::filesystem::path path;
    test::SteppingClock clock;
    test::FakeSerialControl serial{&clock};
    test::MemoryPortFile portFile;
    test::ManualWatchdogTimer timer;
    session::DeviceSession session{serial, clock, portFile, timer};
    std::unique_ptr<DisplayRecording> recording;
};

std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

// A teardown (at start-up, and whenever the device fell silent) wrote a row of blanks with no
// device identified.
TEST(RecordingRows, RegressionRowsOnlyWhileADeviceIsIdentifiedAndOncePerChange) {
    Rig rig(testName());
    const auto broadcast = [&rig](std::uint8_t position) {
        return [&rig, position] { rig.deliver(positionStatusBroadcast({position, 1})); };
    };
    const auto ticks = [&rig](int count) {
        return [&rig, count] {
            for (int i = 0; i < count; ++i) rig.timer.fire();
        };
    };
    const struct {
        const char* step;
        std::function<void()> act;
        std::size_t rows;
    } steps[] = {
        {"start-up", [&] { rig.session.initialise(); }, 0},
        {"retries while no device answers", ticks(5), 0},
        {"identified", [&] { rig.answer(15); }, 1},
        {"a broadcast", broadcast(30), 2},
        {"the same broadcast", broadcast(30), 2},
        {"the next position", broadcast(31), 3},
        {"silent: teardown and retries", ticks(4), 3},
        {"identified again", [&] { rig.answer(15); }, 4},
        {"a settings change reconnects",
         [&] { EXPECT_TRUE(rig.session.changeSetting(link::canBaudRateCommand("500K bps"))); }, 4},
        {"the answers with the new rate", [&] { rig.answer(15, 'B', "BUILD 7", 3); }, 5},
        {"Disconnect", [&] { rig.session.disconnect(); }, 5},
    };
    for (const auto& s : steps) {
        s.act();
        EXPECT_EQ(rig.rows().size(), s.rows) << s.step;
    }

    const std::vector<Row> rows = rig.rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0][1], "0") << "the identification shows what the teardown left";
    EXPECT_EQ(rows[1][1], "30");
    EXPECT_EQ(rows[3][1], "0") << "a reconnection shows as a row";
    EXPECT_EQ(rows[3][kCanBaudRate], "250K bps");
    EXPECT_EQ(rows[4][kCanBaudRate], "500K bps");
    for (const Row& row : rows) {
        EXPECT_EQ(row[kModel], "Quennet Duo Plus");
        EXPECT_EQ(std::count(row.begin(), row.end(), std::string(link::kNotFoundYet)), 0);
    }
}

// Rows came with changes of the displays alone, so a model shown with its identity only (its
// broadcasts dropped) left nothing in the file.
TEST(RecordingRows, RegressionAModelShownWithItsIdentityOnlyLeavesARow) {
    const struct {
        std::uint8_t productId;
        char revision;
        const char* model;
    } cases[] = {
        {10, 'B', "Quennet Truck"},     // no remote control: its broadcasts are dropped
        {15, 'A', "Quennet Duo Plus"},  // firmware too old: the same, with a message
    };
    for (const auto& c : cases) {
        Rig rig(testName() + std::to_string(c.productId));
        rig.identify(c.productId, c.revision);
        ASSERT_EQ(rig.session.state(), session::SessionState::IdentityOnly) << c.model;
        rig.deliver(positionStatusBroadcast({50, 1}));
        std::vector<Row> rows = rig.rows();
        ASSERT_EQ(rows.size(), 1u) << c.model;
        EXPECT_EQ(rows[0][1], "0") << c.model;
        EXPECT_EQ(rows[0][kModel], c.model);
        EXPECT_EQ(rows[0][3], "4242") << c.model;
        EXPECT_EQ(rows[0][4], std::string(" 0.3") + c.revision) << c.model;

        // Identified afresh with nothing changed: the same row again would be no news.
        rig.session.disconnect();
        rig.session.connect();
        rig.answer(c.productId, c.revision);
        EXPECT_EQ(rig.rows().size(), 1u) << c.model;
    }
}

// "Service brake air pressure #1 (kPa)": pandas told comment='#' cut the header short there.
TEST(RecordingRows, RegressionTheHeaderNamesTheIdentityAndNoColumnHoldsANumberSign) {
    const std::string line = DisplayRecording::headerLine();
    EXPECT_EQ(line.find('#'), std::string::npos);
    EXPECT_TRUE(
        line.starts_with("time,position,model,serial number,firmware version,"
                         "firmware build,CAN baud rate,VIN style,"
                         "Vehicle Identification number,"))
        << line;
    const Row header = parseCsv(line).front();
    for (const char* label :
         {"Service brake air pressure 1 (kPa)", "Service brake air pressure 2 (kPa)",
          "Engine speed (rpm)", "Ambient Air Temperature (\u00B0C)", "TellTale status x, ID=0"}) {
        EXPECT_EQ(std::count(header.begin(), header.end(), label), 1) << label;
    }
}

// A '#' outside quotes starts a comment for pandas' comment='#' and cuts the row short.
bool numberSignOutsideQuotes(std::string_view text) {
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == '#' && !quoted) return true;
    }
    return false;
}

// The device's build text went into the file byte for byte: Latin-1 where the window shows it,
// so bytes from 0x80 up made the file invalid UTF-8.
TEST(RecordingRows, RegressionDeviceTextsAreWrittenAsTheWindowShowsThemInUtf8) {
    Rig rig(testName());
    const std::string build = "N\xB0 #7 \xC9\xE9\xFF,\"Q\"";
    rig.identify(15, 'B', build);
    rig.deliver(positionStatusBroadcast({20, 1}));
    const std::vector<Row> rows = rig.rows();
    ASSERT_EQ(rows.size(), 2u);

    // What the window's box shows: the 22 bytes of the build answer read as Latin-1.
    const std::string shown = QString::fromLatin1(rig.session.fields().firmwareBuild).toStdString();
    EXPECT_TRUE(shown.starts_with("N\u00B0 #7 \u00C9\u00E9\u00FF,\"Q\"")) << shown;
    for (const Row& row : rows) EXPECT_EQ(row[kFirmwareBuild], shown);

    const std::string file = slurp(rig.path);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(QByteArray::fromStdString(file));
    EXPECT_FALSE(utf8.hasError()) << "the file is valid UTF-8";
    EXPECT_FALSE(numberSignOutsideQuotes(file));
}

TEST(RecordingRows, RegressionAFailureIsToldOnceAndTheLastRowSaysSo) {
    Rig rig(testName());
    std::vector<std::string> told;
    rig.recording->setFailureHandler([&](const std::string& text) { told.push_back(text); });
    rig.identify(15);
    rig.deliver(positionStatusBroadcast({30, 1}));
    ASSERT_EQ(rig.rows().size(), 2u);
    rig.recording->poll();
    EXPECT_TRUE(told.empty()) << "nothing to tell while the file takes every row";

    {
        // Room for the last row (about 160 bytes) but not for a row of the displays.
        test::FileSizeLimit full(std::filesystem::file_size(rig.path) + 250);
        ASSERT_TRUE(full.ok());
        rig.deliver(positionStatusBroadcast({40, 1}));
        rig.recording->recorder().flushNow();
    }
    for (int i = 0; i < 3; ++i) rig.recording->poll();
    rig.deliver(positionStatusBroadcast({50, 1}));
    rig.recording->finish();

    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "The recording to " + rig.path.string() + " stopped: File too large.");
    const std::vector<Row> rows = rig.rows();
    ASSERT_EQ(rows.size(), 3u) << "the rows before, then the failure, then nothing";
    const Row& last = rows.back();
    ASSERT_EQ(last.size(), rows[0].size());
    EXPECT_TRUE(std::regex_match(
        last[0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
        << last[0];
    EXPECT_EQ(last[1], "");
    EXPECT_EQ(last[kModel], "recording stopped: File too large");
    for (std::size_t i = kModel + 1; i < last.size(); ++i) EXPECT_EQ(last[i], "") << i;
}

}  // namespace
}  // namespace orvale::app
