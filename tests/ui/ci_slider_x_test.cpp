#include "controls/ci_slider_x.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QWheelEvent>
#include <QWidget>

#include <limits>
#include <string>
#include <vector>

#include "widget_test_support.h"

namespace orvale::controls {
namespace {

// An enabled slider of the window's size with every operator event recorded as text, in the
// order raised: "down 1 0" (event 9: button, shift), "up 1 0" (11), "keydown 39 0" (14: key
// code, shift), "keyup 39 0" (15), "started" (18), "finished" (7/13).
class SliderTest : public ::testing::Test {
protected:
    SliderTest() {
        slider.resize(498, 57);
        slider.setEnabled(true);
        QObject::connect(&slider, &CiSliderX::mouseDown, [this](short b, short s, int, int) {
            record("down " + std::to_string(b) + " " + std::to_string(s));
        });
        QObject::connect(&slider, &CiSliderX::mouseUp, [this](short b, short s, int, int) {
            record("up " + std::to_string(b) + " " + std::to_string(s));
        });
        QObject::connect(&slider, &CiSliderX::keyDown, [this](short& key, short s) {
            record("keydown " + std::to_string(key) + " " + std::to_string(s));
            if (swallowKeys) key = 0;
        });
        QObject::connect(&slider, &CiSliderX::keyUp, [this](short& key, short s) {
            record("keyup " + std::to_string(key) + " " + std::to_string(s));
        });
        QObject::connect(&slider, &CiSliderX::positionChangeStarted, [this] { record("started"); });
        QObject::connect(&slider, &CiSliderX::positionChangeFinished,
                         [this] { record("finished"); });
    }

    void record(const std::string& event) {
        // What the window would read when it handles the event.
        events.push_back(event);
        positionsSeen.push_back(slider.Position());
    }

    void key(QEvent::Type type, int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
             bool autoRepeat = false) {
        QKeyEvent event(type, qtKey, modifiers, QString(), autoRepeat);
        QApplication::sendEvent(&slider, &event);
    }
    void press(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        key(QEvent::KeyPress, qtKey, modifiers);
        key(QEvent::KeyRelease, qtKey, modifiers);
    }
    void mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QMouseEvent event(type, QPointF(at), slider.mapToGlobal(QPointF(at)), button, held,
                          modifiers);
        QApplication::sendEvent(&slider, &event);
    }
    void click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        mouse(QEvent::MouseButtonPress, at, button, button);
        mouse(QEvent::MouseButtonRelease, at, button, Qt::NoButton);
    }
    void wheel(int angle) {
        const QPoint at(slider.width() / 2, slider.height() / 2);
        QWheelEvent event(QPointF(at), slider.mapToGlobal(QPointF(at)), QPoint(), QPoint(0, angle),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&slider, &event);
    }
    [[nodiscard]] QPoint onTrack(double position) const {
        return {slider.trackX(position), slider.height() - 8};
    }

    CiSliderX slider;
    std::vector<std::string> events;
    std::vector<double> positionsSeen;
    bool swallowKeys = false;
};

using Events = std::vector<std::string>;

struct KeyCase {
    int qtKey;
    double from;
    double to;
    const char* keyDown;
};

class SliderKeys : public SliderTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(SliderKeys, StepAndFrameTheChangeWithKeyDownAndKeyUp) {
    const KeyCase& c = GetParam();
    slider.setPosition(c.from);
    press(c.qtKey);
    EXPECT_EQ(slider.Position(), c.to);
    const std::string down = c.keyDown;
    const std::string up = "keyup" + down.substr(7);
    EXPECT_EQ(events, (Events{down, up}));
    // The key-up handler reads the new position (it sends it to the device).
    ASSERT_EQ(positionsSeen.size(), 2U);
    EXPECT_EQ(positionsSeen[1], c.to);
}

INSTANTIATE_TEST_SUITE_P(ArrowsPageHomeEnd, SliderKeys,
                         ::testing::Values(KeyCase{Qt::Key_Right, 50, 51, "keydown 39 0"},
                                           KeyCase{Qt::Key_Up, 50, 51, "keydown 38 0"},
                                           KeyCase{Qt::Key_Left, 50, 49, "keydown 37 0"},
                                           KeyCase{Qt::Key_Down, 50, 49, "keydown 40 0"},
                                           KeyCase{Qt::Key_PageUp, 50, 60, "keydown 33 0"},
                                           KeyCase{Qt::Key_PageDown, 50, 40, "keydown 34 0"},
                                           KeyCase{Qt::Key_Home, 50, 0, "keydown 36 0"},
                                           KeyCase{Qt::Key_End, 50, 100, "keydown 35 0"},
                                           KeyCase{Qt::Key_Right, 100, 100, "keydown 39 0"},
                                           KeyCase{Qt::Key_PageUp, 95, 100, "keydown 33 0"},
                                           KeyCase{Qt::Key_PageDown, 5, 0, "keydown 34 0"},
                                           KeyCase{Qt::Key_Left, 57.9, 56.9, "keydown 37 0"}));

TEST_F(SliderTest, KeyEventsCarryTheShiftState) {
    slider.setPosition(10);
    press(Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(events, (Events{"keydown 39 3", "keyup 39 3"}));
}

TEST_F(SliderTest, HeldKeyRepeatsKeyDownButEndsOnce) {
    slider.setPosition(10);
    key(QEvent::KeyPress, Qt::Key_Right);
    key(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier, true);
    key(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, true);
    key(QEvent::KeyRelease, Qt::Key_Right);
    EXPECT_EQ(slider.Position(), 12);
    EXPECT_EQ(events, (Events{"keydown 39 0", "keydown 39 0", "keyup 39 0"}));
}

TEST_F(SliderTest, ReleaseOfAKeyPressedElsewhereEndsNothing) {
    key(QEvent::KeyRelease, Qt::Key_Right);
    EXPECT_TRUE(events.empty());
}

TEST_F(SliderTest, KeySwallowedByTheKeyDownHandlerDoesNotMove) {
    slider.setPosition(10);
    swallowKeys = true;
    press(Qt::Key_Right);
    EXPECT_EQ(slider.Position(), 10);
    EXPECT_EQ(events, (Events{"keydown 39 0", "keyup 39 0"}));
}

TEST_F(SliderTest, KeysItDoesNotUseGoToTheWindowSilently) {
    for (const int qtKey : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_A, Qt::Key_Space}) {
        QKeyEvent event(QEvent::KeyPress, qtKey, Qt::NoModifier);
        QApplication::sendEvent(&slider, &event);
        EXPECT_FALSE(event.isAccepted()) << qtKey;
    }
    EXPECT_TRUE(events.empty());
}

TEST_F(SliderTest, RegressionFocusLostWithAKeyHeldStillEndsTheChange) {
    slider.setPosition(10);
    key(QEvent::KeyPress, Qt::Key_Right);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&slider, &focusOut);
    key(QEvent::KeyRelease, Qt::Key_Right);  // arrives after all: ends nothing more
    EXPECT_EQ(events, (Events{"keydown 39 0", "keyup 39 0"}));
}

struct ClickCase {
    double from;
    double at;
};

class SliderClicks : public SliderTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(SliderClicks, ClickOnTheTrackJumpsToTheClickPoint) {
    const ClickCase& c = GetParam();
    slider.setPosition(c.from);
    click(onTrack(c.at));
    EXPECT_EQ(slider.Position(), c.at);
    EXPECT_EQ(events, (Events{"down 1 0", "up 1 0"}));
    ASSERT_EQ(positionsSeen.size(), 2U);
    EXPECT_EQ(positionsSeen[0], c.from);  // the press is reported before the pointer moves
    EXPECT_EQ(positionsSeen[1], c.at);
}

INSTANTIATE_TEST_SUITE_P(AcrossTheTrack, SliderClicks,
                         ::testing::Values(ClickCase{50, 25}, ClickCase{0, 100}, ClickCase{100, 0},
                                           ClickCase{10, 73}, ClickCase{90, 80}));

TEST_F(SliderTest, ClicksBeyondTheEndsClampToTheEnds) {
    click({0, slider.height() - 8});
    EXPECT_EQ(slider.Position(), 0);
    click({slider.width() - 1, slider.height() - 8});
    EXPECT_EQ(slider.Position(), 100);
}

TEST_F(SliderTest, DragOfThePointerKeepsItsGripAndFollowsTheMouse) {
    slider.setPosition(40);
    const QPoint grip(slider.trackX(40) + 2, slider.height() - 8);  // right of the pointer's centre
    mouse(QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(slider.Position(), 40);  // grabbing the pointer does not jump
    mouse(QEvent::MouseMove, {slider.trackX(60) + 2, grip.y()}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(slider.Position(), 60);
    mouse(QEvent::MouseButtonRelease, {slider.trackX(60) + 2, grip.y()}, Qt::LeftButton,
          Qt::NoButton);
    EXPECT_EQ(events, (Events{"down 1 0", "up 1 0"}));
    mouse(QEvent::MouseMove, {slider.trackX(80), grip.y()}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(slider.Position(), 60);
}

TEST_F(SliderTest, RightButtonIsReportedWithItsMaskButDoesNotMove) {
    slider.setPosition(40);
    click(onTrack(70), Qt::RightButton);
    EXPECT_EQ(slider.Position(), 40);
    EXPECT_EQ(events, (Events{"down 2 0", "up 2 0"}));
}

TEST_F(SliderTest, WheelNotchStepsOneFramedByStartedAndFinished) {
    slider.setPosition(50);
    wheel(120);
    EXPECT_EQ(slider.Position(), 51);
    EXPECT_EQ(events, (Events{"started", "finished"}));
    EXPECT_EQ(positionsSeen, (std::vector<double>{50, 51}));

    events.clear();
    wheel(-240);
    EXPECT_EQ(slider.Position(), 49);
    EXPECT_EQ(events, (Events{"started", "finished"}));
}

TEST_F(SliderTest, FineWheelStepsAddUpToANotch) {
    slider.setPosition(50);
    wheel(60);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(slider.Position(), 50);
    wheel(60);
    EXPECT_EQ(slider.Position(), 51);
    EXPECT_EQ(events, (Events{"started", "finished"}));
}

TEST_F(SliderTest, ProgrammaticPositionRaisesNoOperatorEvent) {
    slider.setPosition(57.9);
    EXPECT_EQ(slider.Position(), 57.9);
    slider.setPosition(150);  // a broadcast position beyond the slider's range
    EXPECT_EQ(slider.Position(), 100);
    slider.setPosition(-3);
    EXPECT_EQ(slider.Position(), 0);
    slider.setPosition(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(slider.Position(), 0);
    EXPECT_TRUE(events.empty());
}

TEST_F(SliderTest, DisabledSliderTakesNoInput) {
    CiSliderX fresh;
    EXPECT_FALSE(fresh.isEnabled());  // disabled at start
    EXPECT_EQ(fresh.focusPolicy(), Qt::StrongFocus);

    slider.setPosition(50);
    slider.setEnabled(false);
    press(Qt::Key_Right);
    click(onTrack(20));
    wheel(120);
    EXPECT_EQ(slider.Position(), 50);
    EXPECT_TRUE(events.empty());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&slider);
    ASSERT_NE(accessible, nullptr);
    accessible->valueInterface()->setCurrentValue(30.0);
    EXPECT_EQ(slider.Position(), 50);
    EXPECT_TRUE(events.empty());
}

TEST_F(SliderTest, AccessibleSliderReportsAndTakesThePosition) {
    slider.setAccessibleName(QStringLiteral("Control position"));
    slider.setPosition(42);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&slider);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Slider);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Control position"));
    QAccessibleValueInterface* value = accessible->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->currentValue().toDouble(), 42.0);
    EXPECT_EQ(value->minimumValue().toDouble(), 0.0);
    EXPECT_EQ(value->maximumValue().toDouble(), 100.0);

    // A value set by assistive technology is the operator's and is sent like a wheel step.
    value->setCurrentValue(30.0);
    EXPECT_EQ(slider.Position(), 30);
    EXPECT_EQ(events, (Events{"started", "finished"}));
    EXPECT_EQ(positionsSeen.back(), 30);
}

TEST(CiSlider, RepaintsOnlyWhenThePositionChanges) {
    QWidget window;
    auto* slider = new CiSliderX(&window);
    slider->setGeometry(0, 0, 498, 57);
    slider->setPosition(40);
    ASSERT_TRUE(ui::test::showExposed(window));
    ui::test::PaintCounter paints(slider);

    slider->setPosition(40);
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 0);

    slider->setPosition(150);  // broadcast bytes beyond the range both clamp to 100:
    slider->setPosition(250);  // one change, painted once
    ui::test::flushPaints();
    EXPECT_EQ(paints.count(), 1);
}

// 53 and 54 look alike on the track: the position the pointer stands at is shown beside it while
// the operator moves it, by key, mouse or wheel.
TEST_F(SliderTest, TheReadoutShowsThePositionWhileTheOperatorMovesIt) {
    slider.show();
    slider.setPosition(53);
    EXPECT_EQ(slider.readout().toStdString(), "53");
    press(Qt::Key_Right);
    EXPECT_EQ(slider.readout().toStdString(), "54");
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text().toStdString(), "54");
    slider.setPosition(99.9);
    EXPECT_EQ(slider.readout().toStdString(), "99") << "what the position command would carry";
    QToolTip::hideText();
}

}  // namespace
}  // namespace orvale::controls
