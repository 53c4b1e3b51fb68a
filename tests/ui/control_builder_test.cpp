#include "ui/control_builder.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <map>
#include <memory>
#include <string>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_led_rectangle_x.h"
#include "controls/ci_slider_x.h"
#include "controls/read_only_box.h"
#include "widget_test_support.h"

namespace orvale::ui {
namespace {

using controls::CiAnalogDisplayX;
using controls::CiLedRectangleX;
using controls::CiSliderX;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The main window's controls built on a plain widget of the window's size, in the dialog font.
class BuiltWindow : public ::testing::Test {
protected:
    BuiltWindow() : units(QFontMetrics(dialogFont())) {
        root.setFont(dialogFont());
        root.resize(units.toPixels(QSize(kWindowWidthDu, kWindowHeightDu)));
        built = buildControls(&root, units);
    }

    static QFont dialogFont() {
        return QFont(QString::fromLatin1(kWindowFontFamily), kWindowFontPointSize);
    }

    QWidget root;
    DialogUnits units;
    ControlMap built;
};

TEST(AccessibleNameOf, DropsMnemonicMarkers) {
    const auto entry = [](std::string_view label, std::string_view unlabelledName = {}) {
        ControlSpec control;
        control.label = label;
        control.unlabelledName = unlabelledName;
        return control;
    };
    const std::pair<ControlSpec, const char*> table[] = {
        {entry("C&onnect"), "Connect"},
        {entry("E&xit"), "Exit"},
        {entry("&Quiet"), "Quiet"},
        {entry("Salt && Pepper"), "Salt & Pepper"},
        {entry("Engine % Load"), "Engine % Load"},
        {entry("", "Port"), "Port"},
    };
    for (const auto& [control, name] : table)
        EXPECT_EQ(accessibleNameOf(control), QString::fromUtf8(name));
}

TEST_F(BuiltWindow, EveryControlButTheSerialControlHasItsWidget) {
    for (const ControlSpec& control : controls()) {
        const std::string id = std::to_string(control.id);
        QWidget* widget = built.count(control.id) != 0 ? built.at(control.id) : nullptr;
        if (control.kind == ControlKind::SerialControl) {
            EXPECT_EQ(widget, nullptr);
            continue;
        }
        ASSERT_NE(widget, nullptr) << id;
        EXPECT_EQ(widget->parentWidget(), &root) << id;
        EXPECT_EQ(widget->geometry(), units.toPixels(occupiedBox(control))) << id;
        EXPECT_EQ(widget->isEnabled(), control.enabled) << id;
        EXPECT_FALSE(widget->isHidden()) << id;
        switch (control.kind) {
            case ControlKind::ReadOnlyEdit: {
                auto* box = qobject_cast<controls::ReadOnlyBox*>(widget);
                ASSERT_NE(box, nullptr) << id;
                EXPECT_EQ(box->alignment(), Qt::AlignCenter) << id;
                break;
            }
            case ControlKind::NumericDisplay: {
                auto* display = qobject_cast<CiAnalogDisplayX*>(widget);
                ASSERT_NE(display, nullptr) << id;
                EXPECT_EQ(display->UnitsText(), qs(control.units)) << id;
                EXPECT_EQ(display->Precision(), control.decimals == kDefaultDecimals
                                                    ? CiAnalogDisplayX::kDefaultPrecision
                                                    : control.decimals)
                    << id;
                break;
            }
            case ControlKind::Led: {
                auto* led = qobject_cast<CiLedRectangleX*>(widget);
                ASSERT_NE(led, nullptr) << id;
                EXPECT_EQ(led->CenterLabelText(), qs(control.label)) << id;
                EXPECT_FALSE(led->Active()) << id;
                break;
            }
            case ControlKind::Slider:
                EXPECT_NE(qobject_cast<CiSliderX*>(widget), nullptr) << id;
                break;
            case ControlKind::PushButton:
            case ControlKind::DefaultPushButton: {
                auto* button = qobject_cast<QPushButton*>(widget);
                ASSERT_NE(button, nullptr) << id;
                EXPECT_EQ(button->text(), qs(control.label)) << id;
                EXPECT_EQ(button->isDefault(), control.kind == ControlKind::DefaultPushButton)
                    << id;
                break;
            }
            case ControlKind::CheckBox: {
                auto* box = qobject_cast<QCheckBox*>(widget);
                ASSERT_NE(box, nullptr) << id;
                EXPECT_EQ(box->text(), qs(control.label)) << id;
                EXPECT_FALSE(box->isChecked()) << id;
                break;
            }
            case ControlKind::DropDownList:
                EXPECT_NE(qobject_cast<QComboBox*>(widget), nullptr) << id;
                break;
            case ControlKind::SerialControl:
                break;
        }
    }
    EXPECT_EQ(built.size(), controls().size() - 1);
}

TEST_F(BuiltWindow, PortListOffersCom1ToCom50) {
    auto* list = controlAs<QComboBox>(built, 1001);
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(list->isEditable());
    ASSERT_EQ(list->count(), 50);
    for (int i = 0; i < list->count(); ++i)
        EXPECT_EQ(list->itemText(i), QStringLiteral("COM") + QString::number(i + 1));
    EXPECT_EQ(list->currentText(), QStringLiteral("COM1"));
    auto* port = root.findChild<QLabel*>(staticTextName(0));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->text(), QStringLiteral("Port:"));
    EXPECT_EQ(port->buddy(), list);
}

TEST_F(BuiltWindow, EveryControlIsAccessibleByItsLabel) {
    const std::map<int, QString> named = {
        {1, QStringLiteral("Exit")},
        {1002, QStringLiteral("Connect")},
        {1010, QStringLiteral("Dynamic")},
        {1001, QStringLiteral("Port")},
        {1007, QStringLiteral("Control position")},
        {1022, QStringLiteral("Engine speed")},
        {1000, QStringLiteral("Product ID")},
        {1014, QStringLiteral("Cruise")},
        {1053, QStringLiteral("Ambient Air Temperature")},
    };
    for (const auto& [id, widget] : built) {
        const QString name = widget->accessibleName();
        EXPECT_FALSE(name.isEmpty()) << id;
        EXPECT_FALSE(name.contains(QLatin1Char('&'))) << id;
        EXPECT_EQ(name, accessibleNameOf(*findControl(id))) << id;
        if (const auto expected = named.find(id); expected != named.end()) {
            EXPECT_EQ(name, expected->second) << id;
        }
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(accessible, nullptr) << id;
        if (qobject_cast<QComboBox*>(widget) == nullptr) {
            EXPECT_EQ(accessible->text(QAccessible::Name), name) << id;
        }
    }

    // Qt names a list box after its current entry on some platforms and takes its label from
    // the "Port:" text it is the buddy of.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(built.at(1001));
    bool labelled = false;
    for (const auto& [other, relation] : list->relations(QAccessible::Label)) {
        if (other->text(QAccessible::Name) == QStringLiteral("Port:")) labelled = true;
    }
    EXPECT_TRUE(labelled);
}

TEST_F(BuiltWindow, LabelFramesAndGroupsCarryTheirCaptionsBehindTheControls) {
    for (const ControlSpec& control : controls()) {
        auto* frame = root.findChild<QGroupBox*>(labelFrameName(control.id));
        if (!hasLabelFrame(control.kind)) {
            EXPECT_EQ(frame, nullptr) << control.id;
            continue;
        }
        ASSERT_NE(frame, nullptr) << control.id;
        EXPECT_EQ(frame->title(), qs(control.label)) << control.id;
        EXPECT_EQ(frame->alignment(), static_cast<int>(Qt::AlignHCenter)) << control.id;
        EXPECT_EQ(frame->geometry(), units.toPixels(labelFrame(control.box))) << control.id;
        // Stacked below its box, so the frame never paints over it.
        const QObjectList& children = root.children();
        EXPECT_LT(children.indexOf(frame), children.indexOf(built.at(control.id))) << control.id;
    }
    for (std::size_t i = 0; i < groups().size(); ++i) {
        auto* frame = root.findChild<QGroupBox*>(groupFrameName(i));
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->title(), qs(groups()[i].caption));
        EXPECT_EQ(frame->geometry(), units.toPixels(groups()[i].box));
    }
}

TEST_F(BuiltWindow, RenderedPanelKeepsControlsApartAndInsideTheWindow) {
    // In pixels too, after each edge has been rounded on its own.
    for (const auto& [idA, a] : built) {
        EXPECT_TRUE(root.rect().contains(a->geometry())) << idA;
        for (const auto& [idB, b] : built) {
            if (idA < idB) {
                EXPECT_FALSE(a->geometry().intersects(b->geometry())) << idA << " " << idB;
            }
        }
    }

    for (std::size_t i = 0; i < staticTexts().size(); ++i) {
        auto* text = root.findChild<QLabel*>(staticTextName(i));
        ASSERT_NE(text, nullptr);
        EXPECT_LE(text->sizeHint().width(), text->width())
            << "cut short: " << staticTexts()[i].text;
        EXPECT_TRUE(units.toPixels(group(staticTexts()[i].group).box).contains(text->geometry()));
    }

    ASSERT_TRUE(test::showExposed(root));
    const QImage image = root.grab().toImage();
    ASSERT_EQ(image.size(), root.size() * image.devicePixelRatio());
    const QString path = QDir(QStringLiteral(ORVALE_UI_TEST_OUTPUT_DIR))
                             .filePath(QStringLiteral("main_window_controls.png"));
    EXPECT_TRUE(image.save(path)) << path.toStdString();

    // The displays' dark faces show where the catalogue put them.
    const QRect speed = built.at(1022)->geometry();
    const QColor face = image.pixelColor(speed.left() + 4, speed.top() + 3);
    EXPECT_LT(face.lightness(), 40);
    EXPECT_GT(image.pixelColor(speed.left() - 2, speed.top() + 3).lightness(), 120);
}

}  // namespace
}  // namespace orvale::ui
