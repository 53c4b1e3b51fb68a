#pragma once

#include <string>

namespace orvale::model {

/// Largest number of decimals a numeric display shows.
inline constexpr int kMaxDecimals = 15;
/// Decimals of a numeric display that was given none: one, which shows every value of the
/// 0.4 %, 0.5 L, 0.5 kg and 0.1 kPa parameters exactly.
inline constexpr int kDefaultDisplayDecimals = 1;

/// The decimals a display shows for the catalogue's `decimals`, where a negative value keeps the
/// display's own default.
[[nodiscard]] constexpr int shownDecimals(int decimals) noexcept {
    return decimals < 0 ? kDefaultDisplayDecimals : decimals;
}

/// Appends the digits a numeric display shows for `value` at `decimals` (clamped to 0 to
/// kMaxDecimals): fixed notation, rounded to the nearest; a value that rounds to zero shows no
/// sign ("-0.0" would read as a negative zero on an instrument); "nan", "inf" and "-inf" for
/// values that are not numbers. The window's displays and the recording use this one function,
/// so a recorded value reads exactly as the display showed it.
void appendFixed(std::string& out, double value, int decimals);

/// The same as a new string.
[[nodiscard]] std::string formatFixed(double value, int decimals);

}  // namespace orvale::model
