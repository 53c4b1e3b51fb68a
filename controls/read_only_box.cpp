#include "controls/read_only_box.h"
#include "controls/accessible_factory.h"
#include "controls/repaint_pacer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvale::controls {

namespace {

constexpr int kFrameWidth = 1;
constexpr int kTextMargin = 2;  // pixels between the border and the text

// A single-line box shows line ends and other control characters as blanks.
QString faceText(const QString& text) {
    QString face = text;
    for (QChar& c : face) {
        if (c.unicode() < 0x20) c = QLatin1Char(' ');
    }
    return face;
}

struct Layouts {
    QFont font;
    QHash<QString, QStaticText> byText;
};

// Laid-out texts hold the application's font engines: they go with the application.
Layouts& sharedLayouts() {
    static Layouts* layouts = [] {
        qAddPostRoutine([] { sharedLayouts().byText.clear(); });
        return new Layouts;
    }();
    return *layouts;
}

}  // namespace

// Screen readers see a read-only text: the label as its name, the held text through the text
// interface (what Orca reads and AT-SPI clients query) and as its value.
class AccessibleReadOnlyBox final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit AccessibleReadOnlyBox(ReadOnlyBox* box)
        : QAccessibleWidget(box, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.selectableText = true;
        return s;
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return box()->text();
        return QAccessibleWidget::text(t);
    }

    // Text interface. The box holds no caret and no partial selection.
    void selection(int /*selectionIndex*/, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
    }
    [[nodiscard]] int selectionCount() const override { return 0; }
    void addSelection(int /*startOffset*/, int /*endOffset*/) override {}
    void removeSelection(int /*selectionIndex*/) override {}
    void setSelection(int /*selectionIndex*/, int /*startOffset*/, int /*endOffset*/) override {}
    [[nodiscard]] int cursorPosition() const override { return 0; }
    void setCursorPosition(int /*position*/) override {}

    [[nodiscard]] QString text(int startOffset, int endOffset) const override {
        const QString& all = box()->text();
        const auto start = std::clamp<qsizetype>(startOffset, 0, all.size());
        const auto end = std::clamp<qsizetype>(endOffset, start, all.size());
        return all.mid(start, end - start);
    }
    [[nodiscard]] int characterCount() const override {
        return static_cast<int>(box()->text().size());
    }

    [[nodiscard]] QRect characterRect(int offset) const override {
        const QString face = faceText(box()->text());
        if (offset < 0 || offset >= face.size()) return {};
        const QFontMetricsF metrics(box()->font());
        const QPointF origin = box()->textOrigin();
        const qreal x = origin.x() + metrics.horizontalAdvance(face.left(offset));
        const QRectF local(x, origin.y(), metrics.horizontalAdvance(face.at(offset)),
                           metrics.height());
        return QRect(box()->mapToGlobal(local.topLeft().toPoint()), local.size().toSize());
    }

    [[nodiscard]] int offsetAtPoint(const QPoint& point) const override {
        const QString face = faceText(box()->text());
        const QFontMetricsF metrics(box()->font());
        const qreal x = box()->mapFromGlobal(point).x() - box()->textOrigin().x();
        if (x < 0) return -1;
        qreal right = 0;
        for (qsizetype i = 0; i < face.size(); ++i) {
            right += metrics.horizontalAdvance(face.at(i));
            if (x < right) return static_cast<int>(i);
        }
        return -1;
    }

    void scrollToSubstring(int /*startIndex*/, int /*endIndex*/) override {}

    [[nodiscard]] QString attributes(int /*offset*/, int* startOffset,
                                     int* endOffset) const override {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

private:
    [[nodiscard]] ReadOnlyBox* box() const { return static_cast<ReadOnlyBox*>(widget()); }
};

ReadOnlyBox::ReadOnlyBox(QWidget* parent) : QWidget(parent) {
    installAccessibleFactory<ReadOnlyBox, AccessibleReadOnlyBox>();
    // The field is painted whole: nothing behind it needs painting when the text changes.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
}

ReadOnlyBox::~ReadOnlyBox() = default;

void ReadOnlyBox::setText(const QString& text) {
    if (text == m_text) return;
    const QString before = std::exchange(m_text, text);
    m_layoutStale = true;
    // The border stays as it is on the screen: only the field inside it is repainted.
    RepaintPacer::repaint(this, field());
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, before, m_text);
        QAccessible::updateAccessibility(&event);
    }
}

void ReadOnlyBox::setAlignment(Qt::Alignment alignment) {
    if (alignment == m_alignment) return;
    m_alignment = alignment;
    update();
}

void ReadOnlyBox::copy() const {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(m_text);
}

QSize ReadOnlyBox::sizeHint() const {
    const QFontMetrics metrics(font());
    const int frame = 2 * (kFrameWidth + kTextMargin);
    return {metrics.horizontalAdvance(QLatin1Char('x')) * 17 + frame, metrics.height() + frame};
}

QSize ReadOnlyBox::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    const int frame = 2 * (kFrameWidth + kTextMargin);
    return {metrics.maxWidth() + frame, metrics.height() + frame};
}

int ReadOnlyBox::textRoom() const { return width() - 2 * (kFrameWidth + kTextMargin); }

bool ReadOnlyBox::isElided() const {
    layOut();
    return m_elided;
}

void ReadOnlyBox::layOut() const {
    if (!m_layoutStale) return;
    m_layoutStale = false;
    m_elided = false;
    // The boxes show texts from small sets (states, gears, dates, software versions) that come
    // back as the position moves: texts laid out once are kept for every box with the same
    // font. The set is bounded; when it is full it starts again.
    constexpr qsizetype kMaxLayouts = 1024;
    Layouts& shared = sharedLayouts();
    const QString face = faceText(m_text);
    const bool sharedFont = shared.font == font();
    const auto cached = sharedFont ? shared.byText.constFind(face) : shared.byText.constEnd();
    if (cached != shared.byText.constEnd()) {
        m_layout = *cached;
    } else {
        m_layout = QStaticText(face);
        m_layout.setTextFormat(Qt::PlainText);
        m_layout.prepare(QTransform(), font());
        if (!sharedFont) {
            shared.font = font();
            shared.byText.clear();
        }
        if (shared.byText.size() >= kMaxLayouts) shared.byText.clear();
        shared.byText.insert(face, m_layout);
    }
    // The window picks each box's font so that every text it can show fits; a text from
    // elsewhere (a device's build text of unusual width) is shortened rather than cut off.
    if (m_layout.size().width() > textRoom()) {
        m_elided = true;
        const QFontMetricsF metrics(font());
        m_layout = QStaticText(metrics.elidedText(face, Qt::ElideRight, textRoom()));
        m_layout.setTextFormat(Qt::PlainText);
        m_layout.prepare(QTransform(), font());
    }
}

QPointF ReadOnlyBox::textOrigin() const {
    layOut();
    const QRect area = rect().adjusted(kFrameWidth + kTextMargin, kFrameWidth,
                                       -(kFrameWidth + kTextMargin), -kFrameWidth);
    const QSizeF size = m_layout.size();
    qreal x = area.left();
    if (!m_elided && size.width() <= area.width()) {
        if (m_alignment & Qt::AlignHCenter) {
            x = area.left() + (area.width() - size.width()) / 2;
        } else if (m_alignment & Qt::AlignRight) {
            x = area.right() + 1 - size.width();
        }
    }
    return {std::round(x), std::round(area.top() + (area.height() - size.height()) / 2)};
}

QRect ReadOnlyBox::field() const {
    return rect().adjusted(kFrameWidth, kFrameWidth, -kFrameWidth, -kFrameWidth);
}

void ReadOnlyBox::paintEvent(QPaintEvent* event) {
    RepaintPacer::countPaintOf(this);
    QPainter painter(this);
    const QRect r = rect();
    const QRect inside = field();
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    if (inside.contains(event->rect())) {
        painter.fillRect(event->rect(), palette().brush(group, QPalette::Base));
    } else {
        painter.fillRect(r, palette().brush(group, QPalette::Base));
        // Sunken: dark above and left, light below and right.
        painter.setPen(palette().color(group, QPalette::Dark));
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(palette().color(group, QPalette::Light));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
        painter.setClipRect(inside);
    }

    if (m_text.isEmpty()) return;
    const QPointF origin = textOrigin();
    if (m_layout.size().width() > inside.width() - 2 * kTextMargin) painter.setClipRect(inside);
    if (hasFocus()) {
        // Focused, the whole text shows selected: it is what Ctrl+C copies.
        painter.fillRect(QRectF(origin, m_layout.size()),
                         palette().brush(group, QPalette::Highlight));
        painter.setPen(palette().color(group, QPalette::HighlightedText));
    } else {
        painter.setPen(palette().color(group, QPalette::Text));
    }
    painter.setFont(font());
    painter.drawStaticText(origin, m_layout);
}

bool ReadOnlyBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        // A shortened text is shown whole where the pointer rests on it.
        auto* help = static_cast<QHelpEvent*>(event);
        if (isElided()) {
            QToolTip::showText(help->globalPos(), m_text, this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

void ReadOnlyBox::resizeEvent(QResizeEvent* event) {
    m_layoutStale = true;
    QWidget::resizeEvent(event);
}

void ReadOnlyBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_layoutStale = true;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void ReadOnlyBox::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ReadOnlyBox::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &ReadOnlyBox::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(!m_text.isEmpty());
    menu.exec(event->globalPos());
    event->accept();
}

void ReadOnlyBox::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void ReadOnlyBox::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

}  // namespace orvale::controls
