#pragma once

#include <QProxyStyle>

namespace orvale::ui {

/// The look of the window's read-only boxes: a white field in a plain sunken border, drawn with
/// a few straight lines. The platform style's rounded, antialiased frame costs several times
/// more, and the parameter boxes are redrawn with every screen refresh while a line is busy.
class ReadOnlyBoxStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;
};

}  // namespace orvale::ui
