#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace orvale::ui {

namespace {

// value * numerator / denominator rounded half away from zero, as the platform's MulDiv does.
int mulDiv(int value, int numerator, int denominator) {
    const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    const std::int64_t half = denominator / 2;
    const std::int64_t rounded =
        product >= 0 ? (product + half) / denominator : (product - half) / denominator;
    return static_cast<int>(rounded);
}

int averageCharWidthOf(const QFontMetrics& metrics) {
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return (letters / 26 + 1) / 2;
}

}  // namespace

DialogUnits::DialogUnits(const QFontMetrics& metrics)
    : DialogUnits(averageCharWidthOf(metrics), metrics.height()) {}

DialogUnits::DialogUnits(int averageCharWidth, int charHeight)
    : m_charWidth(std::max(1, averageCharWidth)), m_charHeight(std::max(1, charHeight)) {}

DialogUnits DialogUnits::scaled(double scale) const {
    DialogUnits units(m_charWidth, m_charHeight);
    units.m_scale = scale > 0 ? scale : 1.0;
    return units;
}

int DialogUnits::toPixelsX(int x) const {
    if (m_scale == 1.0) return mulDiv(x, m_charWidth, 4);
    return static_cast<int>(std::lround(x * m_charWidth * m_scale / 4.0));
}

int DialogUnits::toPixelsY(int y) const {
    if (m_scale == 1.0) return mulDiv(y, m_charHeight, 8);
    return static_cast<int>(std::lround(y * m_charHeight * m_scale / 8.0));
}

QRect DialogUnits::toPixels(const DluRect& box) const {
    return {toPixelsX(box.x), toPixelsY(box.y), toPixelsX(box.width), toPixelsY(box.height)};
}

QSize DialogUnits::toPixels(const QSize& size) const {
    return {toPixelsX(size.width()), toPixelsY(size.height())};
}

}  // namespace orvale::ui
