#include "plot/plot_window.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "plot/csv_export.h"
#include "plot/cursor_readout.h"
#include "plot/plot_widget.h"

namespace orvale::plot {
namespace {

// The plot is repainted at most this often: smooth enough for a curve that moves a pixel per
// 60 ms in the default one-minute window, and half the cost of following every refresh.
constexpr int kTickMs = 33;
// The values beside the check boxes change at most this many ticks apart (half a second):
// read, not watched, and a list of 83 changing labels costs more than the plot.
constexpr unsigned kTicksPerValueUpdate = 15;

constexpr std::array<int, 7> kTimeWindows = {10, 30, 60, 300, 600, 1800, 3600};
constexpr int kDefaultTimeWindow = 60;

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString timeWindowText(int seconds) {
    if (seconds < 60) return PlotWindow::tr("%1 s").arg(seconds);
    if (seconds < 3600) return PlotWindow::tr("%1 min").arg(seconds / 60);
    return PlotWindow::tr("%1 h").arg(seconds / 3600);
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* error) {
    // Whole or not at all: a crash or a full disk never leaves half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = PlotWindow::tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QString describeIdentity(const std::string& model, const std::string& serial,
                         const std::string& firmware, const std::string& build,
                         const std::string& canBaudRate, const std::string& vinStyle) {
    return PlotWindow::tr(
               "%1, serial number %2, firmware %3, build %4, CAN baud rate %5, VIN "
               "style %6")
        .arg(fromUtf8(model), fromUtf8(serial), fromUtf8(firmware).trimmed(),
             fromUtf8(build).trimmed(), fromUtf8(canBaudRate), fromUtf8(vinStyle));
}

}  // namespace

PlotWindow::PlotWindow(std::unique_ptr<SeriesStore> store, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(std::move(store)) {
    m_present.fill(true);
}

PlotWindow::PlotWindow(session::DeviceSession& session, QWidget* parent)
    : PlotWindow(session, &systemNow, parent) {}

PlotWindow::PlotWindow(session::DeviceSession& session, SessionFeed::Clock clock, QWidget* parent)
    : PlotWindow(std::make_unique<SeriesStore>(), parent) {
    m_session = &session;
    m_feed = std::make_unique<SessionFeed>(*m_store, session, std::move(clock));
    session.addObserver(m_feed.get());
    setWindowTitle(tr("Orvale - Plot"));
    build();
}

PlotWindow::PlotWindow(Recording recording, const QString& source, QWidget* parent)
    : PlotWindow(std::make_unique<SeriesStore>(std::move(recording.store)), parent) {
    m_present = recording.present;
    m_recordingIdentity = recording.identity;
    QStringList notes;
    notes << tr("rows read: %1").arg(recording.rowsRead);
    if (recording.rowsSkipped > 0) {
        notes << tr("rows that could not be read, left out: %1").arg(recording.rowsSkipped);
        if (!recording.problems.empty()) {
            notes << tr("the first: %1").arg(fromUtf8(recording.problems.front()));
        }
    }
    if (recording.cutShortAtLine) {
        notes << tr("the file is cut short: line %1 is incomplete and was left out")
                     .arg(*recording.cutShortAtLine);
    }
    if (!recording.stoppedReason.empty()) {
        notes << tr("the recording stopped: %1").arg(fromUtf8(recording.stoppedReason));
    }
    if (recording.identityChanges > 0) {
        notes << tr("the identity changed during the recording (%1 times); the last is shown")
                     .arg(recording.identityChanges);
    }
    m_recordingSummary = tr("%1: %2").arg(source, notes.join(QStringLiteral("; ")));
    setWindowTitle(tr("Orvale - %1").arg(source));
    build();
    setPaused(true);
    m_plot->fitToData();
}

PlotWindow::~PlotWindow() {
    if (m_session) m_session->removeObserver(m_feed.get());
}

std::unique_ptr<PlotWindow> PlotWindow::openRecording(const QString& path, QString* error,
                                                      QWidget* parent) {
    ReadResult read = readRecordingFile(path.toStdString());
    if (!read.recording) {
        if (error) {
            *error = read.error.line > 0 ? tr("%1, line %2: %3")
                                               .arg(path)
                                               .arg(read.error.line)
                                               .arg(fromUtf8(read.error.reason))
                                         : fromUtf8(read.error.reason);
        }
        return nullptr;
    }
    return std::make_unique<PlotWindow>(std::move(*read.recording), QFileInfo(path).fileName(),
                                        parent);
}

void PlotWindow::build() {
    m_plot = new PlotWidget(*m_store, this);
    m_plot->setSpan(kDefaultTimeWindow * 1000.0);

    m_identity = new QLabel(this);
    m_identity->setWordWrap(true);
    m_identity->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_identity->setAccessibleName(tr("Device"));

    m_readout = new QLabel(this);
    m_readout->setWordWrap(true);
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_readout->setAccessibleName(tr("Cursor readout"));
    m_readout->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_timeWindow = new QComboBox(this);
    m_timeWindow->setAccessibleName(tr("Time window"));
    for (const int seconds : kTimeWindows) m_timeWindow->addItem(timeWindowText(seconds), seconds);
    m_timeWindow->setCurrentIndex(m_timeWindow->findData(kDefaultTimeWindow));
    auto* timeWindowLabel = new QLabel(tr("&Time window:"), this);
    timeWindowLabel->setBuddy(m_timeWindow);

    m_pause = new QPushButton(tr("&Pause"), this);
    m_pause->setCheckable(true);
    m_pause->setAccessibleName(tr("Pause"));
    m_pause->setVisible(m_session != nullptr);  // a recording does not move
    auto* fit = new QPushButton(tr("&Fit to data"), this);
    fit->setAccessibleName(tr("Fit to data"));
    auto* clearCursors = new QPushButton(tr("Clear &cursors"), this);
    clearCursors->setAccessibleName(tr("Clear cursors"));
    auto* png = new QPushButton(tr("Export P&NG..."), this);
    png->setAccessibleName(tr("Export PNG"));
    auto* csv = new QPushButton(tr("Export C&SV..."), this);
    csv->setAccessibleName(tr("Export CSV"));

    auto* controls = new QHBoxLayout;
    controls->addWidget(timeWindowLabel);
    controls->addWidget(m_timeWindow);
    controls->addWidget(m_pause);
    controls->addWidget(fit);
    controls->addWidget(clearCursors);
    controls->addStretch(1);
    controls->addWidget(png);
    controls->addWidget(csv);

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(m_plot, 1);
    rightLayout->addWidget(m_readout);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(buildSeriesList());
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({splitter->widget(0)->minimumWidth(), 10'000});
    splitter->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_identity);
    layout->addWidget(splitter, 1);
    layout->addLayout(controls);

    connect(m_timeWindow, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_plot->setSpan(m_timeWindow->itemData(index).toInt() * 1000.0); });
    connect(m_pause, &QPushButton::toggled, this, &PlotWindow::setPaused);
    connect(fit, &QPushButton::clicked, m_plot, &PlotWidget::fitToData);
    connect(clearCursors, &QPushButton::clicked, this, [this] {
        m_plot->setCursorTime(0, std::nullopt);
        m_plot->setCursorTime(1, std::nullopt);
    });
    connect(png, &QPushButton::clicked, this, &PlotWindow::askExportPng);
    connect(csv, &QPushButton::clicked, this, &PlotWindow::askExportCsv);
    connect(m_plot, &PlotWidget::followingChanged, this, &PlotWindow::onFollowingChanged);
    connect(m_plot, &PlotWidget::cursorsChanged, this, &PlotWindow::updateReadout);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    m_ticker.setInterval(kTickMs);
    connect(&m_ticker, &QTimer::timeout, this, &PlotWindow::refreshNow);

    updateIdentity();
    updateValues();
    updateReadout();
    resize(1100, 680);
}

QWidget* PlotWindow::buildSeriesList() {
    auto* list = new QWidget;
    auto* listLayout = new QVBoxLayout(list);
    for (const model::DisplayGroup group :
         {model::DisplayGroup::Common, model::DisplayGroup::TruckOnly,
          model::DisplayGroup::BusOnly}) {
        auto* box = new QGroupBox(fromUtf8(model::caption(group)), list);
        auto* grid = new QGridLayout(box);
        grid->setColumnStretch(0, 1);
        int row = 0;
        for (std::size_t s = 0; s < kSeriesCount; ++s) {
            const SeriesInfo& info = seriesInfo(s);
            if (info.group != group) continue;
            const QString label = fromUtf8(info.label);
            auto* check = new QCheckBox(label, box);
            check->setAccessibleName(label);
            check->setEnabled(m_present[s]);
            auto* swatch = new QLabel(box);
            swatch->setFixedSize(14, 14);
            swatch->setAccessibleName(tr("%1 colour").arg(label));
            auto* value = new QLabel(box);
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            value->setAccessibleName(tr("%1 value").arg(label));
            // Room for most values, and a fixed size: the list does not jump as they change,
            // and a new value repaints its label without laying out the whole list again.
            value->setFixedSize(
                value->fontMetrics().horizontalAdvance(QStringLiteral("00000.000 km/hr")),
                value->sizeHint().height());
            // Opaque: a new value repaints the label alone, not the group box behind it.
            value->setAutoFillBackground(true);
            grid->addWidget(check, row, 0);
            grid->addWidget(swatch, row, 1);
            grid->addWidget(value, row, 2);
            ++row;
            m_boxes[s] = check;
            m_swatches[s] = swatch;
            m_values[s] = value;
            updateSwatch(s);
            connect(check, &QCheckBox::toggled, this, [this, s](bool on) {
                m_plot->setSeriesVisible(s, on);
                updateSwatch(s);
                updateReadout();
            });
        }
        listLayout->addWidget(box);
    }
    listLayout->addStretch(1);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(list);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(list->sizeHint().width() + 24);
    scroll->setAccessibleName(tr("Parameters"));
    return scroll;
}

void PlotWindow::updateSwatch(std::size_t series) {
    QPixmap pixmap(12, 12);
    const bool shown = m_plot->isSeriesVisible(series);
    pixmap.fill(shown ? m_plot->colour(series) : Qt::transparent);
    if (shown) {
        QPainter painter(&pixmap);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(0, 0, 11, 11);
    }
    m_swatches[series]->setPixmap(pixmap);
}

bool PlotWindow::showSeries(model::ControlId id) {
    const auto series = seriesOf(id);
    if (!series || !m_present[*series]) return false;
    m_boxes[*series]->setChecked(true);
    return true;
}

bool PlotWindow::showSeriesByLabel(const QString& label) {
    const auto series = findSeries(label.toStdString());
    return series && showSeries(seriesInfo(*series).id);
}

bool PlotWindow::showSeriesByLabels(const QString& labels, QString* error) {
    const SeriesList list = parseSeriesList(labels.toStdString());
    if (!list.error.empty()) {
        if (error) *error = fromUtf8(list.error);
        return false;
    }
    for (const std::size_t s : list.series) {
        if (!m_present[s]) {
            if (error)
                *error = tr("the recording has no column \"%1\"").arg(fromUtf8(columnName(s)));
            return false;
        }
    }
    for (const std::size_t s : list.series) m_boxes[s]->setChecked(true);
    return true;
}

void PlotWindow::bringToFront() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void PlotWindow::setPaused(bool paused) {
    m_plot->setFollowing(!paused && m_session != nullptr);
    onFollowingChanged(m_plot->following());
}

bool PlotWindow::isPaused() const { return !m_plot->following(); }

void PlotWindow::onFollowingChanged(bool following) {
    const QSignalBlocker blocker(m_pause);
    m_pause->setChecked(!following);
    m_pause->setText(following ? tr("&Pause") : tr("&Resume live"));
    m_pause->setAccessibleName(following ? tr("Pause") : tr("Resume live"));
}

void PlotWindow::setTimeWindow(int seconds) {
    const int index = m_timeWindow->findData(seconds);
    if (index >= 0) {
        m_timeWindow->setCurrentIndex(index);
    } else {
        m_plot->setSpan(std::clamp(seconds, kTimeWindows.front(), kTimeWindows.back()) * 1000.0);
    }
}

bool PlotWindow::exportPng(const QString& path, QString* error) {
    const QImage image = m_plot->grab().toImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (error) *error = tr("Cannot make a PNG image of the plot");
        return false;
    }
    return writeWhole(path, bytes, error);
}

bool PlotWindow::exportCsv(const QString& path, QString* error) {
    const std::string text = plot::exportCsv(*m_store, m_plot->visibleSeries(), m_plot->range());
    return writeWhole(path, QByteArray::fromStdString(text), error);
}

void PlotWindow::askExportPng() {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export the plot as PNG"), QStringLiteral("plot.png"), tr("PNG images (*.png)"));
    QString error;
    if (!path.isEmpty() && !exportPng(path, &error)) {
        QMessageBox::warning(this, windowTitle(), error);
    }
}

void PlotWindow::askExportCsv() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export the visible range as CSV"),
                                     QStringLiteral("plot.csv"), tr("CSV files (*.csv)"));
    QString error;
    if (!path.isEmpty() && !exportCsv(path, &error)) {
        QMessageBox::warning(this, windowTitle(), error);
    }
}

void PlotWindow::refreshNow() {
    if (m_feed) m_feed->holdUntilNow();
    m_plot->refresh();
    if (++m_ticks % kTicksPerValueUpdate == 0) {
        updateValues();
        updateReadout();
    }
    if (m_feed && m_feed->identityRevision() != m_identityShown) updateIdentity();
}

void PlotWindow::updateValues() {
    for (std::size_t s = 0; s < kSeriesCount; ++s) {
        const SeriesBuffer& series = m_store->series(s);
        const QString text = series.empty()
                                 ? QString()
                                 : QString::fromStdString(formatValue(s, series.back().value));
        if (m_values[s]->text() == text) continue;
        m_values[s]->setText(text);
        // A screen reader on the list hears the value with the label.
        m_boxes[s]->setAccessibleDescription(text);
    }
}

void PlotWindow::updateIdentity() {
    if (!m_feed) {
        const RecordingIdentity& id = m_recordingIdentity;
        m_identity->setText(describeIdentity(id.model, id.serialNumber, id.firmwareVersion,
                                             id.firmwareBuild, id.canBaudRate, id.vinStyle) +
                            QStringLiteral("\n") + m_recordingSummary);
        // A screen reader reads the label by its name; the identity goes in its description.
        m_identity->setAccessibleDescription(m_identity->text());
        return;
    }
    m_identityShown = m_feed->identityRevision();
    const session::Identity& id = m_feed->identity();
    // The session's texts are Latin-1, as the main window shows them.
    const auto latin1 = [](const std::string& text) {
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).toStdString();
    };
    m_identity->setText(
        id.identified ? describeIdentity(latin1(id.modelName), std::to_string(id.serialNumber),
                                         latin1(id.firmwareVersion), latin1(id.firmwareBuild),
                                         latin1(id.canBaudRate), latin1(id.vinStyle))
                      : tr("No device identified"));
    m_identity->setAccessibleDescription(m_identity->text());
}

void PlotWindow::updateReadout() {
    const QString text = QString::fromStdString(plot::readoutText(m_plot->readout()));
    if (m_readout->text() != text) m_readout->setText(text);
}

QCheckBox* PlotWindow::seriesCheckBox(std::size_t series) const { return m_boxes.at(series); }

QString PlotWindow::identityText() const { return m_identity->text(); }

QString PlotWindow::readoutText() const { return m_readout->text(); }

void PlotWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshNow();
    m_ticker.start();
}

void PlotWindow::hideEvent(QHideEvent* event) {
    m_ticker.stop();
    QWidget::hideEvent(event);
}

}  // namespace orvale::plot
