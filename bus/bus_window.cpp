#include "bus/bus_window.h"

#include <algorithm>

#include <QCheckBox>
#include <QColor>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QTableView>
#include <QVBoxLayout>

#include "model/display_format.h"

namespace orvale::bus {
namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The device's texts are Latin-1, as the main window shows them.
QString fromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString stateText(RowState state) {
    switch (state) {
        case RowState::kMismatch:
            return BusTableModel::tr("mismatch");
        case RowState::kMissing:
            return BusTableModel::tr("missing");
        case RowState::kMatch:
            return BusTableModel::tr("match");
        case RowState::kNotModelled:
            break;
    }
    return BusTableModel::tr("not modelled");
}

// What the window shows, as it shows it: a number with its display's decimals and units.
QString expectedText(std::size_t index, const BusRow& row) {
    const DisplayValue& v = row.expected;
    switch (v.kind) {
        case DisplayValue::Kind::kNone:
            return {};
        case DisplayValue::Kind::kNumber: {
            const int decimals = model::shownDecimals(
                index < model::kNumericDisplayCount ? model::kNumericDisplays[index].decimals : -1);
            return fromUtf8(model::formatFixed(v.number, decimals)) + fromUtf8(row.units);
        }
        case DisplayValue::Kind::kBool:
            return v.lit ? BusTableModel::tr("on") : BusTableModel::tr("off");
        case DisplayValue::Kind::kText:
            break;
    }
    return fromLatin1(v.text);
}

// In whole seconds: a frame that comes several times a second reads "< 1 s" and stays so,
// instead of repainting its cell at every refresh; a stale one counts up.
QString ageText(const std::optional<std::uint64_t>& ageMs) {
    if (!ageMs) return BusTableModel::tr("never");
    if (*ageMs < 1000) return BusTableModel::tr("< 1 s");
    return BusTableModel::tr("%1 s").arg(*ageMs / 1000);
}

}  // namespace

QString summaryOf(const BusSummary& s) {
    return BusTableModel::tr(
               "%1 mismatch, %2 missing, %3 match, %4 not modelled · %5 frames/s · "
               "broadcasts: %6 read whole, %7 dropped · %8 frames from other "
               "senders")
        .arg(s.count(RowState::kMismatch))
        .arg(s.count(RowState::kMissing))
        .arg(s.count(RowState::kMatch))
        .arg(s.count(RowState::kNotModelled))
        .arg(s.framesPerSecond)
        .arg(s.bamCompleted)
        .arg(s.bamDropped)
        .arg(s.otherSenders);
}

BusTableModel::BusTableModel(QObject* parent) : QAbstractTableModel(parent) {
    m_rows.resize(BusCheck::kRowCount);
}

void BusTableModel::setWorstFirst(bool worstFirst) {
    if (worstFirst == m_worstFirst) return;
    m_worstFirst = worstFirst;
    if (m_check != nullptr) update(*m_check);
}

void BusTableModel::update(const BusCheck& check) {
    m_check = &check;
    std::array<std::uint8_t, BusCheck::kRowCount> order{};
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = m_worstFirst ? check.worstFirst()[i] : static_cast<std::uint8_t>(i);
    }
    const bool reordered = order != m_lastOrder;
    if (reordered) emit layoutAboutToBeChanged();
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::size_t index = order[i];
        const BusRow& row = check.rows()[index];
        Shown shown;
        shown.texts[kParameter] = fromUtf8(row.label);
        shown.texts[kExpected] = expectedText(index, row);
        shown.texts[kObserved] = index < model::kNumericDisplayCount ? fromUtf8(row.observedText)
                                                                     : fromLatin1(row.observedText);
        shown.texts[kDifference] = fromUtf8(row.difference);
        shown.texts[kAge] = ageText(row.ageMs);
        shown.texts[kState] = stateText(row.state);
        shown.state = row.state;
        Shown& before = m_rows[i];
        if (shown == before) continue;
        // Only the cells that changed are repainted (most often the age alone): a whole row
        // when its state, and so its colour, changed.
        int first = 0;
        int last = kColumnCount - 1;
        if (shown.state == before.state) {
            while (first < kColumnCount && shown.texts[static_cast<std::size_t>(first)] ==
                                               before.texts[static_cast<std::size_t>(first)]) {
                ++first;
            }
            while (last > first && shown.texts[static_cast<std::size_t>(last)] ==
                                       before.texts[static_cast<std::size_t>(last)]) {
                --last;
            }
        }
        before = std::move(shown);
        if (!reordered) {
            emit dataChanged(this->index(static_cast<int>(i), first),
                             this->index(static_cast<int>(i), last));
        }
    }
    if (reordered) {
        m_lastOrder = order;
        emit layoutChanged();
    }
}

int BusTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int BusTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant BusTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Shown& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return row.texts[static_cast<std::size_t>(index.column())];
        case Qt::BackgroundRole:
            // Light colours with dark text below: readable whatever the palette.
            if (row.state == RowState::kMismatch) return QColor(255, 196, 196);
            if (row.state == RowState::kMissing) return QColor(255, 226, 170);
            return {};
        case Qt::ForegroundRole:
            if (row.state == RowState::kMismatch || row.state == RowState::kMissing) {
                return QColor(Qt::black);
            }
            if (row.state == RowState::kNotModelled) {
                return QPalette().color(QPalette::Disabled, QPalette::Text);
            }
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == kAge) return int(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        default:
            return {};
    }
}

QVariant BusTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kParameter:
            return tr("Parameter");
        case kExpected:
            return tr("Window");
        case kObserved:
            return tr("Bus");
        case kDifference:
            return tr("Difference");
        case kAge:
            return tr("Last frame");
        case kState:
            return tr("State");
        default:
            return {};
    }
}

BusWindow::BusWindow(BusMonitor& monitor, QWidget* parent)
    : QWidget(parent, Qt::Window), m_monitor(monitor) {
    setWindowTitle(tr("Orvale - Bus %1").arg(fromUtf8(monitor.interfaceText())));
    auto* layout = new QVBoxLayout(this);
    m_status = new QLabel(this);
    m_status->setAccessibleName(tr("Interface"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setWordWrap(true);
    m_summary = new QLabel(this);
    m_summary->setAccessibleName(tr("Summary"));
    m_summary->setWordWrap(true);
    m_worstFirst = new QCheckBox(tr("&Mismatches first"), this);
    m_worstFirst->setChecked(true);
    m_worstFirst->setAccessibleName(tr("Mismatches first"));
    connect(m_worstFirst, &QCheckBox::toggled, this,
            [this](bool on) { m_model.setWorstFirst(on); });
    m_view = new QTableView(this);
    m_view->setModel(&m_model);
    m_view->setAccessibleName(tr("Parameters on the bus"));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->setVisible(false);
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setWordWrap(false);
    layout->addWidget(m_status);
    layout->addWidget(m_summary);
    layout->addWidget(m_worstFirst);
    layout->addWidget(m_view, 1);
    const QFontMetrics metrics = fontMetrics();
    int labelWidth = 0;
    for (const BusRow& row : monitor.check().rows()) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(fromUtf8(row.label)));
    }
    m_view->setColumnWidth(BusTableModel::kParameter, labelWidth + 12);
    m_view->setColumnWidth(BusTableModel::kExpected,
                           metrics.horizontalAdvance(QStringLiteral("1M8GDM9AXKP042788*")) + 12);
    m_view->setColumnWidth(BusTableModel::kObserved,
                           metrics.horizontalAdvance(QStringLiteral("1M8GDM9AXKP042788*")) + 12);
    m_view->setColumnWidth(
        BusTableModel::kDifference,
        metrics.horizontalAdvance(QStringLiteral("bus 00, expected 01 ..")) + 12);
    m_view->setColumnWidth(BusTableModel::kAge,
                           metrics.horizontalAdvance(QStringLiteral("Last frame")) + 16);
    resize(1000, 640);
    m_monitor.addListener(this);
    render(m_monitor);
}

BusWindow::~BusWindow() { m_monitor.removeListener(this); }

void BusWindow::bringToFront() {
    if (isMinimized()) showNormal();
    QWidget::show();
    raise();
    activateWindow();
}

void BusWindow::showEvent(QShowEvent* event) {
    render(m_monitor);
    QWidget::showEvent(event);
}

void BusWindow::busRefreshed(const BusMonitor& monitor) {
    // A hidden window costs nothing: it catches up when shown.
    if (isVisible()) render(monitor);
}

void BusWindow::render(const BusMonitor& monitor) {
    const QString status = fromUtf8(monitor.linkStatus());
    // Each label is named for what it is; a screen reader reads its text as the description.
    if (m_status->text() != status) {
        m_status->setText(status);
        m_status->setAccessibleDescription(status);
        m_status->setStyleSheet(monitor.linkProblem() ? QStringLiteral("color: #b00000;")
                                                      : QString());
    }
    const QString summary = summaryOf(monitor.check().summary());
    if (m_summary->text() != summary) {
        m_summary->setText(summary);
        m_summary->setAccessibleDescription(summary);
    }
    m_model.update(monitor.check());
}

QString BusWindow::summaryText() const { return m_summary->text(); }

}  // namespace orvale::bus
