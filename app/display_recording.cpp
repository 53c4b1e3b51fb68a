#include "app/display_recording.h"

#include <array>
#include <chrono>
#include <cstdio>
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

// The identity's columns, in the order record() writes them.
constexpr std::array<std::string_view, 6> kIdentityNames = {
    "model", "serial number", "firmware version", "firmware build", "CAN baud rate", "VIN style"};

// A '#' in a column name cuts the header short for readers that take it for a comment
// (pandas' comment='#'): "pressure #1" becomes "pressure 1".
std::string withoutNumberSigns(std::string_view label) {
    std::string out;
    for (const char c : label) {
        if (c == '#' || (c == ' ' && (out.empty() || out.back() == ' '))) continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
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

void appendLatin1AsUtf8(std::string& out, std::string_view latin1) {
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
}

DisplayRecording::DisplayRecording(std::unique_ptr<CsvRecorder> recorder,
                                   const session::DeviceSession& session)
    : m_recorder(std::move(recorder)), m_session(session) {
    // Resolved once: a row is written for every update, up to about 820 times a second.
    for (const ui::ControlSpec* control : parameterColumns()) {
        const auto id = static_cast<model::ControlId>(control->id);
        if (const auto n = model::indexOf(model::kNumericDisplays, id);
            n < model::kNumericDisplayCount) {
            const int decimals = model::shownDecimals(control->decimals);
            m_columns.push_back({Kind::Number, n, decimals});
        } else if (const auto l = model::indexOf(model::kLeds, id); l < model::kLedCount) {
            m_columns.push_back({Kind::Led, l, 0});
        } else {
            m_columns.push_back({Kind::Text, model::indexOf(model::kTextDisplays, id), 0});
        }
    }
    // The last row when the file fails: still a row of the table, with a time that parses.
    const std::size_t emptyCells = kIdentityNames.size() - 1 + m_columns.size();
    m_recorder->setFailureLine([emptyCells](std::string_view reason) {
        std::string line = isoTimestampNow() + ",,";
        appendCsvField(line, "recording stopped: " + std::string(reason));
        line.append(emptyCells, ',');
        return line;
    });
    m_recorder->writeLine(headerLine());
}

std::string DisplayRecording::headerLine() {
    std::string line = "time,position";
    for (const std::string_view name : kIdentityNames) {
        line.push_back(',');
        line.append(name);
    }
    for (const ui::ControlSpec* control : parameterColumns()) {
        std::string label = withoutNumberSigns(control->label);
        if (!control->units.empty()) label += " (" + trimmedUnits(control->units) + ")";
        line.push_back(',');
        appendCsvField(line, label);
    }
    return line;
}

void DisplayRecording::setFailureHandler(std::function<void(const std::string& text)> handler) {
    m_onFailure = std::move(handler);
}

void DisplayRecording::poll() {
    if (m_failureTold || m_recorder->healthy()) return;
    m_failureTold = true;
    if (m_onFailure) {
        m_onFailure("The recording to " + m_recorder->path() +
                    " stopped: " + m_recorder->failureReason() + ".");
    }
}

void DisplayRecording::finish() {
    m_recorder->flushNow();
    poll();
}

void DisplayRecording::identityChanged(const session::Identity& /*identity*/) {
    // The displays stay as they were: an identification shows the teardown's, and a model shown
    // with its identity only never shows more, so this row is all that records it.
    record(m_session.evaluatedPosition(), m_session.displays());
}

void DisplayRecording::displaysChanged(std::uint8_t position, const session::Displays& displays) {
    record(position, displays);
}

void DisplayRecording::record(std::uint8_t position, const session::Displays& displays) {
    const link::WindowFields& fields = m_session.fields();
    // A teardown and every watchdog retry against a silent port show nothing of a device; a
    // reconnection after a settings change keeps the device identified while its boxes say
    // "Not Found Yet!" for a moment.
    if (!m_session.connection().deviceIdentified || fields.modelName == link::kNotFoundYet ||
        !m_recorder->healthy()) {
        return;
    }
    m_content.clear();
    m_content += std::to_string(position);
    m_content.push_back(',');
    appendText(m_content, fields.modelName);
    m_content.push_back(',');
    m_content += std::to_string(fields.serialNumber);
    for (const std::string* text :
         {&fields.firmwareVersion, &fields.firmwareBuild, &fields.canBaudRate, &fields.vinStyle}) {
        m_content.push_back(',');
        appendText(m_content, *text);
    }
    for (const Column& column : m_columns) {
        m_content.push_back(',');
        switch (column.kind) {
            case Kind::Number:
                model::appendFixed(m_content, displays.numbers[column.index], column.decimals);
                break;
            case Kind::Led:
                m_content.push_back(displays.leds[column.index] ? '1' : '0');
                break;
            case Kind::Text: {
                // A single-line box does not show a line end (the Fuel Type text carries one).
                std::string_view shown = displays.texts[column.index];
                while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
                    shown.remove_suffix(1);
                appendText(m_content, shown);
                break;
            }
        }
    }
    // The displays and the identity are reported one after the other: when a push brings both,
    // the second report finds its row written already.
    if (m_content == m_written) return;
    m_written.swap(m_content);
    m_content = isoTimestampNow();
    m_content.push_back(',');
    m_content += m_written;
    m_recorder->writeLine(m_content);
}

void DisplayRecording::appendText(std::string& line, std::string_view latin1) {
    m_utf8.clear();
    appendLatin1AsUtf8(m_utf8, latin1);
    appendCsvField(line, m_utf8);
}

}  // namespace orvale::app
