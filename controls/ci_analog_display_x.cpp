#include "controls/ci_analog_display_x.h"
#include "controls/repaint_pacer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvale::controls {

namespace {

const QColor kFaceColour(16, 16, 16);
const QColor kDigitColour(0, 255, 0);  // lime
const QColor kDisabledDigitColour(0, 110, 0);
constexpr int kTextMargin = 3;  // pixels between the digits and the frame

QFont digitFont(const QFont& base) {
    QFont bold(base);
    bold.setBold(true);
    return bold;
}

// Screen readers read the display like a read-only label: its name, then the shown text.
class AccessibleDisplay final : public QAccessibleWidget {
public:
    explicit AccessibleDisplay(CiAnalogDisplayX* display)
        : QAccessibleWidget(display, QAccessible::StaticText) {}

    [[nodiscard]] QString text(QAccessible::Text t) const override {
        const auto* display = static_cast<const CiAnalogDisplayX*>(widget());
        switch (t) {
            case QAccessible::Value:
            case QAccessible::Description:
                return display->text();
            default:
                return QAccessibleWidget::text(t);
        }
    }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(CiAnalogDisplayX::staticMetaObject.className()))
        return new AccessibleDisplay(static_cast<CiAnalogDisplayX*>(object));
    return nullptr;
}

}  // namespace

CiAnalogDisplayX::CiAnalogDisplayX(QWidget* parent) : QFrame(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(&accessibleFactory), true);
    (void)factoryInstalled;
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    m_text = formatValue(m_value, m_precision, m_unitsText);
    m_digitFont = digitFont(font());
}

CiAnalogDisplayX::CiAnalogDisplayX(const QString& label, QWidget* parent)
    : CiAnalogDisplayX(parent) {
    setAccessibleName(label);
}

CiAnalogDisplayX::~CiAnalogDisplayX() = default;

void CiAnalogDisplayX::setUnitsText(const QString& units) {
    if (units == m_unitsText) return;
    m_unitsText = units;
    refreshText();
}

void CiAnalogDisplayX::setPrecision(int decimals) {
    decimals = std::clamp(decimals, 0, kMaxPrecision);
    if (decimals == m_precision) return;
    m_precision = decimals;
    refreshText();
}

void CiAnalogDisplayX::setValue(double value) {
    // The presentation writes every display on every broadcast, mostly with the value it
    // already shows; the NaN case keeps a NaN from being reformatted on each write.
    if (value == m_value || (std::isnan(value) && std::isnan(m_value))) return;
    m_value = value;
    refreshText();
}

QString CiAnalogDisplayX::formatValue(double value, int decimals, const QString& units) {
    QString number = QString::number(value, 'f', std::clamp(decimals, 0, kMaxPrecision));
    // -0.04 at one decimal would read "-0.0"; an instrument shows no sign on a zero.
    if (number.startsWith(QLatin1Char('-')) &&
        std::all_of(number.cbegin() + 1, number.cend(),
                    [](QChar c) { return c == QLatin1Char('0') || c == QLatin1Char('.'); })) {
        number.remove(0, 1);
    }
    return number + units;
}

void CiAnalogDisplayX::refreshText() {
    QString text = formatValue(m_value, m_precision, m_unitsText);
    if (text == m_text) return;
    m_text = std::move(text);
    m_staticTextStale = true;
    RepaintPacer::instance().request(this);
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
        QAccessibleValueChangeEvent valueEvent(this, m_text);
        QAccessible::updateAccessibility(&valueEvent);
    }
}

QSize CiAnalogDisplayX::sizeHint() const {
    const QFontMetrics metrics(digitFont(font()));
    const int frame = 2 * frameWidth();
    const int width = metrics.horizontalAdvance(QStringLiteral("00000.00") + m_unitsText);
    return {width + frame + 2 * kTextMargin, metrics.height() + frame + 2};
}

QSize CiAnalogDisplayX::minimumSizeHint() const {
    const QFontMetrics metrics(digitFont(font()));
    const int frame = 2 * frameWidth();
    return {metrics.horizontalAdvance(QLatin1Char('0')) * 3 + frame, metrics.height() + frame};
}

void CiAnalogDisplayX::paintEvent(QPaintEvent* /*event*/) {
    RepaintPacer::instance().countPaint();
    const qreal ratio = devicePixelRatioF();
    if (m_face.isNull() || m_face.size() != size() * ratio) {
        // The face and its sunken frame change only with the size (and the style): drawn once.
        m_face = QPixmap(size() * ratio);
        m_face.setDevicePixelRatio(ratio);
        m_face.fill(kFaceColour);
        QPainter facePainter(&m_face);
        drawFrame(&facePainter);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_face);

    const QFont& font = m_digitFont;
    if (m_staticTextStale) {
        m_staticText.setText(m_text);
        m_staticText.prepare(QTransform(), font);
        m_staticTextStale = false;
    }
    painter.setFont(font);
    painter.setPen(isEnabled() ? kDigitColour : kDisabledDigitColour);
    const QRect face = contentsRect();
    const QRect textArea = face.adjusted(kTextMargin, 0, -kTextMargin, 0);
    // Right-aligned like a counter; a text too long for the face keeps its leading digits and
    // loses the units instead.
    const QSizeF textSize = m_staticText.size();
    const bool fits = textSize.width() <= textArea.width();
    const qreal x = fits ? textArea.right() + 1 - textSize.width() : textArea.left();
    const qreal y = textArea.top() + (textArea.height() - textSize.height()) / 2;
    painter.setClipRect(face);
    painter.drawStaticText(QPointF(x, y), m_staticText);
}

void CiAnalogDisplayX::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_digitFont = digitFont(this->font());
        m_staticTextStale = true;
        updateGeometry();
    }
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::EnabledChange) {
        m_face = QPixmap();
    }
    QFrame::changeEvent(event);
}

}  // namespace orvale::controls
