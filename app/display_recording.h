#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/csv_recorder.h"
#include "session/device_session.h"

namespace orvale::app {

/// Records what the window shows while a device is identified: one CSV row per change of the
/// displays or of the identity. A view of the device session: it reads what the session
/// reports, never the window's widgets, so it records the same with or without a window.
///
/// Row: local time (ISO 8601 with milliseconds and offset), the position, the identity (model,
/// serial number, firmware version, firmware build, CAN baud rate, VIN style), then every
/// parameter display in the window's catalogue order: numbers at the display's decimals, LEDs 0
/// or 1, texts as the boxes hold them. Texts from the device are Latin-1, as the window shows
/// them, and written in UTF-8. Two consecutive rows never differ in their time alone.
///
/// Nothing is written while no device is identified (the teardowns of the watchdog's retries),
/// nor for the "Not Found Yet!" identity of a reconnection after a settings change.
///
/// When the file cannot be written any more its last row says so: the time, an empty position,
/// "recording stopped: <reason>" in the model column and every other cell empty.
class DisplayRecording final : public session::SessionObserver {
public:
    DisplayRecording(std::unique_ptr<CsvRecorder> recorder, const session::DeviceSession& session);

    /// The header line: "time", "position", the identity's names, then each display's label
    /// with its units ("Engine speed (rpm)"), '#' left out ("Service brake air pressure 1").
    static std::string headerLine();

    /// Told once, with a text naming the file and the system's reason, when the recording
    /// stops because the file cannot be written. Called from poll() or finish() only, so on
    /// their thread and never inside one of the session's reports.
    void setFailureHandler(std::function<void(const std::string& text)> handler);
    /// Looks whether the writer thread has failed and tells the failure handler once. Call it
    /// from a timer on the session's thread (every 250 ms to 1 s): a failure can come while
    /// nothing changes on the displays.
    void poll();
    /// Writes what is queued to the disk, then polls: a failure of the last rows is told too.
    void finish();

    void displaysChanged(std::uint8_t position, const session::Displays& displays) override;
    void identityChanged(const session::Identity& identity) override;

    [[nodiscard]] CsvRecorder& recorder() { return *m_recorder; }

private:
    void record(std::uint8_t position, const session::Displays& displays);
    void appendText(std::string& line, std::string_view latin1);

    enum class Kind : std::uint8_t { Number, Led, Text };
    struct Column {
        Kind kind;
        std::size_t index;  // into the kind's array of session::Displays
        int decimals;       // numbers only
    };

    std::unique_ptr<CsvRecorder> m_recorder;
    const session::DeviceSession& m_session;
    std::vector<Column> m_columns;  // the parameter displays, in catalogue order
    std::string m_content;          // the row being made, after its time
    std::string m_written;          // the last row written, after its time
    std::string m_utf8;
    std::function<void(const std::string& text)> m_onFailure;
    bool m_failureTold = false;
};

/// The current local time as "2026-12-08T15:30:01.123+01:00".
std::string isoTimestampNow();

/// Appends `latin1` (a byte per character, as the window shows the device's texts) in UTF-8.
void appendLatin1AsUtf8(std::string& out, std::string_view latin1);

}  // namespace orvale::app
