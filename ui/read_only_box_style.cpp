#include "ui/read_only_box_style.h"

#include <QPainter>
#include <QStyleOption>

namespace orvale::ui {

void ReadOnlyBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                     QPainter* painter, const QWidget* widget) const {
    if (element != PE_PanelLineEdit && element != PE_FrameLineEdit) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QRect r = option->rect;
    if (element == PE_PanelLineEdit) {
        painter->fillRect(r, option->palette.brush(QPalette::Base));
    }
    // Sunken: dark above and left, light below and right.
    painter->setPen(option->palette.color(QPalette::Dark));
    painter->drawLine(r.topLeft(), r.topRight());
    painter->drawLine(r.topLeft(), r.bottomLeft());
    painter->setPen(option->palette.color(QPalette::Light));
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->drawLine(r.topRight(), r.bottomRight());
}

int ReadOnlyBoxStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                  const QWidget* widget) const {
    if (metric == PM_DefaultFrameWidth) return 1;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

}  // namespace orvale::ui
