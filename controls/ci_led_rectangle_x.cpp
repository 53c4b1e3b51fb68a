#include "controls/ci_led_rectangle_x.h"
#include "controls/accessible_factory.h"
#include "controls/repaint_pacer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPainter>

#include <cmath>

namespace orvale::controls {

namespace {

const QColor kOffColour(0, 0, 0);
const QColor kOnColour(40, 235, 40);
const QColor kOffTextColour(170, 170, 170);
const QColor kOnTextColour(0, 0, 0);
const QColor kBezelColour(64, 64, 64);

class AccessibleLed final : public QAccessibleWidget {
public:
    explicit AccessibleLed(CiLedRectangleX* led) : QAccessibleWidget(led, QAccessible::CheckBox) {}

    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = led()->Active();
        s.readOnly = true;
        return s;
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name: {
                const QString name = QAccessibleWidget::text(t);
                return name.isEmpty() ? led()->CenterLabelText() : name;
            }
            case QAccessible::Value:
            case QAccessible::Description:
                return led()->Active() ? QStringLiteral("on") : QStringLiteral("off");
            default:
                return QAccessibleWidget::text(t);
        }
    }

private:
    [[nodiscard]] const CiLedRectangleX* led() const {
        return static_cast<const CiLedRectangleX*>(widget());
    }
};

}  // namespace

CiLedRectangleX::CiLedRectangleX(QWidget* parent) : QWidget(parent) {
    installAccessibleFactory<CiLedRectangleX, AccessibleLed>();
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

CiLedRectangleX::CiLedRectangleX(const QString& label, QWidget* parent) : CiLedRectangleX(parent) {
    m_label = label;
}

CiLedRectangleX::~CiLedRectangleX() = default;

void CiLedRectangleX::setCenterLabelText(const QString& label) {
    if (label == m_label) return;
    m_label = label;
    m_labelLayoutStale = true;
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void CiLedRectangleX::setActive(bool active) {
    if (active == m_active) return;
    m_active = active;
    RepaintPacer::repaint(this);
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

QSize CiLedRectangleX::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_label) + 10, metrics.height() + 6};
}

void CiLedRectangleX::paintEvent(QPaintEvent* /*event*/) {
    RepaintPacer::countPaintOf(this);
    QPainter painter(this);
    const QRect outer = rect();
    painter.fillRect(outer, kBezelColour);
    const QRect lamp = outer.adjusted(kLampInset, kLampInset, -kLampInset, -kLampInset);
    QColor lampColour = m_active ? kOnColour : kOffColour;
    if (!isEnabled() && m_active) lampColour = lampColour.darker(160);
    painter.fillRect(lamp, lampColour);
    if (m_active) {
        // A lighter top edge reads as a lit lens rather than a flat green patch.
        painter.fillRect(QRect(lamp.left(), lamp.top(), lamp.width(), 1), kOnColour.lighter(130));
    }
    painter.setPen(m_active ? kOnTextColour : kOffTextColour);
    // The label is laid out once: a busy line can switch the lamp with every screen refresh.
    if (m_labelLayoutStale) {
        m_labelLayout.setText(m_label);
        m_labelLayout.setTextFormat(Qt::PlainText);
        m_labelLayout.prepare(QTransform(), font());
        m_labelLayoutStale = false;
    }
    const QSizeF size = m_labelLayout.size();
    painter.setFont(font());
    painter.drawStaticText(QPointF(std::round(lamp.left() + (lamp.width() - size.width()) / 2),
                                   std::round(lamp.top() + (lamp.height() - size.height()) / 2)),
                           m_labelLayout);
}

void CiLedRectangleX::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) m_labelLayoutStale = true;
    QWidget::changeEvent(event);
}

}  // namespace orvale::controls
