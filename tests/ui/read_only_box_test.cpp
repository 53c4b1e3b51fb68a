#include "controls/read_only_box.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QToolTip>
#include <QWidget>

#include "widget_test_support.h"

namespace orvale::controls {
namespace {

// Columns of `box` in which any pixel has the text colour (dark on the white field).
std::pair<int, int> inkedColumns(ReadOnlyBox& box) {
    const QImage image = box.grab().toImage();
    int first = -1;
    int last = -1;
    for (int x = 2; x < image.width() - 2; ++x) {
        for (int y = 2; y < image.height() - 2; ++y) {
            if (image.pixelColor(x, y).lightness() < 128) {
                if (first < 0) first = x;
                last = x;
                break;
            }
        }
    }
    return {first, last};
}

TEST(ReadOnlyBox, CentresAFittingTextAndStartsAWideOneAtTheLeft) {
    ReadOnlyBox box;
    box.setAlignment(Qt::AlignCenter);
    box.resize(200, 22);
    box.setText(QStringLiteral("04.04"));
    const auto [first, last] = inkedColumns(box);
    ASSERT_GE(first, 0);
    EXPECT_NEAR(first - 0, 200 - 1 - last, 3) << "not centred: " << first << ".." << last;

    box.setText(QString(80, QLatin1Char('W')));
    EXPECT_LE(inkedColumns(box).first, 5);  // the beginning shows, the rest is cut off
}

// A text wider than its box (a device's build text of unusual width) is shortened with "…"; the
// pointer resting on the box shows it whole, and what is copied or read aloud is whole.
TEST(ReadOnlyBox, AWideTextIsShortenedAndShownWholeInItsTooltip) {
    ReadOnlyBox box;
    box.resize(60, 22);
    const QString wide = QStringLiteral("QUENNET SIM BUILD 0001");
    box.setText(wide);
    EXPECT_TRUE(box.isElided());
    box.show();
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), box.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&box, &help);
    EXPECT_EQ(QToolTip::text(), wide);
    QToolTip::hideText();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&box);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Value), wide);

    box.resize(400, 22);
    EXPECT_FALSE(box.isElided()) << "room enough once the box is wider";
}

TEST(ReadOnlyBox, RepaintsOnceAFrameAndOnlyWhenTheTextChanges) {
    QWidget window;
    auto* box = new ReadOnlyBox(&window);
    box->setGeometry(0, 0, 120, 22);
    box->setText(QStringLiteral("0000=normal"));
    ASSERT_TRUE(ui::test::showExposed(window));
    ui::test::PaintCounter paints(box);

    box->setText(QStringLiteral("0000=normal"));
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 0);

    box->setText(QStringLiteral("0001=15 min bef. 4 1/2 h"));
    box->setText(QStringLiteral("0010=4 1/2 h reached"));
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 1);
    EXPECT_EQ(box->text(), QStringLiteral("0010=4 1/2 h reached"));
}

TEST(ReadOnlyBox, IsAnAccessibleReadOnlyTextWithTheWholeTextReadable) {
    ReadOnlyBox box;
    box.setAccessibleName(QStringLiteral("Fuel Type"));
    box.resize(150, 22);
    box.setText(QStringLiteral("0x08\n"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&box);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::EditableText);
    EXPECT_TRUE(accessible->state().readOnly);
    EXPECT_TRUE(accessible->state().focusable);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Fuel Type"));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("0x08\n"));

    QAccessibleTextInterface* text = accessible->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->characterCount(), 5);
    struct Range {
        int start;
        int end;
        const char* expected;
    };
    for (const Range& r : {Range{0, 5, "0x08\n"}, Range{1, 3, "x0"}, Range{-4, 2, "0x"},
                           Range{3, 99, "8\n"}, Range{4, 2, ""}}) {
        EXPECT_EQ(text->text(r.start, r.end), QString::fromLatin1(r.expected))
            << r.start << ".." << r.end;
    }
    // Character boxes run left to right inside the box.
    const QRect zero = text->characterRect(0);
    const QRect x = text->characterRect(1);
    EXPECT_GT(zero.width(), 0);
    EXPECT_GT(x.left(), zero.left());
    EXPECT_EQ(text->offsetAtPoint(x.center()), 1);
    EXPECT_TRUE(text->characterRect(5).isNull());
}

TEST(ReadOnlyBox, CtrlCCopiesTheWholeText) {
    ReadOnlyBox box;
    box.setText(QStringLiteral("1M8GDM9AXKP042008*"));
    QApplication::clipboard()->clear();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    QApplication::sendEvent(&box, &press);
    EXPECT_TRUE(press.isAccepted());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("1M8GDM9AXKP042008*"));

    // Other keys go on to the window (Escape, Enter, Tab).
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&box, &escape);
    EXPECT_FALSE(escape.isAccepted());
}

}  // namespace
}  // namespace orvale::controls
