#include "controls/repaint_pacer.h"

#include <gtest/gtest.h>

#include <QEvent>
#include <QPaintEvent>
#include <QWidget>

#include <chrono>
#include <thread>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <functional>

#include "controls/ci_analog_display_x.h"
#include "controls/ci_slider_x.h"
#include "controls/read_only_box.h"
#include "widget_test_support.h"

namespace orvale::controls {
namespace {

// Notes the rectangle of every paint event a widget receives.
class PaintAreas final : public QObject {
public:
    explicit PaintAreas(QWidget* widget) { widget->installEventFilter(this); }
    std::vector<QRect> areas;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            areas.push_back(static_cast<QPaintEvent*>(event)->rect());
        return false;
    }
};

TEST(RepaintPacer, PartsAskedForInOneFrameArePaintedTogetherAndAWholeRequestStaysWhole) {
    QWidget window;
    auto* widget = new QWidget(&window);
    widget->setGeometry(0, 0, 100, 40);
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
    ASSERT_TRUE(ui::test::showExposed(window));
    PaintAreas paints(widget);
    RepaintPacer& pacer = *RepaintPacer::of(widget);

    const struct {
        std::vector<QRect> requests;  // a null rectangle asks for the whole widget
        QRect painted;
    } cases[] = {
        {{QRect(10, 5, 10, 10)}, QRect(10, 5, 10, 10)},
        {{QRect(10, 5, 10, 10), QRect(50, 20, 5, 5)}, QRect(10, 5, 45, 20)},
        {{QRect(10, 5, 10, 10), QRect()}, QRect(0, 0, 100, 40)},
        {{QRect(), QRect(10, 5, 10, 10)}, QRect(0, 0, 100, 40)},
    };
    for (const auto& c : cases) {
        paints.areas.clear();
        for (const QRect& r : c.requests) {
            if (r.isNull()) {
                pacer.request(widget);
            } else {
                pacer.request(widget, r);
            }
        }
        ui::test::flushPaints();
        ASSERT_EQ(paints.areas.size(), 1U);
        EXPECT_EQ(paints.areas.front(), c.painted);
    }
}

// What the window shows of `widget` right now: the window system's copy, not a fresh paint.
QImage onScreen(QWidget& window, QWidget& widget) {
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    return shot.copy(QRect(widget.mapTo(&window, QPoint()), widget.size())).toImage();
}

TEST(RepaintPacer, AChangePaintedInPartLooksTheSameAsAWholeRepaint) {
    // The displays, boxes and slider repaint only what a change touches; nothing of the old
    // value may be left behind.
    const struct {
        const char* name;
        std::function<QWidget*(QWidget*)> make;
        std::function<void(QWidget*)> change;
    } cases[] = {
        {"slider",
         [](QWidget* parent) {
             auto* slider = new CiSliderX(parent);
             slider->setGeometry(0, 0, 498, 57);
             slider->setEnabled(true);
             slider->setPosition(40);
             return slider;
         },
         [](QWidget* w) { static_cast<CiSliderX*>(w)->setPosition(63); }},
        {"numeric display",
         [](QWidget* parent) {
             auto* display = new CiAnalogDisplayX(parent);
             display->setGeometry(0, 0, 160, 24);
             display->setUnitsText(QStringLiteral(" km/hr"));
             display->setValue(1888.5);
             return display;
         },
         [](QWidget* w) { static_cast<CiAnalogDisplayX*>(w)->setValue(7.25); }},
        {"read-only box",
         [](QWidget* parent) {
             auto* box = new ReadOnlyBox(parent);
             box->setGeometry(0, 0, 160, 22);
             box->setAlignment(Qt::AlignCenter);
             box->setText(QStringLiteral("0011=Driver card present"));
             return box;
         },
         [](QWidget* w) { static_cast<ReadOnlyBox*>(w)->setText(QStringLiteral("00=idle")); }},
    };
    for (const auto& c : cases) {
        QWidget window;
        window.resize(520, 80);
        QWidget* widget = c.make(&window);
        widget->move(8, 8);
        ASSERT_TRUE(ui::test::showExposed(window)) << c.name;
        c.change(widget);
        ui::test::flushPaints();
        const QImage partly = onScreen(window, *widget);
        widget->repaint();
        QCoreApplication::processEvents();
        EXPECT_EQ(partly, onScreen(window, *widget)) << c.name;
    }
}

TEST(RepaintPacer, AChangeAfterAQuietSpellEndsTheFrameAtOnce) {
    QWidget widget;
    RepaintPacer pacer;
    pacer.attachTo(&widget);
    pacer.flush();
    EXPECT_EQ(pacer.msUntilFrameEnds(), -1);
    // Longer than a frame with nothing asked for; a slower machine only makes it longer.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pacer.request(&widget);
    EXPECT_EQ(pacer.msUntilFrameEnds(), 0);
    pacer.flush();
    EXPECT_EQ(pacer.msUntilFrameEnds(), -1) << "a frame whose work is done stays closed";
}

}  // namespace
}  // namespace orvale::controls
