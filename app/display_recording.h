#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/csv_recorder.h"

class QWidget;

namespace orvale::ui {
class CMainDialog;
}

namespace orvale::app {

/// Records what the window's parameter displays show, one CSV row per update, with the
/// device's identity as a block of "#" lines whenever it is identified or changes.
///
/// Row: local time (ISO 8601 with milliseconds and offset), the position, then every parameter
/// display in the window's catalogue order: numbers at the display's decimals, LEDs 0 or 1,
/// texts as the boxes hold them.
class DisplayRecording {
public:
    DisplayRecording(std::unique_ptr<CsvRecorder> recorder, ui::CMainDialog& window);

    /// The header line: "time", "position", then each display's label, with its units.
    static std::string headerLine();

    /// Called after each update of the displays.
    void recordRow(std::uint8_t position);

    [[nodiscard]] CsvRecorder& recorder() { return *m_recorder; }

private:
    void recordIdentityIfChanged();

    std::unique_ptr<CsvRecorder> m_recorder;
    ui::CMainDialog& m_window;
    std::string m_row;
    struct Column {
        int id;
        QWidget* widget;
    };

    std::vector<Column> m_columns;  // the parameter displays, in catalogue order
    std::vector<std::string> m_identity;
    bool m_identified = false;
};

/// The current local time as "2026-12-08T15:30:01.123+01:00".
std::string isoTimestampNow();

}  // namespace orvale::app
