// The bus window's table and the main window's bus marks over a bus check fed with encoded
// frames: what sorts first, what stands out, what is repainted, and what a tooltip adds.

#include "bus/bus_window.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QSignalSpy>

#include <algorithm>
#include <vector>

#include "model/display_format.h"
#include "tests/bus/bus_test_support.h"
#include "ui/bus_marks.h"

namespace orvale::bus {
namespace {

namespace c = model::control;
using test::feed;
using test::Shown;
using test::traffic;

// Position 80, where Driver 1 card and the Cruise LED are sent wrong and DD1 (both fuel levels)
// never comes: two mismatches and two missing rows after four seconds.
struct Disagreeing {
    Disagreeing() {
        sent.raw.driver1Card = 0;
        sent.raw.cruiseActive = false;
        check.expect(shown.expectation, shown.displays, 0);
        send(0, 4000);
    }
    void send(std::uint64_t fromMs, std::uint64_t toMs) {
        std::vector<fms::TimedFrame> frames = traffic(sent, fromMs, toMs - fromMs);
        std::erase_if(frames, [](const auto& t) { return fms::pgnOf(t.frame.id) == 0xFEFC; });
        feed(check, frames);
        check.refresh(toMs);
    }
    Shown shown{80};
    Expectation sent = shown.expectation;
    BusCheck check;
};

std::string cell(const BusTableModel& model, int row, int column) {
    return model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString();
}

TEST(BusTableModel, DisagreementsComeFirstAndStandOut) {
    const Disagreeing bus;
    BusTableModel model;
    model.update(bus.check);
    ASSERT_EQ(model.rowCount(), static_cast<int>(BusCheck::kRowCount));

    struct Expected {
        int row;
        model::ControlId id;
        std::string state;
        QColor background;
    };
    const model::ControlId firstMatch = bus.check.rows()[bus.check.worstFirst()[4]].id;
    for (const Expected& e : {Expected{0, c::kCruiseLed, "mismatch", QColor(255, 196, 196)},
                              Expected{1, c::kDriver1Card, "mismatch", QColor(255, 196, 196)},
                              Expected{2, c::kFuelLevel1, "missing", QColor(255, 226, 170)},
                              Expected{3, c::kFuelLevel2, "missing", QColor(255, 226, 170)},
                              Expected{4, firstMatch, "match", QColor()}}) {
        SCOPED_TRACE(e.row);
        EXPECT_EQ(cell(model, e.row, BusTableModel::kParameter), bus.check.row(e.id)->label);
        EXPECT_EQ(cell(model, e.row, BusTableModel::kState), e.state);
        EXPECT_EQ(model.data(model.index(e.row, 0), Qt::BackgroundRole).value<QColor>(),
                  e.background);
    }
    // The LED says how it differs; a missing row says when it was last seen.
    EXPECT_EQ(cell(model, 0, BusTableModel::kExpected), "on");
    EXPECT_EQ(cell(model, 0, BusTableModel::kObserved), "off");
    EXPECT_FALSE(cell(model, 0, BusTableModel::kDifference).empty());
    EXPECT_EQ(cell(model, 2, BusTableModel::kAge), "never");
    // A number reads as its display shows it: Fuel Level 1 keeps the display's one decimal.
    EXPECT_EQ(cell(model, 2, BusTableModel::kExpected),
              model::formatFixed(bus.check.row(c::kFuelLevel1)->expected.number, 1) + " %");

    // In catalogue order the window's first display leads, whatever its state.
    model.setWorstFirst(false);
    EXPECT_EQ(cell(model, 0, BusTableModel::kParameter), bus.check.rows()[0].label);
}

TEST(BusTableModel, OnlyWhatChangedIsReported) {
    Disagreeing bus;
    BusTableModel model;
    model.update(bus.check);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reordered(&model, &QAbstractItemModel::layoutChanged);

    model.update(bus.check);  // the same rows: nothing to repaint
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(reordered.count(), 0);

    // Two seconds more of the same: only ages move (the seconds since VI's last broadcast), in
    // place, and only they are repainted.
    bus.send(4000, 6000);
    model.update(bus.check);
    EXPECT_EQ(reordered.count(), 0);
    EXPECT_GE(changed.count(), 1);
    for (const QList<QVariant>& signal : changed) {
        EXPECT_EQ(signal[0].toModelIndex().column(), BusTableModel::kAge);
        EXPECT_EQ(signal[1].toModelIndex().column(), BusTableModel::kAge);
    }

    // The fuel levels come back: the order changes.
    feed(bus.check, traffic(bus.shown.expectation, 6000, 1000));
    bus.check.refresh(7000);
    model.update(bus.check);
    EXPECT_EQ(reordered.count(), 1);
    EXPECT_EQ(cell(model, 2, BusTableModel::kState), "match");
}

TEST(BusWindow, SummarySaysEveryCount) {
    BusSummary s;
    s.rows = {2, 1, 70, 9};
    s.framesPerSecond = 152;
    s.bamCompleted = 12;
    s.bamDropped = 3;
    s.otherSenders = 40;
    EXPECT_EQ(summaryOf(s).toStdString(),
              "2 mismatch, 1 missing, 70 match, 9 not modelled · 152 frames/s · broadcasts: 12 "
              "read whole, 3 dropped · 40 frames from other senders");
}

TEST(BusMarks, TooltipGivesTheBusValueAndTheDifference) {
    struct Case {
        RowState state;
        std::string observed;
        std::string difference;
        std::string tip;
    };
    for (const Case& k : std::vector<Case>{
             {RowState::kMismatch, "12.500 km/hr", "+2.500 km/hr",
              "Bus: 12.500 km/hr (+2.500 km/hr)"},
             {RowState::kMismatch, "off", "", "Bus: off"},
             {RowState::kMissing, "", "", "Bus: not seen"},
             {RowState::kMissing, "01=on", "", "Bus: not seen for 3 periods (last 01=on)"},
         }) {
        BusRow row;
        row.state = k.state;
        row.observedText = k.observed;
        row.difference = k.difference;
        EXPECT_EQ(ui::busTipOf(row).toStdString(), k.tip);
    }
}

}  // namespace
}  // namespace orvale::bus
