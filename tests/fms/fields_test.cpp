// The field table itself: every display has its place on the bus, and no two fields of one
// frame share a bit.

#include <gtest/gtest.h>

#include <bitset>
#include <map>
#include <set>
#include <string>

#include "fms/can_frame.h"
#include "fms/fields.h"

namespace orvale::fms {
namespace {

std::set<model::ControlId> windowDisplays() {
    std::set<model::ControlId> ids;
    for (const auto& e : model::kNumericDisplays) ids.insert(e.id);
    for (const auto& e : model::kLeds) ids.insert(e.id);
    for (const auto& e : model::kTextDisplays) ids.insert(e.id);
    return ids;
}

TEST(FmsFields, EveryDisplayOfTheWindowHasItsFieldsAndNoOtherDoes) {
    std::set<model::ControlId> inTable;
    for (const Field& f : kFields) inTable.insert(f.display);
    EXPECT_EQ(inTable, windowDisplays());
    EXPECT_EQ(windowDisplays().size(), 83U);
    // The date and time box is six bus fields, each display else one row.
    for (const model::ControlId id : windowDisplays()) {
        std::size_t rows = 0;
        for (const Field& f : kFields) rows += f.display == id ? 1 : 0;
        EXPECT_EQ(rows, id == model::control::kDateTime ? 6U : 1U) << id;
        EXPECT_LT(fieldIndex(id), kFieldCount) << id;
    }
}

// As decided for CCVS1 byte 7: PTO State is the one display the device does not send.
TEST(FmsFields, OnlyPtoStateIsNotCarriedOnTheBus) {
    std::set<model::ControlId> notOnBus;
    for (const Field& f : kFields) {
        if (!f.onBus) notOnBus.insert(f.display);
    }
    EXPECT_EQ(notOnBus, std::set<model::ControlId>{model::control::kPtoState});
}

// Two fields (or a field and the selector) on the same bit would corrupt each other.
TEST(FmsFields, FieldsOfOneFrameDoNotOverlap) {
    // One frame per (group, selector value); a single-frame group has one frame.
    std::map<std::pair<std::size_t, int>, std::bitset<64>> used;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        const Field& f = kFields[i];
        if (!f.onBus || f.kind == FieldKind::kText) continue;
        const std::size_t g = indexOf(f.group);
        const Group& group = kGroups[g];
        const bool selected = group.layout == Layout::kSelector;
        std::bitset<64>& bits = used[{g, selected ? f.selector : -1}];
        if (selected && bits.none()) {
            for (std::size_t b = 0; b < group.selectorLength; ++b)
                bits.set(group.selectorStart + b);
            EXPECT_LT(f.selector, 1U << group.selectorLength) << "row " << i;
        }
        for (std::size_t c = 0; c < f.copies; ++c) {
            for (std::size_t b = 0; b < f.bits.length; ++b) {
                const std::size_t bit = f.bits.start + c * f.stride + b;
                ASSERT_LT(bit, 64U) << "row " << i;
                EXPECT_FALSE(bits.test(bit)) << "row " << i << " copy " << c << " bit " << bit;
                bits.set(bit);
            }
        }
    }
}

// The decoder finds a group by its PGN alone, and reads texts only in variable-length groups.
TEST(FmsFields, GroupsAreToldApartByPgnAndTextsSitInVariableLengthGroups) {
    std::set<std::uint32_t> pgns;
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        EXPECT_TRUE(pgns.insert(kGroups[g].pgn).second) << kGroups[g].name;
        EXPECT_GE(kGroups[g].pgn >> 8, kFirstPdu2Format) << kGroups[g].name;
        EXPECT_GT(kFieldsOfGroup[g].count, 0U) << kGroups[g].name;
    }
    for (const Field& f : kFields) {
        EXPECT_EQ(f.kind == FieldKind::kText,
                  kGroups[indexOf(f.group)].layout == Layout::kMultiPacket)
            << f.display;
    }
}

}  // namespace
}  // namespace orvale::fms
