#include "controls/repaint_pacer.h"

#include <gtest/gtest.h>

#include <QEvent>
#include <QPaintEvent>
#include <QWidget>

#include <chrono>
#include <thread>
#include <vector>

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
    auto& pacer = RepaintPacer::instance();

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

TEST(RepaintPacer, AChangeAfterAQuietSpellEndsTheFrameAtOnce) {
    QWidget widget;
    auto& pacer = RepaintPacer::instance();
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
