#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/control_ids.h"
#include "model/parameter_model.h"

namespace orvale::model {

/// Length of the VIN buffer: 17 VIN characters and the "*" delimiter.
inline constexpr std::size_t kVinBufferLength = 18;

/// The composed Vehicle Identification Number. One instance lives for the program's whole run;
/// every evaluation rewrites characters 11 to 16 and never touches the others.
struct VinBuffer {
    std::array<char, kVinBufferLength> chars{'1', 'M', '8', 'G', 'D', 'M', '9', 'A', 'X',
                                             'K', 'P', '0', '4', '2', '7', '8', '8', '*'};

    /// All 18 characters.
    std::string_view text() const noexcept { return {chars.data(), chars.size()}; }
};

/// What the presentation reads from the window besides the position and the product ID.
/// The views need only live for the call.
struct PresentationInputs {
    std::string_view productText;    ///< model name shown in the Product ID box (1000)
    std::uint32_t serialNumber = 0;  ///< Serial Number box (1006)
    std::string_view vinStyleText;   ///< VIN Style box (1096): "Variable", "Fixed" or a placeholder
    std::string_view clockText;      ///< device time of day "hh:mm:ss"; empty until first received
};

/// Value for one numeric display: engineering units, as the widget receives it.
struct NumericValue {
    ControlId id = 0;
    double value = 0.0;
};

/// State for one LED.
struct LedValue {
    ControlId id = 0;
    bool lit = false;
};

/// Text for one read-only box, held by value so that a copied or reused Presentation never
/// refers to storage it does not own. `isWritten()` false means: leave the box as it is (only
/// the date and time box does this, before any clock text has arrived).
class TextValue {
public:
    /// Longest text a box can receive; longer input is cut. The longest text composed in
    /// practice is the date and time, 11 characters plus a clock text of at most 11.
    static constexpr std::size_t kCapacity = 47;

    ControlId id() const noexcept { return m_id; }
    bool isWritten() const noexcept { return m_written; }
    std::string_view text() const noexcept { return {m_chars.data(), m_size}; }

    /// Resets to "not written", empty, addressed to `controlId`.
    void reset(ControlId controlId) noexcept;
    /// Marks the box written with `text` (cut at kCapacity).
    void assign(std::string_view text) noexcept;
    /// Appends to a written text (cut at kCapacity).
    void append(std::string_view text) noexcept;

private:
    ControlId m_id = 0;
    bool m_written = false;
    std::uint8_t m_size = 0;
    std::array<char, kCapacity> m_chars{};
};

/// Everything one evaluation writes to the window, keyed by control ID. Element i of each array
/// belongs to kNumericDisplays[i], kLeds[i] and kTextDisplays[i] respectively, so the window
/// writes it with one loop per kind. Holds no pointers: safe to copy and to reuse.
struct Presentation {
    std::array<NumericValue, kNumericDisplayCount> numbers{};
    std::array<LedValue, kLedCount> leds{};
    std::array<TextValue, kTextDisplayCount> texts{};

    /// The entry for `id`, or nullptr when `id` is not a display of that kind.
    const NumericValue* findNumber(ControlId id) const noexcept;
    const LedValue* findLed(ControlId id) const noexcept;
    const TextValue* findText(ControlId id) const noexcept;
};

/// Turns the raw set of one evaluation into what the window shows and rewrites characters 11 to
/// 16 of `vin`. `position` and `productId` are those that `raw` was computed from. Every element
/// of `out` is overwritten; nothing of a previous content of `out` is read.
/// Does not allocate.
void present(const RawParameters& raw, std::uint8_t position, std::uint8_t productId,
             const PresentationInputs& inputs, VinBuffer& vin, Presentation& out) noexcept;

/// The FMS software versions a model reports ("04.04" for "Quennet Duo Plus"): the Plus models
/// only, by the model name the window shows; " " for any other text.
[[nodiscard]] std::string_view swVersionFor(std::string_view productText) noexcept;

/// Writes into `box` the text a status box shows for the code its bus field carries: "011=Drive"
/// for code 3 in a driver working state box, "0B0101" for retarder torque mode 5 (its low 4 bits),
/// "0B101" for cruise control state 5, "0x04\n" for fuel type 4, "75" for gear byte 200,
/// "park" for 251 and "neutral" for 125. Returns false, with the box written empty, for a code
/// the box has no text for, and for a display that shows no status code (numbers, LEDs, VIN,
/// driver IDs, SW version, date and time). present() writes its status boxes through this.
/// Does not allocate.
bool writeStatusText(ControlId id, std::uint32_t code, TextValue& box) noexcept;

/// One evaluation of the parameter model: computeRawParameters() followed by present().
void evaluate(std::uint8_t position, std::uint8_t productId, const PresentationInputs& inputs,
              VinBuffer& vin, Presentation& out) noexcept;

}  // namespace orvale::model
