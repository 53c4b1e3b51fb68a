#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QWidget>

#include <array>
#include <vector>

#include "bus/bus_monitor.h"

class QCheckBox;
class QLabel;
class QTableView;

namespace orvale::bus {

/// The rows of the bus check as a table: parameter, what the window shows, what the bus carries,
/// by how much they differ, the age of the last frame carrying it, and the state. Mismatches
/// first when sorted worst first (the default), else in the window's catalogue order. Only rows
/// whose texts changed are reported changed, so an open window repaints little.
class BusTableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kParameter, kExpected, kObserved, kDifference, kAge, kState, kColumnCount };

    explicit BusTableModel(QObject* parent = nullptr);

    /// Takes the rows of the check's last refresh.
    void update(const BusCheck& check);
    void setWorstFirst(bool worstFirst);
    [[nodiscard]] bool worstFirst() const { return m_worstFirst; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    struct Shown {
        std::array<QString, kColumnCount> texts;
        RowState state = RowState::kNotModelled;
        bool operator==(const Shown&) const = default;
    };

    std::vector<Shown> m_rows;  // in the order shown
    bool m_worstFirst = true;
    std::array<std::uint8_t, BusCheck::kRowCount> m_lastOrder{};
    const BusCheck* m_check = nullptr;
};

/// The bus window: the check of the CAN bus against the main window, display by display, with
/// the interface's state and a summary line (the counts, frames a second, broadcasts read whole
/// and dropped, frames from other senders). A separate, resizable window; it observes the bus
/// monitor and reads no other window.
class BusWindow final : public QWidget, public BusListener {
    Q_OBJECT

public:
    explicit BusWindow(BusMonitor& monitor, QWidget* parent = nullptr);
    ~BusWindow() override;
    BusWindow(const BusWindow&) = delete;
    BusWindow& operator=(const BusWindow&) = delete;

    /// Shows the window, restored and on top.
    void bringToFront();

    void busRefreshed(const BusMonitor& monitor) override;

    /// The summary line as shown; for tests.
    [[nodiscard]] QString summaryText() const;
    [[nodiscard]] BusTableModel& table() { return m_model; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render(const BusMonitor& monitor);

    BusMonitor& m_monitor;
    BusTableModel m_model;
    QLabel* m_status = nullptr;
    QLabel* m_summary = nullptr;
    QCheckBox* m_worstFirst = nullptr;
    QTableView* m_view = nullptr;
};

/// "3 mismatch, 1 missing, 70 match, 9 not modelled · 152 frames/s · broadcasts: 12 read
/// whole, 0 dropped · 0 frames from other senders".
[[nodiscard]] QString summaryOf(const BusSummary& summary);

}  // namespace orvale::bus
