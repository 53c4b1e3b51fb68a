#include "controls/ci_analog_display_x.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QImage>
#include <QWidget>

#include <limits>

#include "widget_test_support.h"

namespace orvale::controls {
namespace {

struct FormatCase {
    double value;
    int decimals;
    const char* units;
    const char* text;
};

class DisplayFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DisplayFormat, ShowsValueAtItsDecimalsFollowedByItsUnits) {
    const FormatCase& c = GetParam();
    CiAnalogDisplayX display;
    display.setUnitsText(QString::fromUtf8(c.units));
    if (c.decimals >= 0) display.setPrecision(c.decimals);
    display.setValue(c.value);
    EXPECT_EQ(display.text(), QString::fromUtf8(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Values, DisplayFormat,
    ::testing::Values(
        FormatCase{12.5, 3, " km/hr", "12.500 km/hr"},
        FormatCase{6425.5, 3, " rpm", "6425.500 rpm"}, FormatCase{-273, 5, " °C", "-273.00000 °C"},
        FormatCase{1734.96875, 5, " °C", "1734.96875 °C"}, FormatCase{-125, 0, " %", "-125 %"},
        FormatCase{21055406075.0, 0, " m", "21055406075 m"},
        FormatCase{-31.374, 3, " rad", "-31.374 rad"}, FormatCase{128.51, 4, " %", "128.5100 %"},
        // The single-precision products of the 0.4 % parameters at the default decimals.
        FormatCase{0.800000011920929, -1, " %", "0.8 %"},
        FormatCase{79.5999984741211, -1, " %", "79.6 %"},
        FormatCase{2105540607.5, -1, " L", "2105540607.5 L"},
        FormatCase{32127.5, -1, " kg", "32127.5 kg"}, FormatCase{5140.4, -1, " kPa", "5140.4 kPa"},
        // Halves round away from zero.
        FormatCase{0.125, 2, " L/hr", "0.13 L/hr"}, FormatCase{-0.125, 2, " L/hr", "-0.13 L/hr"},
        // A zero that lost its digits to rounding carries no sign.
        FormatCase{-0.04, 1, " %", "0.0 %"}, FormatCase{-0.06, 1, " %", "-0.1 %"}));

TEST(CiAnalogDisplayX, StartsAtZeroWithDefaultDecimalsAndFollowsPropertyChanges) {
    CiAnalogDisplayX display;
    EXPECT_EQ(display.Precision(), CiAnalogDisplayX::kDefaultPrecision);
    EXPECT_EQ(display.text(), QStringLiteral("0.0"));

    display.setValue(57.25);
    display.setUnitsText(QStringLiteral(" hr"));
    EXPECT_EQ(display.text(), QStringLiteral("57.3 hr"));
    display.setPrecision(2);
    EXPECT_EQ(display.text(), QStringLiteral("57.25 hr"));
    display.setPrecision(-3);
    EXPECT_EQ(display.Precision(), 0);
    display.setPrecision(99);
    EXPECT_EQ(display.Precision(), CiAnalogDisplayX::kMaxPrecision);
}

TEST(CiAnalogDisplayX, RepaintsOnlyWhenTheShownTextChanges) {
    QWidget window;
    auto* display = new CiAnalogDisplayX(&window);
    display->setGeometry(0, 0, 150, 24);
    display->setUnitsText(QStringLiteral(" %"));
    display->setValue(0.8);
    ASSERT_TRUE(ui::test::showExposed(window));
    ui::test::PaintCounter paints(display);

    display->setValue(0.8);                // same value
    display->setValue(0.800000011920929);  // same text at one decimal
    display->setUnitsText(QStringLiteral(" %"));
    display->setPrecision(1);
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 0);
    EXPECT_EQ(display->Value(), 0.800000011920929);

    // Several writes between two paints are painted once.
    display->setValue(1.2);
    display->setValue(1.6);
    display->setValue(2.0);
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 1);
    EXPECT_EQ(display->text(), QStringLiteral("2.0 %"));
}

// The columns and rows holding lime digits in a display's picture.
QRect inkOf(CiAnalogDisplayX& display) {
    const QImage image = display.grab().toImage();
    QRect ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > 120 && c.red() < 100 && c.blue() < 100) ink |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

TEST(CiAnalogDisplayX, DrawsItsTextRightAlignedInsideTheFaceWhateverTheCharacters) {
    // Digits and units come from looked-up glyphs; "nan" and "inf" are laid out as text.
    for (const double value : {12.5, -273.0, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()}) {
        QWidget window;
        auto* display = new CiAnalogDisplayX(&window);
        display->setGeometry(0, 0, 160, 24);
        display->setUnitsText(QStringLiteral(" km/hr"));
        display->setValue(value);
        ui::test::flushPaints();
        const QRect ink = inkOf(*display);
        const QRect face = display->contentsRect();
        ASSERT_FALSE(ink.isEmpty()) << value;
        EXPECT_TRUE(face.contains(ink)) << value;
        EXPECT_GE(ink.right(), face.right() - 6) << value << ": not right-aligned";
        EXPECT_GT(ink.height(), face.height() / 3) << value << ": not the whole line";
    }
}

TEST(CiAnalogDisplayX, RegressionNaNWrittenTwiceIsTreatedAsUnchanged) {
    CiAnalogDisplayX display;
    display.setValue(std::numeric_limits<double>::quiet_NaN());
    const QString shown = display.text();
    display.setValue(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(display.text(), shown);
    display.setValue(3.0);
    EXPECT_EQ(display.text(), QStringLiteral("3.0"));
}

TEST(CiAnalogDisplayX, AccessibleNameIsTheLabelAndDescriptionTheShownText) {
    CiAnalogDisplayX display(QStringLiteral("Engine speed"));
    display.setUnitsText(QStringLiteral(" rpm"));
    display.setPrecision(3);
    display.setValue(6425.5);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&display);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Engine speed"));
    EXPECT_EQ(accessible->text(QAccessible::Description), QStringLiteral("6425.500 rpm"));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("6425.500 rpm"));
    display.setValue(0);
    EXPECT_EQ(accessible->text(QAccessible::Description), QStringLiteral("0.000 rpm"));
}

}  // namespace
}  // namespace orvale::controls
