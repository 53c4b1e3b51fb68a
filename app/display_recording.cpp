#include "app/display_recording.h"

#include <chrono>
#include <ctime>

#include "model/control_ids.h"
#include "model/display_format.h"
#include "ui/control_catalogue.h"

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

DisplayRecording::DisplayRecording(std::unique_ptr<CsvRecorder> recorder,
                                   const session::DeviceSession& session)
    : m_recorder(std::move(recorder)), m_session(session) {
    // Resolved once: a row is written for every update, up to about 820 times a second.
    for (const ui::ControlSpec* control : parameterColumns()) {
        const auto id = static_cast<model::ControlId>(control->id);
        if (const auto n = model::indexOf(model::kNumericDisplays, id);
            n < model::kNumericDisplayCount) {
            const int decimals = control->decimals == ui::kDefaultDecimals
                                     ? model::kDefaultDisplayDecimals
                                     : control->decimals;
            m_columns.push_back({Kind::Number, n, decimals});
        } else if (const auto l = model::indexOf(model::kLeds, id); l < model::kLedCount) {
            m_columns.push_back({Kind::Led, l, 0});
        } else {
            m_columns.push_back({Kind::Text, model::indexOf(model::kTextDisplays, id), 0});
        }
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
    const link::WindowFields& fields = m_session.fields();
    const bool identified = m_session.connection().deviceIdentified;
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

void DisplayRecording::displaysChanged(std::uint8_t position, const session::Displays& displays) {
    recordIdentityIfChanged();
    m_row = isoTimestampNow();
    m_row.push_back(',');
    m_row += std::to_string(position);
    for (const Column& column : m_columns) {
        m_row.push_back(',');
        switch (column.kind) {
            case Kind::Number:
                model::appendFixed(m_row, displays.numbers[column.index], column.decimals);
                break;
            case Kind::Led:
                m_row.push_back(displays.leds[column.index] ? '1' : '0');
                break;
            case Kind::Text: {
                // A single-line box does not show a line end (the Fuel Type text carries one).
                std::string_view shown = displays.texts[column.index];
                while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
                    shown.remove_suffix(1);
                appendCsvField(m_row, shown);
                break;
            }
        }
    }
    m_recorder->writeLine(m_row);
}

}  // namespace orvale::app
