#include "controls/ci_led_rectangle_x.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QImage>
#include <QWidget>

#include "widget_test_support.h"

namespace orvale::controls {
namespace {

QColor centreOfLampEdge(CiLedRectangleX& led) {
    // A pixel inside the lamp but away from the centred label.
    const QImage image = led.grab().toImage();
    return image.pixelColor(4, image.height() / 2);
}

TEST(CiLedRectangleX, IsBlackWhenOffAndLitWhenOn) {
    CiLedRectangleX led(QStringLiteral("Parking"));
    led.resize(60, 22);
    EXPECT_FALSE(led.Active());
    EXPECT_EQ(centreOfLampEdge(led), QColor(Qt::black));

    led.setActive(true);
    EXPECT_TRUE(led.Active());
    const QColor lit = centreOfLampEdge(led);
    EXPECT_GT(lit.green(), 200);
    EXPECT_LT(lit.red(), 100);
}

TEST(CiLedRectangleX, RepaintsOnlyWhenTheStateChanges) {
    QWidget window;
    auto* led = new CiLedRectangleX(QStringLiteral("Brake"), &window);
    led->setGeometry(0, 0, 60, 22);
    ASSERT_TRUE(ui::test::showExposed(window));
    ui::test::PaintCounter paints(led);

    led->setActive(false);
    led->setCenterLabelText(QStringLiteral("Brake"));
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 0);

    led->setActive(true);
    led->setActive(true);
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 1);
}

TEST(CiLedRectangleX, IsAnAccessibleReadOnlyCheckBoxCheckedWhileLit) {
    CiLedRectangleX led(QStringLiteral("Cruise"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&led);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Cruise"));
    EXPECT_TRUE(accessible->state().checkable);
    EXPECT_FALSE(accessible->state().checked);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("off"));

    led.setActive(true);
    EXPECT_TRUE(accessible->state().checked);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("on"));

    led.setAccessibleName(QStringLiteral("Cruise control"));
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Cruise control"));
}

}  // namespace
}  // namespace orvale::controls
