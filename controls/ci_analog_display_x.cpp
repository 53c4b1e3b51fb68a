#include "controls/ci_analog_display_x.h"
#include "controls/accessible_factory.h"
#include "controls/repaint_pacer.h"
#include "model/display_format.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
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

}  // namespace

CiAnalogDisplayX::CiAnalogDisplayX(QWidget* parent) : QFrame(parent) {
    installAccessibleFactory<CiAnalogDisplayX, AccessibleDisplay>();
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    m_text = formatValue(m_value, m_precision, m_unitsText);
    m_shown = m_text;
    m_digitFont = digitFont(font());
    loadGlyphs();
}

CiAnalogDisplayX::CiAnalogDisplayX(const QString& label, QWidget* parent)
    : CiAnalogDisplayX(parent) {
    setAccessibleName(label);
}

CiAnalogDisplayX::~CiAnalogDisplayX() = default;

void CiAnalogDisplayX::setUnitsText(const QString& units) {
    if (units == m_unitsText) return;
    m_unitsText = units;
    loadGlyphs();
    textChanged();
}

void CiAnalogDisplayX::setPrecision(int decimals) {
    decimals = std::clamp(decimals, 0, kMaxPrecision);
    if (decimals == m_precision) return;
    m_precision = decimals;
    textChanged();
}

void CiAnalogDisplayX::setValue(double value) {
    // The presentation writes every display on every broadcast, mostly with the value it
    // already shows; the NaN case keeps a NaN from being reformatted on each write.
    if (value == m_value || (std::isnan(value) && std::isnan(m_value))) return;
    m_value = value;
    textChanged();
}

const QString& CiAnalogDisplayX::text() const {
    if (m_textStale) {
        m_text = formatValue(m_value, m_precision, m_unitsText);
        m_textStale = false;
    }
    return m_text;
}

QString CiAnalogDisplayX::formatValue(double value, int decimals, const QString& units) {
    std::string number;
    model::appendFixed(number, value, std::clamp(decimals, 0, kMaxPrecision));
    return QString::fromLatin1(number.data(), static_cast<qsizetype>(number.size())) + units;
}

void CiAnalogDisplayX::textChanged() {
    m_textStale = true;
    if (m_refreshScheduled) return;
    m_refreshScheduled = true;
    RepaintPacer::defer(this, [this] { refreshShown(); });
}

void CiAnalogDisplayX::refreshShown() {
    m_refreshScheduled = false;
    if (text() == m_shown) return;
    m_shown = m_text;
    layOutShown();
    // The frame around the face does not change: only the face is repainted.
    RepaintPacer::repaint(this, contentsRect());
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
        QAccessibleValueChangeEvent valueEvent(this, m_shown);
        QAccessible::updateAccessibility(&valueEvent);
    }
}

std::size_t CiAnalogDisplayX::NumberGlyphs::slotOf(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u == u'.') return 10;
    if (u == u'-') return 11;
    return kCount;
}

void CiAnalogDisplayX::loadGlyphs() {
    const QFontMetricsF metrics(m_digitFont);
    m_lineHeight = metrics.height();
    m_ascent = metrics.ascent();
    NumberGlyphs& g = m_glyphs;
    g.font = QRawFont::fromFont(m_digitFont);
    const QString characters = QString::fromLatin1(NumberGlyphs::kCharacters);
    const QList<quint32> indexes = g.font.glyphIndexesForString(characters);
    const QList<QPointF> advances = g.font.advancesForGlyphIndexes(indexes);
    g.complete = g.font.isValid() && indexes.size() == static_cast<qsizetype>(g.index.size()) &&
                 advances.size() == indexes.size();
    for (qsizetype i = 0; g.complete && i < indexes.size(); ++i) {
        g.index[static_cast<std::size_t>(i)] = indexes[i];
        g.advance[static_cast<std::size_t>(i)] = advances[i].x();
        g.complete = indexes[i] != 0;  // glyph 0: the font has none for it
    }
    m_unitGlyphs = g.font.glyphIndexesForString(m_unitsText);
    m_unitAdvances = g.font.advancesForGlyphIndexes(m_unitGlyphs);
    // One glyph per UTF-16 unit: characters outside the basic plane take the slow path.
    m_unitsHaveGlyphs = g.complete && m_unitGlyphs.size() == m_unitsText.size() &&
                        std::none_of(m_unitGlyphs.cbegin(), m_unitGlyphs.cend(),
                                     [](quint32 glyph) { return glyph == 0; });
    layOutShown();
}

void CiAnalogDisplayX::layOutShown() {
    m_runValid = false;
    const qsizetype numberLength = m_shown.size() - m_unitsText.size();
    if (m_unitsHaveGlyphs && numberLength >= 0 && m_shown.endsWith(m_unitsText)) {
        QList<quint32> glyphs;
        QList<QPointF> positions;
        glyphs.reserve(m_shown.size());
        positions.reserve(m_shown.size());
        qreal x = 0;
        bool known = true;
        for (qsizetype i = 0; known && i < numberLength; ++i) {
            const std::size_t slot = NumberGlyphs::slotOf(m_shown[i]);
            known = slot < m_glyphs.index.size();
            if (!known) break;
            glyphs.append(m_glyphs.index[slot]);
            positions.append(QPointF(x, 0));
            x += m_glyphs.advance[slot];
        }
        if (known) {
            for (qsizetype i = 0; i < m_unitGlyphs.size(); ++i) {
                glyphs.append(m_unitGlyphs[i]);
                positions.append(QPointF(x, 0));
                x += m_unitAdvances[i].x();
            }
            m_run.setRawFont(m_glyphs.font);
            m_run.setGlyphIndexes(glyphs);
            m_run.setPositions(positions);
            m_shownWidth = x;
            m_runValid = true;
            return;
        }
    }
    m_staticText.setText(m_shown);
    m_staticText.prepare(QTransform(), m_digitFont);
    m_shownWidth = m_staticText.size().width();
}

int CiAnalogDisplayX::textRoom() const { return contentsRect().width() - 2 * kTextMargin; }

qreal CiAnalogDisplayX::textWidth(const QString& text) const {
    return QFontMetricsF(m_digitFont).horizontalAdvance(text);
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

void CiAnalogDisplayX::paintEvent(QPaintEvent* event) {
    RepaintPacer::countPaintOf(this);
    const qreal ratio = devicePixelRatioF();
    const QRect face = contentsRect();
    QPainter painter(this);
    if (m_face.isNull() || m_face.size() != size() * ratio) {
        // The face and its sunken frame change only with the size (and the style): drawn once.
        m_face = QPixmap(size() * ratio);
        m_face.setDevicePixelRatio(ratio);
        m_face.fill(kFaceColour);
        QPainter facePainter(&m_face);
        drawFrame(&facePainter);
        painter.drawPixmap(0, 0, m_face);
    } else if (face.contains(event->rect())) {
        // A new value: the frame on the screen is still right.
        painter.fillRect(event->rect(), kFaceColour);
    } else {
        painter.drawPixmap(0, 0, m_face);
    }

    painter.setPen(isEnabled() ? kDigitColour : kDisabledDigitColour);
    const QRect textArea = face.adjusted(kTextMargin, 0, -kTextMargin, 0);
    // Right-aligned like a counter; a text too long for the face keeps its leading digits and
    // loses the units instead.
    const bool fits = m_shownWidth <= textArea.width();
    const qreal x = fits ? textArea.right() + 1 - m_shownWidth : textArea.left();
    if (!fits) painter.setClipRect(face);
    const qreal top = textArea.top() + (textArea.height() - m_lineHeight) / 2;
    if (m_runValid) {
        painter.drawGlyphRun(QPointF(x, top + m_ascent), m_run);
    } else {
        painter.setFont(m_digitFont);
        painter.drawStaticText(QPointF(x, top), m_staticText);
    }
}

void CiAnalogDisplayX::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_digitFont = digitFont(this->font());
        loadGlyphs();
        updateGeometry();
    }
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::EnabledChange) {
        m_face = QPixmap();
    }
    QFrame::changeEvent(event);
}

}  // namespace orvale::controls
