#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bus/expected_state.h"
#include "fms/can_frame.h"
#include "fms/decoder.h"
#include "fms/fields.h"
#include "model/control_ids.h"
#include "model/presentation.h"
#include "session/device_session.h"

namespace orvale::bus {

/// How a display and the bus stand, worst first (the order the window may sort the rows in).
enum class RowState : std::uint8_t {
    kMismatch,     ///< the bus carries another value, for longer than the device needs to follow
    kMissing,      ///< no frame has carried it for 3 periods of its group
    kMatch,        ///< the bus carries what the display shows (or cannot yet be told otherwise)
    kNotModelled,  ///< nothing to compare: no device connected, or the device does not send it
};
inline constexpr std::size_t kRowStateCount = 4;

/// "mismatch", "missing", "match", "not_modelled".
[[nodiscard]] std::string_view nameOf(RowState state) noexcept;

/// A display's value in the form the control API's `parameters` reply gives it: a number for a
/// numeric display, a boolean for an LED, the text of a box (its line end left out).
struct DisplayValue {
    enum class Kind : std::uint8_t { kNone, kNumber, kBool, kText };
    Kind kind = Kind::kNone;
    double number = 0.0;  ///< kNumber: engineering units, as the display receives it
    bool lit = false;     ///< kBool
    std::string text;     ///< kText

    friend bool operator==(const DisplayValue&, const DisplayValue&) = default;
};

/// One parameter display against the bus.
struct BusRow {
    model::ControlId id = 0;
    std::string_view label;  ///< the display's label in the window
    std::string_view units;  ///< a numeric display's units with their leading blank (" km/hr")
    /// What the window shows; none while no device is connected.
    DisplayValue expected;
    /// What the bus carries, in the display's form: a number's physical value, an LED lit for
    /// code 01 and dark for 00 (none for the error and "not available" codes), a status code in
    /// the box's words, a text as sent. None until a frame has carried it.
    DisplayValue observed;
    /// The observed value as the display would show it: "6425.500 rpm", "on", "011=Drive",
    /// "0B0101"; a code the box has no words for as its bits ("100"). Empty while none.
    std::string observedText;
    /// Milliseconds since the last frame carrying it (the oldest of its fields); none until one
    /// has.
    std::optional<std::uint64_t> ageMs;
    RowState state = RowState::kNotModelled;
    /// True while the row is held at kMatch without proof: its first frame is not yet due, or
    /// the window changed less than two periods ago and the bus still carries the old value.
    bool settling = false;
    /// kMismatch only: by how much. Numbers observed - expected with the units ("+12.500
    /// km/hr"); codes "bus 01, expected 00"; texts `bus "A*", expected "B*"`; a repeated field
    /// whose copies disagree "copy 5 of 10: bus 00, expected 01".
    std::string difference;
};

/// The check as a whole.
struct BusSummary {
    std::array<std::size_t, kRowStateCount> rows{};  ///< rows in each state, indexed by RowState
    /// Frames of every sender in the last whole second (ten steps of 100 ms before the current
    /// one).
    std::uint32_t framesPerSecond = 0;
    std::uint64_t frames = 0;        ///< every frame seen, of every sender
    std::uint64_t otherSenders = 0;  ///< frames not from the device's addresses for their group
    std::uint64_t bamCompleted = 0;  ///< the device's VI and DI broadcasts read whole
    std::uint64_t bamDropped = 0;    ///< and given up
    std::uint64_t shortFrames = 0;   ///< the device's frames without room for their fields

    [[nodiscard]] std::size_t count(RowState state) const noexcept {
        return rows[static_cast<std::size_t>(state)];
    }
};

/// What a view marks on one display.
struct BusMark {
    RowState state = RowState::kNotModelled;
    /// The bus does not carry what the display shows: kMismatch or kMissing.
    bool disagrees = false;
    /// BusRow::observedText; valid until the next refresh().
    std::string_view busText;
};

/// Compares what the CAN bus carries with what the window shows, display by display. Frames come
/// from a bus another node may share: a group is only taken from the source address the device
/// sends it from (fms/choices.h), transport frames only from the VI and DI senders' addresses;
/// everything else is counted as another sender's and changes nothing.
///
/// Numbers agree within half a resolution step, codes and texts exactly, the time of day in the
/// date and time box within 2 s (the device's clock ticks between broadcasts). The device changes
/// its frames some time after the window has changed: a difference counts only once it outlasts
/// two periods of its group after the row's expected value last changed, and a display no frame
/// has carried for three periods (counted from when the expectation began) is missing.
///
/// Plain C++ over the caller's millisecond clock. All memory is taken at construction, apart
/// from texts longer than any the model shows: onFrame(), expect() and refresh() do not allocate
/// in steady state.
class BusCheck {
public:
    /// Every parameter display: the numbers, the LEDs and the text boxes, in the window's
    /// catalogue order (model::kNumericDisplays, kLeds, kTextDisplays).
    static constexpr std::size_t kRowCount =
        model::kNumericDisplayCount + model::kLedCount + model::kTextDisplayCount;

    BusCheck();

    /// A frame seen on the bus at `timeMs`. Call for every frame received, of any sender.
    void onFrame(const fms::CanFrame& frame, std::uint64_t timeMs) noexcept;

    /// What the window shows at `nowMs`: the expectation of the session's device
    /// (expectationOf(session), nothing while it is not connected) and its displays. Call it when
    /// the displays or the session's state change, or simply before each refresh(): a call that
    /// changes nothing restarts no timer, and does not allocate (keep the optional: an
    /// Expectation passed bare is copied into a temporary one).
    void expect(const std::optional<Expectation>& expectation, const session::Displays& displays,
                std::uint64_t nowMs);

    /// Brings rows(), the order and summary() up to `nowMs`. Once per view refresh (4 times a
    /// second is plenty); the frames between are only decoded.
    void refresh(std::uint64_t nowMs);

    /// Forgets every frame, value and count (the bus was reconnected); an expectation stays, and
    /// missing displays are counted from `nowMs`.
    void reset(std::uint64_t nowMs) noexcept;

    /// As of the last refresh(), in catalogue order.
    [[nodiscard]] const std::array<BusRow, kRowCount>& rows() const noexcept { return m_rows; }
    /// The row of display `id`, or nullptr for a control that is no parameter display.
    [[nodiscard]] const BusRow* row(model::ControlId id) const noexcept;
    /// Indices into rows(), mismatches first, then missing, match and not modelled; catalogue
    /// order within a state.
    [[nodiscard]] const std::array<std::uint8_t, kRowCount>& worstFirst() const noexcept {
        return m_worstFirst;
    }
    [[nodiscard]] const BusSummary& summary() const noexcept { return m_summary; }
    /// Display `id` as of the last refresh(); a control that is no parameter display is
    /// not modelled.
    [[nodiscard]] BusMark mark(model::ControlId id) const noexcept;

private:
    // Where a copy of a repeated field (a door, an alternator, a tell-tale slot) first differs
    // from the first copy in the last frame carrying it.
    struct CopyDifference {
        std::uint8_t copy = 0;  // 1-based; 0: all copies agree
        std::uint32_t raw = 0;
    };

    static constexpr std::size_t kRateSteps = 10;

    void checkCopies(std::size_t group, const fms::CanFrame& frame) noexcept;
    void observe(std::size_t row);
    [[nodiscard]] bool agrees(std::size_t row) const noexcept;
    void describeDifference(std::size_t row);
    void appendCode(std::size_t row, std::size_t field, std::uint32_t raw, std::string& out);
    void updateRow(std::size_t row, std::uint64_t nowMs);
    void summarise(std::uint64_t nowMs) noexcept;

    fms::Decoder m_decoder;
    std::array<CopyDifference, fms::kFieldCount> m_copies{};
    std::uint64_t m_frames = 0;
    std::uint64_t m_otherSenders = 0;
    std::array<std::uint32_t, kRateSteps> m_stepFrames{};
    std::array<std::uint64_t, kRateSteps> m_stepOf{};

    bool m_expecting = false;
    std::uint64_t m_sinceMs = 0;  // when the expectation began, or the bus was reset
    Expectation m_expectation;
    std::array<std::uint32_t, fms::kFieldCount> m_expectedRaw{};
    std::array<bool, fms::kFieldCount> m_sent{};
    std::array<DisplayValue, kRowCount> m_shown{};
    std::array<std::uint64_t, kRowCount> m_changedMs{};
    std::uint64_t m_clockAtMs = 0;  // when m_expectation.clock was last given

    std::array<BusRow, kRowCount> m_rows{};
    std::array<std::uint8_t, kRowCount> m_worstFirst{};
    BusSummary m_summary;
    model::TextValue m_scratch;
};

}  // namespace orvale::bus
