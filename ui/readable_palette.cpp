#include "ui/readable_palette.h"

#include <algorithm>
#include <cmath>

namespace orvale::ui {
namespace {

double channel(double value) {
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

QColor mix(const QColor& from, const QColor& to, double share) {
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    const auto blend = [share](double x, double y) { return x + (y - x) * share; };
    return QColor::fromRgbF(static_cast<float>(blend(a.redF(), b.redF())),
                            static_cast<float>(blend(a.greenF(), b.greenF())),
                            static_cast<float>(blend(a.blueF(), b.blueF())));
}

// `text` moved toward `target` in small steps until it reads against `background`.
QColor readable(const QColor& text, const QColor& background, const QColor& target, double least) {
    if (contrastRatio(text, background) >= least) return text;
    for (int step = 1; step <= 20; ++step) {
        const QColor tried = mix(text, target, step / 20.0);
        if (contrastRatio(tried, background) >= least) return tried;
    }
    return target;
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette readablePalette(const QPalette& palette) {
    QPalette adjusted = palette;
    const struct {
        QPalette::ColorRole text;
        QPalette::ColorRole background;
    } pairs[] = {{QPalette::WindowText, QPalette::Window},
                 {QPalette::Text, QPalette::Base},
                 {QPalette::ButtonText, QPalette::Button}};
    for (const auto& pair : pairs) {
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QColor background = palette.color(group, pair.background);
            const QColor text = palette.color(group, pair.text);
            const bool disabled = group == QPalette::Disabled;
            // Toward the enabled text's colour first; where that is not enough, toward black
            // or white, whichever the background is further from.
            const QColor enabled = palette.color(QPalette::Active, pair.text);
            const QColor extreme =
                luminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
            const double least = disabled ? kReadableDisabledContrast : kReadableContrast;
            QColor fixed = readable(text, background, disabled ? enabled : extreme, least);
            fixed = readable(fixed, background, extreme, least);
            if (fixed != text) adjusted.setColor(group, pair.text, fixed);
        }
    }
    return adjusted;
}

}  // namespace orvale::ui
