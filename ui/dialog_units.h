#pragma once

#include <QRect>
#include <QSize>

#include "ui/control_catalogue.h"

class QFontMetrics;

namespace orvale::ui {

/// Converts dialog units to pixels the way the platform lays out dialog templates: a
/// horizontal unit is a quarter of the dialog font's average character width, a vertical unit
/// an eighth of its character height, each product rounded to the nearest pixel.
class DialogUnits {
public:
    /// Base units of a font: the average character width is the width of the 52 letters
    /// "A".."Z", "a".."z" divided by 52 and rounded; the character height is the font height.
    explicit DialogUnits(const QFontMetrics& metrics);
    /// Base units given directly, in pixels; both at least 1.
    DialogUnits(int averageCharWidth, int charHeight);

    [[nodiscard]] int averageCharWidth() const { return m_charWidth; }
    [[nodiscard]] int charHeight() const { return m_charHeight; }

    /// The same units for the whole layout drawn `scale` times as large (a window resized
    /// from the size its font gives); 1 gives the platform's own conversion.
    [[nodiscard]] DialogUnits scaled(double scale) const;
    [[nodiscard]] double scale() const { return m_scale; }

    /// x * averageCharWidth / 4 (times the scale), rounded.
    [[nodiscard]] int toPixelsX(int x) const;
    /// y * charHeight / 8 (times the scale), rounded.
    [[nodiscard]] int toPixelsY(int y) const;
    /// Each of x, y, width and height converted on its own, as templates are.
    [[nodiscard]] QRect toPixels(const DluRect& box) const;
    /// A size in dialog units (the window's 718 x 463) in pixels.
    [[nodiscard]] QSize toPixels(const QSize& size) const;

private:
    int m_charWidth;
    int m_charHeight;
    double m_scale = 1.0;
};

}  // namespace orvale::ui
