#pragma once

#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <optional>
#include <vector>

namespace orvale::controls {

/// The horizontal instrument slider, 0 to 100: a blue track, a pointer, and 11 labelled major
/// ticks above the track. Disabled at construction; a tab stop.
///
/// Operator input:
/// | input                        | effect                                                |
/// |------------------------------|-------------------------------------------------------|
/// | Left/Down, Right/Up          | -1 / +1 (KeyArrowStepSize)                            |
/// | Page Down, Page Up           | -10 / +10 (KeyPageStepSize)                           |
/// | Home, End                    | 0 / 100                                               |
/// | one wheel notch (120/8 deg)  | +-1 (MouseWheelStepSize), up increases                |
/// | left click on the track      | the pointer jumps to the click, then follows the drag |
/// | left press on the pointer    | the pointer follows the drag from where it was        |
/// Mouse positions snap to whole units. Positions are always clamped to 0..100.
///
/// Operator events, named after the event numbers the main window handles:
/// | event | signal                   | raised                                               |
/// |-------|--------------------------|------------------------------------------------------|
/// | 9     | mouseDown                | a mouse button pressed, before the pointer moves     |
/// | 11    | mouseUp                  | that button released                                 |
/// | 14    | keyDown                  | a slider key pressed (again on repeat), before moving |
/// | 15    | keyUp                    | that key released, or focus lost while it is held    |
/// | 18    | positionChangeStarted    | before a wheel step or an accessibility value set    |
/// | 7, 13 | positionChangeFinished   | after that change                                    |
/// So every operator change is framed by a start (9, 14, 18) and a finish (11, 15, 7/13).
/// Keys the slider does not use (Tab, Enter, Escape...) raise nothing and go on to the
/// window. setPosition() never raises an operator event; neither does a disabled slider,
/// which takes no input.
///
/// Accessibility: a slider with a value interface (0 to 100, step 1) giving Position.
class CiSliderX final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double Position READ Position WRITE setPosition)

public:
    static constexpr double kPositionMin = 0.0;         ///< left end
    static constexpr double kPositionMax = 100.0;       ///< PositionMax
    static constexpr double kKeyArrowStepSize = 1.0;    ///< KeyArrowStepSize
    static constexpr double kKeyPageStepSize = 10.0;    ///< KeyPageStepSize
    static constexpr double kMouseWheelStepSize = 1.0;  ///< MouseWheelStepSize
    static constexpr int kTickMajorCount = 11;          ///< TickMajorCount

    /// Bits of the button mask of mouseDown/mouseUp.
    static constexpr short kLeftButton = 1;
    static constexpr short kRightButton = 2;
    static constexpr short kMiddleButton = 4;
    /// Bits of the shift state of the mouse and key events.
    static constexpr short kShiftMask = 1;
    static constexpr short kCtrlMask = 2;
    static constexpr short kAltMask = 4;

    explicit CiSliderX(QWidget* parent = nullptr);
    ~CiSliderX() override;

    /// Pointer position, 0 to 100; fractions are kept (57.9 stays 57.9).
    [[nodiscard]] double Position() const { return m_position; }
    /// Moves the pointer without raising any operator event; clamped to 0..100, NaN ignored.
    void setPosition(double position);

    /// The pixel column of `position` on the track (for drawing, hit tests and tests).
    [[nodiscard]] int trackX(double position) const;
    /// The whole-unit position under pixel column `x`, clamped to 0..100.
    [[nodiscard]] double positionAtX(int x) const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

    /// What the readout says: the whole position the pointer stands at ("53"). While the
    /// operator moves the pointer it is shown beside it, so that 53 and 54 can be told apart;
    /// resting the mouse on the slider shows it too.
    [[nodiscard]] QString readout() const;

signals:
    /// Event 9: `button` mask (1 left, 2 right, 4 middle), `shift` state (1 Shift, 2 Ctrl,
    /// 4 Alt), pointer coordinates in pixels from the slider's top left.
    void mouseDown(short button, short shift, int x, int y);
    /// Event 11: arguments as mouseDown, `button` being the released button.
    void mouseUp(short button, short shift, int x, int y);
    /// Event 14: `keyCode` is a Windows virtual-key code (0x25 left, 0x26 up, 0x27 right,
    /// 0x28 down, 0x21 page up, 0x22 page down, 0x24 home, 0x23 end). A receiver connected
    /// directly may set it to 0 to swallow the key.
    void keyDown(short& keyCode, short shift);
    /// Event 15: the key of an earlier keyDown released.
    void keyUp(short& keyCode, short shift);
    /// Event 18: a change by wheel or accessibility is about to be made.
    void positionChangeStarted();
    /// Events 7 and 13: a change by wheel or accessibility has been made.
    void positionChangeFinished();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class AccessibleSlider;
    /// Shows the readout above the pointer: the operator has just moved it.
    void showReadout();

    struct Parts {         // where the labels, ticks, track and pointer go
        int left = 0;      // pixel column of 0
        int right = 0;     // pixel column of 100
        int labelTop = 0;  // top of the tick labels; no labels when labelHeight is 0
        int labelHeight = 0;
        int tickTop = 0;
        int tickLength = 0;
        int trackY = 0;  // centre line of the track
        int pointerTop = 0;
        int pointerBottom = 0;
        int pointerHalfWidth = 0;
    };

    [[nodiscard]] const Parts& parts() const;
    [[nodiscard]] Parts computeParts() const;
    [[nodiscard]] static QPixmap renderPointer(const Parts& g, bool enabled, qreal ratio);
    void movePointer();
    void paintScale(QPainter& painter, const Parts& g, bool enabled) const;
    [[nodiscard]] QRect pointerRect(const Parts& g) const;
    void moveBy(double delta);
    /// An operator change outside mouse and keys: started, moved, finished.
    void operatorSet(double position);
    void releaseHeldKeys();

    std::vector<int> m_heldKeys;  // Qt keys with a keyDown but no keyUp yet
    double m_position = kPositionMin;
    QPixmap m_background;  // ticks, labels and track, drawn once per size and state
    bool m_backgroundEnabled = false;
    int m_dragOffset = 0;      // pixels between the press and the pointer's centre
    int m_wheelRemainder = 0;  // eighths of a degree not yet turned into a step
    bool m_dragging = false;
    // The pointer as last painted, and whether a move of it waits for the end of the frame.
    QRect m_shownPointer;
    QPixmap m_pointer;  // the pointer, drawn once per size and state
    bool m_pointerEnabled = false;
    mutable std::optional<Parts> m_parts;  // geometry for the current size and font
    bool m_pointerMoveScheduled = false;
};

}  // namespace orvale::controls
