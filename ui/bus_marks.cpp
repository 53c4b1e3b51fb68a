#include "ui/bus_marks.h"

#include <algorithm>

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QWidget>

#include "ui/main_dialog.h"

namespace orvale::ui {

namespace {

QColor colourOf(bus::RowState state) {
    return state == bus::RowState::kMismatch ? QColor(0xd0, 0x20, 0x20) : QColor(0xe0, 0x90, 0x00);
}

}  // namespace

QString busTipOf(const bus::BusRow& row) {
    if (row.state == bus::RowState::kMissing) {
        return row.observedText.empty() ? QStringLiteral("Bus: not seen")
                                        : QStringLiteral("Bus: not seen for 3 periods (last %1)")
                                              .arg(QString::fromStdString(row.observedText));
    }
    QString tip = QStringLiteral("Bus: %1").arg(QString::fromStdString(row.observedText));
    if (!row.difference.empty())
        tip += QStringLiteral(" (%1)").arg(QString::fromStdString(row.difference));
    return tip;
}

BusMarks::BusMarks(CMainDialog& window, bus::BusMonitor& monitor)
    : QObject(&window), m_window(window), m_monitor(monitor) {
    m_window.setDecorationPainter([this](QPainter& painter) { paint(painter); });
    m_monitor.addListener(this);
    busRefreshed(m_monitor);
}

BusMarks::~BusMarks() {
    m_monitor.removeListener(this);
    m_window.setDecorationPainter({});
}

void BusMarks::busRefreshed(const bus::BusMonitor& monitor) {
    std::vector<Mark> marks;
    for (const bus::BusRow& row : monitor.check().rows()) {
        if (row.state != bus::RowState::kMismatch && row.state != bus::RowState::kMissing) continue;
        marks.push_back({row.id, row.state, busTipOf(row)});
    }
    if (marks == m_marks) return;  // four refreshes a second; repaint only on a change
    m_marks = std::move(marks);
    for (const Mark& mark : m_marks) {
        QWidget* widget = m_window.control(mark.id);
        if (widget == nullptr ||
            std::find(m_watched.begin(), m_watched.end(), widget) != m_watched.end()) {
            continue;
        }
        widget->installEventFilter(this);
        m_watched.push_back(widget);
    }
    m_window.update();
}

const BusMarks::Mark* BusMarks::markOf(const QObject* widget) const {
    for (const Mark& mark : m_marks) {
        if (m_window.control(mark.id) == widget) return &mark;
    }
    return nullptr;
}

bool BusMarks::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip) return false;
    const Mark* mark = markOf(watched);
    if (mark == nullptr) return false;  // the control's own tooltip, if any
    auto* widget = static_cast<QWidget*>(watched);
    const QString own = widget->toolTip();
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                       own.isEmpty() ? mark->tip : own + QLatin1Char('\n') + mark->tip, widget);
    return true;
}

void BusMarks::paint(QPainter& painter) const {
    // Two pixels wide, a pixel outside the control: around it, never over its text.
    const qreal width = 2.0;
    for (const Mark& mark : m_marks) {
        const QWidget* widget = m_window.control(mark.id);
        if (widget == nullptr || !widget->isVisible()) continue;
        const QRect area(widget->mapTo(&m_window, QPoint(0, 0)), widget->size());
        painter.setPen(QPen(colourOf(mark.state), width));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(area).adjusted(-2.0, -2.0, 2.0, 2.0));
    }
}

}  // namespace orvale::ui
