#pragma once

#include <QColor>
#include <QPalette>

namespace orvale::ui {

/// The contrast ratio of two colours as accessibility guidelines measure it: 1 (none) to 21
/// (black on white), from their relative luminance.
[[nodiscard]] double contrastRatio(const QColor& a, const QColor& b);

/// Least contrast of a text against the window behind it: enabled, and disabled (a disabled
/// control must still say what it is).
inline constexpr double kReadableContrast = 4.5;
inline constexpr double kReadableDisabledContrast = 3.0;

/// `palette` with every text role (window text, text, button text) brought to a readable
/// contrast against its background where the desktop's palette falls short, as dark palettes
/// often do for disabled text: the colour is moved toward the enabled text's colour (or toward
/// black or white) just as far as it needs. Roles that are readable already are left alone.
[[nodiscard]] QPalette readablePalette(const QPalette& palette);

}  // namespace orvale::ui
