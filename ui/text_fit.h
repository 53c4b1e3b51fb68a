#pragma once

#include <QFont>
#include <QStringList>

#include "ui/control_catalogue.h"

class QGroupBox;
class QWidget;

namespace orvale::ui {

/// What the window may do to a control's font to make its texts fit: a condensed face first,
/// then smaller sizes down to this share of the window's font, never below kSmallestPointSize.
inline constexpr double kSmallestFontShare = 0.8;
/// No text is made smaller than this, in points: below it the text is shortened instead.
inline constexpr double kSmallestPointSize = 6.0;

/// True when `text`, drawn by `widget` (a control of `kind` as the control builder makes it) in
/// `font`, lies wholly inside the control: measured the way the control draws it.
[[nodiscard]] bool textFits(const QWidget& widget, ControlKind kind, const QString& text,
                            const QFont& font);
/// True when `caption` drawn as the title of `frame` in `font` lies inside the frame.
[[nodiscard]] bool captionFits(const QGroupBox& frame, const QString& caption, const QFont& font);
/// True when `text` drawn by a static label of the window's width `room` fits.
[[nodiscard]] bool labelFits(int room, const QString& text, const QFont& font);

/// The fonts tried, in order, to make texts fit: `base`, its condensed face, then both at
/// smaller sizes down to kSmallestFontShare of `base` (but not below kSmallestPointSize).
[[nodiscard]] QList<QFont> fittingFonts(const QFont& base);

/// The widest of `texts` in `font` (at most `count` of them), widest first: a font that fits
/// these fits the rest.
[[nodiscard]] QStringList widestTexts(const QStringList& texts, const QFont& font, int count = 3);

}  // namespace orvale::ui
