#include "app/display_recording.h"

#include <chrono>
#include <ctime>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/read_only_box.h"
#include "model/control_ids.h"
#include "ui/control_catalogue.h"
#include "ui/main_dialog.h"

namespace orvale::app {
namespace {

bool isParameterDisplay(int id) {
    const auto mid = static_cast<model::ControlId>(id);
    const auto has = [mid](const auto& table) {
        for (const auto& entry : table) {
            if (entry.id == mid) return true;
        }
        return false;
    };
    return has(model::kNumericDisplays) || has(model::kLeds) || has(model::kTextDisplays);
}

std::string trimmedUnits(std::string_view units) {
    while (!units.empty() && units.front() == ' ') units.remove_prefix(1);
    return std::string(units);
}

std::string text(const QString& value) { return value.toStdString(); }

// The parameter displays in catalogue order: the CSV's columns after time and position.
const std::vector<const ui::ControlSpec*>& parameterColumns() {
    static const std::vector<const ui::ControlSpec*> columns = [] {
        std::vector<const ui::ControlSpec*> found;
        for (const ui::ControlSpec& control : ui::controls()) {
            if (isParameterDisplay(control.id)) found.push_back(&control);
        }
        return found;
    }();
    return columns;
}

}  // namespace

std::string isoTimestampNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local);  // "+0100"
    char out[64];
    std::snprintf(out, sizeof out, "%.*s.%03d%.3s:%.2s", static_cast<int>(n), stamp,
                  static_cast<int>(millis), zone, zone + 3);
    return out;
}

DisplayRecording::DisplayRecording(std::unique_ptr<CsvRecorder> recorder, ui::CMainDialog& window)
    : m_recorder(std::move(recorder)), m_window(window) {
    // Resolved once: a row is written for every update, up to about 820 times a second.
    for (const ui::ControlSpec* control : parameterColumns()) {
        m_columns.push_back({control->id, window.control(control->id)});
    }
    m_recorder->writeLine(headerLine());
}

std::string DisplayRecording::headerLine() {
    std::string line = "time,position";
    for (const ui::ControlSpec* control : parameterColumns()) {
        std::string label(control->label);
        if (!control->units.empty()) label += " (" + trimmedUnits(control->units) + ")";
        line.push_back(',');
        appendCsvField(line, label);
    }
    return line;
}

void DisplayRecording::recordIdentityIfChanged() {
    const auto& fields = m_window.fields();
    const bool identified = m_window.connection().deviceIdentified;
    const bool newlyIdentified = identified && !m_identified;
    m_identified = identified;
    if (!identified) return;
    std::vector<std::string> identity = {
        fields.modelName,       std::to_string(fields.serialNumber),
        fields.firmwareVersion, fields.canBaudRate,
        fields.vinStyle,        fields.firmwareBuild};
    // Written at every identification (a reconnection shows in the file) and whenever the
    // identity changes (a settings answer arriving later).
    if (!newlyIdentified && identity == m_identity) return;
    m_identity = std::move(identity);
    static constexpr const char* kNames[] = {"model",         "serial number", "firmware version",
                                             "CAN baud rate", "VIN style",     "build"};
    for (std::size_t i = 0; i < m_identity.size(); ++i) {
        std::string line;
        appendCsvField(line, std::string("# ") + kNames[i] + ": " + m_identity[i]);
        m_recorder->writeLine(line);
    }
}

void DisplayRecording::recordRow(std::uint8_t position) {
    recordIdentityIfChanged();
    m_row = isoTimestampNow();
    m_row.push_back(',');
    m_row += std::to_string(position);
    for (const Column& column : m_columns) {
        m_row.push_back(',');
        QWidget* widget = column.widget;
        if (auto* display = qobject_cast<controls::CiAnalogDisplayX*>(widget)) {
            appendCsvField(m_row, text(controls::CiAnalogDisplayX::formatValue(
                                      display->Value(), display->Precision(), QString())));
        } else if (auto* led = qobject_cast<controls::CiLedRectangleX*>(widget)) {
            m_row.push_back(led->Active() ? '1' : '0');
        } else if (qobject_cast<controls::ReadOnlyBox*>(widget) != nullptr) {
            // A single-line box does not show a line end (the Fuel Type text carries one).
            std::string shown(m_window.shownText(column.id));
            while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
                shown.pop_back();
            appendCsvField(m_row, shown);
        }
    }
    m_recorder->writeLine(m_row);
}

}  // namespace orvale::app
