#include "ui/control_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/ci_slider_x.h"
#include "controls/read_only_box.h"

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

QWidget* makeControl(const ControlSpec& entry, QWidget* parent) {
    const QString label = fromView(entry.label);
    switch (entry.kind) {
        case ControlKind::ReadOnlyEdit: {
            auto* box = new controls::ReadOnlyBox(parent);
            box->setAlignment(Qt::AlignCenter);
            return box;
        }
        case ControlKind::NumericDisplay: {
            auto* display = new controls::CiAnalogDisplayX(parent);
            display->setUnitsText(fromView(entry.units));
            if (entry.decimals != kDefaultDecimals) display->setPrecision(entry.decimals);
            return display;
        }
        case ControlKind::Led:
            return new controls::CiLedRectangleX(label, parent);
        case ControlKind::Slider:
            return new controls::CiSliderX(parent);
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(label, parent);
            button->setDefault(entry.kind == ControlKind::DefaultPushButton);
            return button;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(label, parent);
        case ControlKind::DropDownList: {
            auto* list = new QComboBox(parent);
            list->setEditable(false);
            list->addItems(portNames());
            // The catalogue's height is that of the open list, in rows of about 8 units.
            list->setMaxVisibleItems(std::max(1, (entry.box.height - kClosedDropDownHeight) / 8));
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
        const GroupSpec& entry = groupSpecs[i];
        QGroupBox* frame = makeFrame(parent, fromView(entry.caption),
                                     captionAlignment(entry.alignment), units.toPixels(entry.box));
        frame->setObjectName(groupFrameName(i));
    }
    for (const ControlSpec& entry : controls()) {
        if (!hasLabelFrame(entry.kind)) continue;
        QGroupBox* frame = makeFrame(parent, fromView(entry.label), Qt::AlignHCenter,
                                     units.toPixels(labelFrame(entry.box)));
        frame->setObjectName(labelFrameName(entry.id));
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
    for (const ControlSpec& entry : controls()) {
        QWidget* widget = makeControl(entry, parent);
        if (widget == nullptr) continue;
        widget->setObjectName(controlName(entry.id));
        widget->setAccessibleName(accessibleNameOf(entry));
        widget->setGeometry(units.toPixels(occupiedBox(entry)));
        widget->setEnabled(entry.enabled);
        if (!entry.visible) widget->hide();
        built.emplace(entry.id, widget);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto buddy = built.find(textSpecs[i].buddyId);
        if (buddy != built.end()) texts[i]->setBuddy(buddy->second);
    }
    return built;
}

}  // namespace orvale::ui
