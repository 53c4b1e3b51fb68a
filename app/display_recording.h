#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/csv_recorder.h"
#include "session/device_session.h"

namespace orvale::app {

/// Records what the parameter displays show, one CSV row per update, with the device's
/// identity as a block of "#" lines whenever it is identified or changes. A view of the device
/// session: it reads what the session reports, never the window's widgets, so it records the
/// same with or without a window.
///
/// Row: local time (ISO 8601 with milliseconds and offset), the position, then every parameter
/// display in the window's catalogue order: numbers at the display's decimals, LEDs 0 or 1,
/// texts as the boxes hold them.
class DisplayRecording final : public session::SessionObserver {
public:
    DisplayRecording(std::unique_ptr<CsvRecorder> recorder, const session::DeviceSession& session);

    /// The header line: "time", "position", then each display's label, with its units.
    static std::string headerLine();

    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;

    [[nodiscard]] CsvRecorder& recorder() { return *m_recorder; }

private:
    void recordIdentityIfChanged();

    enum class Kind : std::uint8_t { Number, Led, Text };
    struct Column {
        Kind kind;
        std::size_t index;  // into the kind's array of session::Displays
        int decimals;       // numbers only
    };

    std::unique_ptr<CsvRecorder> m_recorder;
    const session::DeviceSession& m_session;
    std::string m_row;
    std::vector<Column> m_columns;  // the parameter displays, in catalogue order
    std::vector<std::string> m_identity;
    bool m_identified = false;
};

/// The current local time as "2026-12-08T15:30:01.123+01:00".
std::string isoTimestampNow();

}  // namespace orvale::app
