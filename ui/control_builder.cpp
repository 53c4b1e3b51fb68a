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
#include "ui/shown_texts.h"

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
    return fromView(withoutMnemonics(control.label));
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
    std::vector<Placement> placements;
    return buildControls(parent, units, placements);
}

ControlMap buildControls(QWidget* parent, const DialogUnits& units,
                         std::vector<Placement>& placements) {
    using Role = Placement::Role;
    const auto groupSpecs = groups();
    for (std::size_t i = 0; i < groupSpecs.size(); ++i) {
        const GroupSpec& entry = groupSpecs[i];
        const QString caption = fromView(entry.caption);
        QGroupBox* frame = makeFrame(parent, caption, captionAlignment(entry.alignment), QRect());
        frame->setObjectName(groupFrameName(i));
        placements.push_back({frame, Role::Group, entry.box, {}, entry.id, {caption}});
    }
    for (const ControlSpec& entry : controls()) {
        if (!hasLabelFrame(entry.kind)) continue;
        const QString label = fromView(entry.label);
        QGroupBox* frame = makeFrame(parent, label, Qt::AlignHCenter, QRect());
        frame->setObjectName(labelFrameName(entry.id));
        placements.push_back(
            {frame, Role::LabelFrame, labelFrame(entry.box), entry.kind, entry.group, {label}});
    }
    const auto textSpecs = staticTexts();
    std::vector<QLabel*> texts;
    for (std::size_t i = 0; i < textSpecs.size(); ++i) {
        const QString shown = fromView(textSpecs[i].text);
        auto* text = new QLabel(shown, parent);
        text->setObjectName(staticTextName(i));
        placements.push_back(
            {text, Role::StaticText, textSpecs[i].box, {}, textSpecs[i].group, {shown}});
        texts.push_back(text);
    }

    ControlMap built;
    for (const ControlSpec& entry : controls()) {
        QWidget* widget = makeControl(entry, parent);
        if (widget == nullptr) continue;
        widget->setObjectName(controlName(entry.id));
        widget->setAccessibleName(accessibleNameOf(entry));
        widget->setEnabled(entry.enabled);
        if (!entry.visible) widget->hide();
        QStringList shown;
        for (const std::string& text : textsShownBy(entry)) shown.append(fromView(text));
        placements.push_back(
            {widget, Role::Control, occupiedBox(entry), entry.kind, entry.group, shown});
        built.emplace(entry.id, widget);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto buddy = built.find(textSpecs[i].buddyId);
        if (buddy != built.end()) texts[i]->setBuddy(buddy->second);
    }
    placeControls(placements, units);
    return built;
}

void placeControls(const std::vector<Placement>& placements, const DialogUnits& units,
                   QPoint origin) {
    for (const Placement& placed : placements) {
        QRect geometry = units.toPixels(placed.box);
        if (placed.role == Placement::Role::StaticText) {
            // The axle note is longer than its box in most fonts; it runs on towards the edge
            // of its group rather than lose its end.
            const int wanted = placed.widget->sizeHint().width();
            if (wanted > geometry.width()) {
                const QRect groupBox = units.toPixels(group(placed.group).box);
                const int room =
                    groupBox.left() + groupBox.width() - units.toPixelsX(4) - geometry.left();
                geometry.setWidth(std::max(geometry.width(), std::min(wanted, room)));
            }
        }
        placed.widget->setGeometry(geometry.translated(origin));
    }
}

}  // namespace orvale::ui
