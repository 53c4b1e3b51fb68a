#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

#include "model/control_ids.h"
#include "plot/recording_reader.h"
#include "plot/series_store.h"
#include "plot/session_feed.h"
#include "session/device_session.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace orvale::plot {

class PlotWidget;

/// The entry that opens the window, for the main window's context menu.
inline constexpr const char* kPlotMenuText = "&Plot...";

/// The plot window: a separate, resizable window with the plottable displays listed as the
/// main window groups them (each with a check box, its colour and its current value), the plot,
/// and its controls: the time window (10 s to 1 h), Pause and Resume, Fit to data, Clear
/// cursors, and export of the visible range as PNG or CSV. It shows either a device session
/// live or a recording (--view).
///
/// Live, it collects from the moment it is made, shown or not: make it when the session is
/// made, so that opening it shows the history (one hour of every display, see SeriesStore for
/// the memory), and show it when asked. Pause freezes the view while data keeps coming in;
/// Resume jumps back to live.
class PlotWindow final : public QWidget {
    Q_OBJECT

public:
    /// Live, timed by the wall clock. The session must outlive the window.
    explicit PlotWindow(session::DeviceSession& session, QWidget* parent = nullptr);
    /// Live, timed by `clock` (tests).
    PlotWindow(session::DeviceSession& session, SessionFeed::Clock clock,
               QWidget* parent = nullptr);
    /// A recording read before; `source` names it in the title (its file name).
    PlotWindow(Recording recording, const QString& source, QWidget* parent = nullptr);
    ~PlotWindow() override;
    PlotWindow(const PlotWindow&) = delete;
    PlotWindow& operator=(const PlotWindow&) = delete;

    /// Reads the recording at `path` and makes a window showing it. Nothing, and in `error` the
    /// file, the line at fault and why, when it is not a recording ("drive.csv, line 1: not a
    /// recording of Orvale: ...").
    static std::unique_ptr<PlotWindow> openRecording(const QString& path, QString* error,
                                                     QWidget* parent = nullptr);

    /// Ticks the display `id` in the list, so that it is plotted. False for a control that is
    /// not a numeric display or an LED, or whose column a recording lacks.
    bool showSeries(model::ControlId id);
    /// The same by its label or recording column name, any letter case ("engine speed").
    bool showSeriesByLabel(const QString& label);
    /// The same for a comma-separated list (`--plot LABEL[,LABEL...]`); labels that hold a
    /// comma are recognised whole. Shows none and says why in `error` when one is unknown.
    bool showSeriesByLabels(const QString& labels, QString* error);
    /// Shows the window, restored and on top, with the keyboard focus.
    void bringToFront();

    void setPaused(bool paused);
    [[nodiscard]] bool isPaused() const;
    /// The time window, 10 to 3600 seconds; the list offers 10 s, 30 s, 1, 5, 10 and 30 min and
    /// 1 h.
    void setTimeWindow(int seconds);

    /// Writes the plot as it is shown to `path` as PNG, whole or not at all.
    bool exportPng(const QString& path, QString* error);
    /// Writes the visible range of the visible series to `path` as CSV (exportCsv).
    bool exportCsv(const QString& path, QString* error);

    /// One refresh: the live data's end moves to now, the plot repaints when that shows, the
    /// values and the identity are brought up to date. A timer runs it while the window is
    /// shown.
    void refreshNow();

    [[nodiscard]] PlotWidget& plot() { return *m_plot; }
    [[nodiscard]] const SeriesStore& store() const { return *m_store; }
    [[nodiscard]] QCheckBox* seriesCheckBox(std::size_t series) const;
    [[nodiscard]] QString identityText() const;
    [[nodiscard]] QString readoutText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    PlotWindow(std::unique_ptr<SeriesStore> store, QWidget* parent);
    void build();
    QWidget* buildSeriesList();
    void updateValues();
    void updateIdentity();
    void updateReadout();
    void updateSwatch(std::size_t series);
    void onFollowingChanged(bool following);
    void askExportPng();
    void askExportCsv();

    std::unique_ptr<SeriesStore> m_store;
    session::DeviceSession* m_session = nullptr;
    std::unique_ptr<SessionFeed> m_feed;
    std::array<bool, kSeriesCount> m_present{};
    QString m_recordingSummary;
    RecordingIdentity m_recordingIdentity;

    PlotWidget* m_plot = nullptr;
    std::array<QCheckBox*, kSeriesCount> m_boxes{};
    std::array<QLabel*, kSeriesCount> m_swatches{};
    std::array<QLabel*, kSeriesCount> m_values{};
    QLabel* m_identity = nullptr;
    QLabel* m_readout = nullptr;
    QComboBox* m_timeWindow = nullptr;
    QPushButton* m_pause = nullptr;
    QTimer m_ticker;
    unsigned m_ticks = 0;
    std::uint64_t m_identityShown = ~std::uint64_t{0};
};

}  // namespace orvale::plot
