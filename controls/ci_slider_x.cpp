#include "controls/ci_slider_x.h"
#include "controls/accessible_factory.h"
#include "controls/repaint_pacer.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace orvale::controls {

namespace {

const QColor kTrackColour(30, 90, 210);
const QColor kTrackEdgeColour(10, 40, 120);
const QColor kDisabledTrackColour(140, 155, 185);
const QColor kPointerColour(225, 225, 225);
const QColor kPointerEdgeColour(60, 60, 60);
constexpr int kTrackThickness = 6;
constexpr int kWheelNotch = 120;   // eighths of a degree per wheel notch
constexpr int kPointerMargin = 2;  // antialiased edge and pen around the pointer
constexpr int kLabelAlignment =
    static_cast<int>(Qt::AlignHCenter) | static_cast<int>(Qt::AlignBottom);

// The key codes the window sees are the platform's virtual-key codes.
constexpr short kVkPageUp = 0x21;
constexpr short kVkPageDown = 0x22;
constexpr short kVkEnd = 0x23;
constexpr short kVkHome = 0x24;
constexpr short kVkLeft = 0x25;
constexpr short kVkUp = 0x26;
constexpr short kVkRight = 0x27;
constexpr short kVkDown = 0x28;

struct SliderKey {
    Qt::Key key;
    short virtualKey;
    double step;    // signed step, or 0 for the ends
    double target;  // used when step is 0
};

constexpr SliderKey kSliderKeys[] = {
    {Qt::Key_Left, kVkLeft, -CiSliderX::kKeyArrowStepSize, 0},
    {Qt::Key_Down, kVkDown, -CiSliderX::kKeyArrowStepSize, 0},
    {Qt::Key_Right, kVkRight, CiSliderX::kKeyArrowStepSize, 0},
    {Qt::Key_Up, kVkUp, CiSliderX::kKeyArrowStepSize, 0},
    {Qt::Key_PageDown, kVkPageDown, -CiSliderX::kKeyPageStepSize, 0},
    {Qt::Key_PageUp, kVkPageUp, CiSliderX::kKeyPageStepSize, 0},
    {Qt::Key_Home, kVkHome, 0, CiSliderX::kPositionMin},
    {Qt::Key_End, kVkEnd, 0, CiSliderX::kPositionMax},
};

const SliderKey* findKey(int key) {
    for (const SliderKey& k : kSliderKeys)
        if (k.key == key) return &k;
    return nullptr;
}

short shiftState(Qt::KeyboardModifiers modifiers) {
    short shift = 0;
    if (modifiers & Qt::ShiftModifier) shift |= CiSliderX::kShiftMask;
    if (modifiers & Qt::ControlModifier) shift |= CiSliderX::kCtrlMask;
    if (modifiers & Qt::AltModifier) shift |= CiSliderX::kAltMask;
    return shift;
}

short buttonMask(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return CiSliderX::kLeftButton;
        case Qt::RightButton:
            return CiSliderX::kRightButton;
        case Qt::MiddleButton:
            return CiSliderX::kMiddleButton;
        default:
            return 0;
    }
}

double clampPosition(double position) {
    return std::clamp(position, CiSliderX::kPositionMin, CiSliderX::kPositionMax);
}

}  // namespace

// Screen readers see a slider whose value is the position; a value they set is an operator
// change and is reported to the window like a wheel step.
class AccessibleSlider final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleSlider(CiSliderX* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return QString::number(slider()->Position());
        return QAccessibleWidget::text(t);
    }

    [[nodiscard]] QVariant currentValue() const override { return slider()->Position(); }
    void setCurrentValue(const QVariant& value) override {
        if (!slider()->isEnabled()) return;
        bool ok = false;
        const double position = value.toDouble(&ok);
        if (ok) slider()->operatorSet(position);
    }
    [[nodiscard]] QVariant maximumValue() const override { return CiSliderX::kPositionMax; }
    [[nodiscard]] QVariant minimumValue() const override { return CiSliderX::kPositionMin; }
    [[nodiscard]] QVariant minimumStepSize() const override { return CiSliderX::kKeyArrowStepSize; }

private:
    [[nodiscard]] CiSliderX* slider() const { return static_cast<CiSliderX*>(widget()); }
};

CiSliderX::CiSliderX(QWidget* parent) : QWidget(parent) {
    installAccessibleFactory<CiSliderX, AccessibleSlider>();
    setFocusPolicy(Qt::StrongFocus);
    // The scale pixmap covers the whole widget: nothing behind it needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setEnabled(false);
}

CiSliderX::~CiSliderX() = default;

void CiSliderX::setPosition(double position) {
    if (std::isnan(position)) return;
    position = clampPosition(position);
    if (position == m_position) return;
    m_position = position;
    if (!m_pointerMoveScheduled) {
        m_pointerMoveScheduled = true;
        RepaintPacer::defer(this, [this] { movePointer(); });
    }
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, m_position);
        QAccessible::updateAccessibility(&event);
    }
}

void CiSliderX::movePointer() {
    m_pointerMoveScheduled = false;
    // Only the pointer moves: the part it leaves and the part it comes to are repainted, the
    // scale stays as it is on the screen. The margin covers the antialiased edge and the pen.
    const QRect now = pointerRect(parts());
    if (m_shownPointer.isNull()) {
        RepaintPacer::repaint(this);
    } else if (now != m_shownPointer) {
        RepaintPacer::repaint(this,
                              m_shownPointer.united(now).adjusted(-kPointerMargin, -kPointerMargin,
                                                                  kPointerMargin, kPointerMargin));
    }
}

const CiSliderX::Parts& CiSliderX::parts() const {
    // Asked for at every move of the pointer; depends only on the size and the font.
    if (!m_parts) m_parts = computeParts();
    return *m_parts;
}

CiSliderX::Parts CiSliderX::computeParts() const {
    const QFontMetrics metrics(font());
    const QRect area = rect();
    Parts g;
    // Room for a tick label centred on each end tick, and for the pointer at either end.
    const int halfLabel = (metrics.horizontalAdvance(QStringLiteral("100")) + 1) / 2;
    g.pointerHalfWidth = std::max(4, metrics.height() * 5 / 12);
    const int margin = std::max(halfLabel, g.pointerHalfWidth) + 3;
    g.left = area.left() + margin;
    g.right = std::max(g.left + 1, area.right() - margin);

    // Top to bottom: labels, major ticks, pointer (its tip points at the ticks) over the track.
    const int height = area.height();
    const bool roomForLabels = height >= metrics.height() + 22;
    g.labelTop = area.top() + 1;
    g.labelHeight = roomForLabels ? metrics.height() : 0;
    g.tickTop = g.labelTop + g.labelHeight + (roomForLabels ? 1 : 0);
    g.tickLength = std::clamp(height / 9, 3, 6);
    g.pointerTop = g.tickTop + g.tickLength + 2;
    g.pointerBottom = std::max(g.pointerTop + 8, area.bottom() - 2);
    g.trackY = g.pointerTop + (g.pointerBottom - g.pointerTop) * 3 / 5;
    return g;
}

int CiSliderX::trackX(double position) const {
    const Parts& g = parts();
    const double fraction =
        (clampPosition(position) - kPositionMin) / (kPositionMax - kPositionMin);
    return g.left + static_cast<int>(std::lround(fraction * (g.right - g.left)));
}

double CiSliderX::positionAtX(int x) const {
    const Parts& g = parts();
    const double fraction = static_cast<double>(x - g.left) / (g.right - g.left);
    return clampPosition(std::round(kPositionMin + fraction * (kPositionMax - kPositionMin)));
}

QRect CiSliderX::pointerRect(const Parts& g) const {
    const int x = trackX(m_position);
    return {x - g.pointerHalfWidth, g.pointerTop, 2 * g.pointerHalfWidth + 1,
            g.pointerBottom - g.pointerTop + 1};
}

QSize CiSliderX::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QLatin1Char('0')) * 40, metrics.height() * 2 + 24};
}

QSize CiSliderX::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("100")) * 4, 24};
}

void CiSliderX::moveBy(double delta) {
    setPosition(m_position + delta);
    showReadout();
}

void CiSliderX::operatorSet(double position) {
    emit positionChangeStarted();
    setPosition(position);
    showReadout();
    emit positionChangeFinished();
}

QString CiSliderX::readout() const {
    return QString::number(static_cast<int>(std::trunc(m_position)));
}

void CiSliderX::showReadout() {
    if (!isVisible()) return;
    const Parts& g = parts();
    // Above the pointer, where the finger or the mouse does not hide it.
    const QPoint at(trackX(m_position), g.pointerTop);
    QToolTip::showText(mapToGlobal(at), readout(), this);
}

bool CiSliderX::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), readout(), this);
        return true;
    }
    return QWidget::event(event);
}

void CiSliderX::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit mouseDown(buttonMask(event->button()), shiftState(event->modifiers()), at.x(), at.y());
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const Parts& g = parts();
    if (pointerRect(g).contains(at)) {
        m_dragOffset = at.x() - trackX(m_position);
    } else {
        m_dragOffset = 0;
        setPosition(positionAtX(at.x()));
    }
    m_dragging = true;
    showReadout();
    event->accept();
}

void CiSliderX::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        setPosition(positionAtX(event->position().toPoint().x() - m_dragOffset));
        showReadout();
    }
    event->accept();
}

void CiSliderX::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) m_dragging = false;
    const QPoint at = event->position().toPoint();
    emit mouseUp(buttonMask(event->button()), shiftState(event->modifiers()), at.x(), at.y());
    event->accept();
}

void CiSliderX::keyPressEvent(QKeyEvent* event) {
    const SliderKey* key = findKey(event->key());
    if (key == nullptr) {
        QWidget::keyPressEvent(event);  // Enter, Escape and the rest belong to the window
        return;
    }
    event->accept();
    if (std::find(m_heldKeys.begin(), m_heldKeys.end(), event->key()) == m_heldKeys.end())
        m_heldKeys.push_back(event->key());
    short keyCode = key->virtualKey;
    emit keyDown(keyCode, shiftState(event->modifiers()));
    if (keyCode == 0) return;
    if (key->step != 0) {
        moveBy(key->step);
    } else {
        setPosition(key->target);
        showReadout();
    }
}

void CiSliderX::keyReleaseEvent(QKeyEvent* event) {
    const SliderKey* key = findKey(event->key());
    if (key == nullptr) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
    // A held key repeats its press but is released once; the release of a key pressed
    // elsewhere (the Tab that brought the focus here) ends nothing.
    if (event->isAutoRepeat()) return;
    const auto held = std::find(m_heldKeys.begin(), m_heldKeys.end(), event->key());
    if (held == m_heldKeys.end()) return;
    m_heldKeys.erase(held);
    short keyCode = key->virtualKey;
    emit keyUp(keyCode, shiftState(event->modifiers()));
}

void CiSliderX::releaseHeldKeys() {
    // The window marks the position as the operator's on keyDown and only sends it (which
    // later clears the mark) on keyUp, so a key whose release goes elsewhere still ends here.
    while (!m_heldKeys.empty()) {
        const int qtKey = m_heldKeys.back();
        m_heldKeys.pop_back();
        if (const SliderKey* key = findKey(qtKey)) {
            short keyCode = key->virtualKey;
            emit keyUp(keyCode, 0);
        }
    }
}

void CiSliderX::wheelEvent(QWheelEvent* event) {
    event->accept();
    const QPoint delta = event->angleDelta();
    m_wheelRemainder += delta.y() != 0 ? delta.y() : delta.x();
    const int steps = m_wheelRemainder / kWheelNotch;
    m_wheelRemainder %= kWheelNotch;
    if (steps != 0) operatorSet(m_position + steps * kMouseWheelStepSize);
}

void CiSliderX::focusOutEvent(QFocusEvent* event) {
    releaseHeldKeys();
    QWidget::focusOutEvent(event);
}

void CiSliderX::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        // Disabled mid-gesture by a teardown: the gesture is dropped without events, the
        // window being in the middle of resetting itself.
        m_dragging = false;
        m_heldKeys.clear();
        m_wheelRemainder = 0;
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange) {
        m_background = QPixmap();
        m_pointer = QPixmap();
        m_parts.reset();
    }
    QWidget::changeEvent(event);
}

void CiSliderX::resizeEvent(QResizeEvent* event) {
    m_parts.reset();
    m_pointer = QPixmap();
    QWidget::resizeEvent(event);
}

void CiSliderX::paintEvent(QPaintEvent* event) {
    RepaintPacer::countPaintOf(this);
    const Parts& g = parts();
    const bool enabled = isEnabled();
    const qreal ratio = devicePixelRatioF();
    if (m_background.isNull() || m_background.size() != size() * ratio ||
        m_backgroundEnabled != enabled) {
        // Ticks, labels and track change only with the size and the state: drawn once, so that
        // a saturated line moving the pointer repaints little more than the pointer.
        m_background = QPixmap(size() * ratio);
        m_background.setDevicePixelRatio(ratio);
        m_background.fill(palette().color(backgroundRole()));
        m_backgroundEnabled = enabled;
        QPainter backgroundPainter(&m_background);
        paintScale(backgroundPainter, g, enabled);
    }
    if (m_pointer.isNull() || m_pointer.devicePixelRatio() != ratio ||
        m_pointerEnabled != enabled) {
        m_pointer = renderPointer(g, enabled, ratio);
        m_pointerEnabled = enabled;
    }
    QPainter painter(this);
    const QRect area = event->rect();
    painter.drawPixmap(area.topLeft(), m_background,
                       QRect(area.topLeft() * ratio, area.size() * ratio));
    const QRect plate = pointerRect(g);
    m_shownPointer = plate;
    painter.drawPixmap(plate.topLeft() - QPoint(kPointerMargin, kPointerMargin), m_pointer);

    if (hasFocus()) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

QPixmap CiSliderX::renderPointer(const Parts& g, bool enabled, qreal ratio) {
    // A plate with its tip towards the ticks, the same at every position (the pointer's centre
    // is always on a pixel's centre): drawn once per size and state, then copied.
    const int half = g.pointerHalfWidth;
    const QRect plate(kPointerMargin, kPointerMargin, 2 * half + 1,
                      g.pointerBottom - g.pointerTop + 1);
    QPixmap pixmap(QSize(plate.width() + 2 * kPointerMargin, plate.height() + 2 * kPointerMargin) *
                   ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double cx = plate.left() + half + 0.5;
    QPainterPath pointer;
    pointer.moveTo(cx, plate.top());
    pointer.lineTo(cx + half, plate.top() + half);
    pointer.lineTo(cx + half, plate.bottom());
    pointer.lineTo(cx - half, plate.bottom());
    pointer.lineTo(cx - half, plate.top() + half);
    pointer.closeSubpath();
    QLinearGradient shade(plate.topLeft(), plate.topRight());
    const QColor face = enabled ? kPointerColour : kPointerColour.darker(115);
    shade.setColorAt(0.0, face.lighter(110));
    shade.setColorAt(1.0, face.darker(120));
    painter.setBrush(shade);
    painter.setPen(QPen(enabled ? kPointerEdgeColour : kPointerEdgeColour.lighter(180), 1));
    painter.drawPath(pointer);
    painter.setPen(QPen(face.darker(150), 1));
    painter.drawLine(QPointF(cx, plate.top() + half + 2), QPointF(cx, plate.bottom() - 2));
    return pixmap;
}

void CiSliderX::paintScale(QPainter& painter, const Parts& g, bool enabled) const {
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setFont(font());
    const QColor ink =
        palette().color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);

    // Major ticks, labelled 0, 10 ... 100.
    painter.setPen(QPen(ink, 1));
    for (int i = 0; i < kTickMajorCount; ++i) {
        const double position =
            kPositionMin + (kPositionMax - kPositionMin) * i / (kTickMajorCount - 1);
        const int x = trackX(position);
        painter.drawLine(QPointF(x + 0.5, g.tickTop), QPointF(x + 0.5, g.tickTop + g.tickLength));
        if (g.labelHeight > 0) {
            const QString label = QString::number(static_cast<int>(position));
            const QRect box(x - 20, g.labelTop, 41, g.labelHeight);
            painter.drawText(box, kLabelAlignment, label);
        }
    }

    // Track.
    const QRectF track(g.left - kTrackThickness / 2.0, g.trackY - kTrackThickness / 2.0,
                       g.right - g.left + kTrackThickness, kTrackThickness);
    painter.setPen(QPen(enabled ? kTrackEdgeColour : kDisabledTrackColour.darker(130), 1));
    painter.setBrush(enabled ? kTrackColour : kDisabledTrackColour);
    painter.drawRoundedRect(track, kTrackThickness / 2.0, kTrackThickness / 2.0);
}

}  // namespace orvale::controls
