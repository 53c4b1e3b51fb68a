#include "ui/text_fit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <algorithm>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/read_only_box.h"

namespace orvale::ui {
namespace {

qreal widthOf(const QString& text, const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

QString withoutMnemonic(const QString& caption) {
    QString text = caption;
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(QLatin1Char('&'))
        .replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// The room the style gives a button's or check box's caption.
int contentsWidth(const QWidget& widget, QStyle::SubElement element, const QString& text) {
    QStyleOptionButton option;
    option.initFrom(&widget);
    option.text = text;
    return widget.style()->subElementRect(element, &option, &widget).width();
}

}  // namespace

bool textFits(const QWidget& widget, ControlKind kind, const QString& text, const QFont& font) {
    switch (kind) {
        case ControlKind::ReadOnlyEdit:
            return widthOf(text, font) <=
                   static_cast<const controls::ReadOnlyBox&>(widget).textRoom();
        case ControlKind::NumericDisplay: {
            QFont bold(font);
            bold.setBold(true);
            return widthOf(text, bold) <=
                   static_cast<const controls::CiAnalogDisplayX&>(widget).textRoom();
        }
        case ControlKind::Led:
            return widthOf(text, font) <=
                   static_cast<const controls::CiLedRectangleX&>(widget).textRoom();
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
            return widthOf(withoutMnemonic(text), font) <=
                   contentsWidth(widget, QStyle::SE_PushButtonContents, text);
        case ControlKind::CheckBox:
            return widthOf(withoutMnemonic(text), font) <=
                   contentsWidth(widget, QStyle::SE_CheckBoxContents, text);
        case ControlKind::DropDownList: {
            QStyleOptionComboBox option;
            option.initFrom(&widget);
            option.currentText = text;
            const QRect field = widget.style()->subControlRect(
                QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &widget);
            return widthOf(text, font) <= field.width();
        }
        case ControlKind::Slider:
        case ControlKind::SerialControl:
            return true;
    }
    return true;
}

bool captionFits(const QGroupBox& frame, const QString& caption, const QFont& font) {
    QStyleOptionGroupBox option;
    option.initFrom(&frame);
    option.fontMetrics = QFontMetrics(font);
    option.text = caption;
    option.textAlignment = frame.alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.lineWidth = 1;
    const QRect label = frame.style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                      QStyle::SC_GroupBoxLabel, &frame);
    // The style sizes the label to the caption; it must also leave the frame's corners.
    const QFontMetricsF metrics(font);
    return label.left() >= 0 && label.right() < frame.width() &&
           metrics.horizontalAdvance(withoutMnemonic(caption)) <= label.width() + 0.5;
}

bool labelFits(int room, const QString& text, const QFont& font) {
    return widthOf(text, font) <= room;
}

QList<QFont> fittingFonts(const QFont& base) {
    QList<QFont> fonts;
    const qreal size = base.pointSizeF();
    const qreal smallest = std::max(size * kSmallestFontShare, kSmallestPointSize);
    for (const qreal share : {1.0, 0.95, 0.9, 0.85, 0.8}) {
        const qreal points = size * share;
        if (points < smallest - 0.01 && share < 1.0) break;
        QFont plain(base);
        plain.setPointSizeF(points);
        fonts.append(plain);
        QFont condensed(plain);
        condensed.setStretch(QFont::SemiCondensed);
        fonts.append(condensed);
    }
    return fonts;
}

QStringList widestTexts(const QStringList& texts, const QFont& font, int count) {
    QList<std::pair<qreal, QString>> measured;
    measured.reserve(texts.size());
    for (const QString& text : texts) measured.append({widthOf(text, font), text});
    std::sort(measured.begin(), measured.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList widest;
    for (qsizetype i = 0; i < measured.size() && i < count; ++i) widest.append(measured[i].second);
    return widest;
}

}  // namespace orvale::ui
