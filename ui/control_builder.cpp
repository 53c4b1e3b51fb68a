#include "ui/control_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/ci_slider_x.h"

#include <algorithm>
#include <vector>

namespace orvale::ui {

namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

Qt::Alignment captionAlignment(CaptionAlignment alignment) {
    return alignment == CaptionAlignment::Left ? Qt::AlignLeft : Qt::AlignHCenter;
}

QGroupBox* makeFrame(QWidget* parent, const QString& caption, Qt::Alignment alignment,
                     const QRect& geometry) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setAlignment(static_cast<int>(alignment.toInt()));
    frame->setGeometry(geometry);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

QWidget* makeControl(const ControlSpec& spec, QWidget* parent) {
    const QString label = fromView(spec.label);
    switch (spec.kind) {
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(parent);
            edit->setReadOnly(true);
            edit->setAlignment(Qt::AlignCenter);
            return edit;
        }
        case ControlKind::NumericDisplay: {
            auto* display = new controls::CiAnalogDisplayX(parent);
            display->setUnitsText(fromView(spec.units));
            if (spec.decimals != kDefaultDecimals) display->setPrecision(spec.decimals);
            return display;
        }
        case ControlKind::Led:
            return new controls::CiLedRectangleX(label, parent);
        case ControlKind::Slider:
            return new controls::CiSliderX(parent);
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(label, parent);
            button->setDefault(spec.kind == ControlKind::DefaultPushButton);
            return button;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(label, parent);
        case ControlKind::DropDownList: {
            auto* list = new QComboBox(parent);
            list->setEditable(false);
            list->addItems(portNames());
            // The catalogue's height is that of the open list, in rows of about 8 units.
            list->setMaxVisibleItems(std::max(1, (spec.box.height - kClosedDropDownHeight) / 8));
            return list;
        }
        case ControlKind::SerialControl:
            return nullptr;
    }
    return nullptr;
}

}  // namespace

QString accessibleNameOf(const ControlSpec& control) {
    if (control.label.empty()) return fromView(control.unlabelledName);
    const QString label = fromView(control.label);
    QString name;
    name.reserve(label.size());
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label.at(i) == QLatin1Char('&')) {
            if (i + 1 < label.size() && label.at(i + 1) == QLatin1Char('&')) {
                name.append(QLatin1Char('&'));
                ++i;
            }
            continue;
        }
        name.append(label.at(i));
    }
    return name;
}

QStringList portNames() {
    QStringList names;
    names.reserve(kPortCount);
    for (int port = 1; port <= kPortCount; ++port)
        names.append(QStringLiteral("COM") + QString::number(port));
    return names;
}

QString labelFrameName(int id) { return QStringLiteral("labelFrame") + QString::number(id); }

QString groupFrameName(std::size_t index) {
    return QStringLiteral("group") + QString::number(index);
}

QString staticTextName(std::size_t index) {
    return QStringLiteral("staticText") + QString::number(index);
}

QString controlName(int id) { return QStringLiteral("control") + QString::number(id); }

ControlMap buildControls(QWidget* parent, const DialogUnits& units) {
    const auto groupSpecs = groups();
    for (std::size_t i = 0; i < groupSpecs.size(); ++i) {
        const GroupSpec& spec = groupSpecs[i];
        QGroupBox* frame = makeFrame(parent, fromView(spec.caption),
                                     captionAlignment(spec.alignment), units.toPixels(spec.box));
        frame->setObjectName(groupFrameName(i));
    }
    for (const ControlSpec& spec : controls()) {
        if (!hasLabelFrame(spec.kind)) continue;
        QGroupBox* frame = makeFrame(parent, fromView(spec.label), Qt::AlignHCenter,
                                     units.toPixels(labelFrame(spec.box)));
        frame->setObjectName(labelFrameName(spec.id));
    }
    const auto textSpecs = staticTexts();
    std::vector<QLabel*> texts;
    for (std::size_t i = 0; i < textSpecs.size(); ++i) {
        auto* text = new QLabel(fromView(textSpecs[i].text), parent);
        text->setObjectName(staticTextName(i));
        // The axle note is longer than its box in most fonts; it runs on towards the edge of
        // its group rather than lose its end.
        QRect geometry = units.toPixels(textSpecs[i].box);
        const int wanted = text->sizeHint().width();
        if (wanted > geometry.width()) {
            const QRect groupBox = units.toPixels(group(textSpecs[i].group).box);
            const int room =
                groupBox.left() + groupBox.width() - units.toPixelsX(4) - geometry.left();
            geometry.setWidth(std::max(geometry.width(), std::min(wanted, room)));
        }
        text->setGeometry(geometry);
        texts.push_back(text);
    }

    ControlMap built;
    for (const ControlSpec& spec : controls()) {
        QWidget* widget = makeControl(spec, parent);
        if (widget == nullptr) continue;
        widget->setObjectName(controlName(spec.id));
        widget->setAccessibleName(accessibleNameOf(spec));
        widget->setGeometry(units.toPixels(occupiedBox(spec)));
        widget->setEnabled(spec.enabled);
        if (!spec.visible) widget->hide();
        built.emplace(spec.id, widget);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto buddy = built.find(textSpecs[i].buddyId);
        if (buddy != built.end()) texts[i]->setBuddy(buddy->second);
    }
    return built;
}

}  // namespace orvale::ui
