#pragma once

#include <QObject>
#include <QString>

#include <vector>

#include "bus/bus_monitor.h"
#include "model/control_ids.h"

class QPainter;
class QWidget;

namespace orvale::ui {

class CMainDialog;

/// --bus-marks: each display of the main window whose value the bus does not carry gets a thin
/// coloured outline (red: the bus carries another value; amber: it carries none), and its
/// tooltip gives the bus's value. Drawn around the controls, on the window's background, and
/// shown only in the tooltip, so the window's texts and accessible values stay as they are.
class BusMarks final : public QObject, public bus::BusListener {
    Q_OBJECT

public:
    BusMarks(CMainDialog& window, bus::BusMonitor& monitor);
    ~BusMarks() override;
    BusMarks(const BusMarks&) = delete;
    BusMarks& operator=(const BusMarks&) = delete;

    struct Mark {
        model::ControlId id = 0;
        bus::RowState state = bus::RowState::kMismatch;
        QString tip;  ///< what the tooltip adds: the bus's value and by how much it differs
        bool operator==(const Mark&) const = default;
    };
    /// The displays marked now, in catalogue order.
    [[nodiscard]] const std::vector<Mark>& marks() const { return m_marks; }

    void busRefreshed(const bus::BusMonitor& monitor) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paint(QPainter& painter) const;
    [[nodiscard]] const Mark* markOf(const QObject* widget) const;

    CMainDialog& m_window;
    bus::BusMonitor& m_monitor;
    std::vector<Mark> m_marks;
    std::vector<QWidget*> m_watched;
};

/// The tooltip's addition for a row the bus disagrees with: "Bus: 12.500 km/hr (+2.500 km/hr)",
/// "Bus: not seen for 3 periods".
[[nodiscard]] QString busTipOf(const bus::BusRow& row);

}  // namespace orvale::ui
