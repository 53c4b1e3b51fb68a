#include "ui/control_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

namespace orvale::ui {
namespace {

std::string describe(const ControlSpec& c) { return "control " + std::to_string(c.id); }

bool isParameterGroup(GroupId id) {
    return id == GroupId::Common || id == GroupId::TruckOnly || id == GroupId::BusOnly;
}

TEST(ControlCatalogue, IdsAreUniqueAndFindable) {
    std::set<int> ids;
    for (const ControlSpec& c : controls()) {
        EXPECT_TRUE(ids.insert(c.id).second) << "duplicate " << describe(c);
        EXPECT_EQ(findControl(c.id), &c);
    }
    EXPECT_EQ(findControl(1098), nullptr);
}

TEST(ControlCatalogue, HasTheWindowsControlsOfEachKind) {
    std::map<ControlKind, int> all;
    std::map<ControlKind, int> parameters;
    for (const ControlSpec& c : controls()) {
        ++all[c.kind];
        if (isParameterGroup(c.group)) ++parameters[c.kind];
    }
    // The 83 parameter displays: 41 numeric displays, 4 LEDs and 38 text boxes.
    EXPECT_EQ(parameters[ControlKind::NumericDisplay], 41);
    EXPECT_EQ(parameters[ControlKind::Led], 4);
    EXPECT_EQ(parameters[ControlKind::ReadOnlyEdit], 38);
    EXPECT_EQ(parameters.size(), 3U);

    EXPECT_EQ(all[ControlKind::ReadOnlyEdit], 38 + 6);  // and the six identity boxes
    EXPECT_EQ(all[ControlKind::PushButton], 4);
    EXPECT_EQ(all[ControlKind::DefaultPushButton], 1);
    EXPECT_EQ(all[ControlKind::CheckBox], 2);
    EXPECT_EQ(all[ControlKind::Slider], 1);
    EXPECT_EQ(all[ControlKind::DropDownList], 1);
    EXPECT_EQ(all[ControlKind::SerialControl], 1);
    EXPECT_EQ(controls().size(), 99U);
}

TEST(ControlCatalogue, ControlsReferredToByIdHaveTheirKindAndCaption) {
    struct Expected {
        int id;
        ControlKind kind;
        const char* label;
    };
    const Expected table[] = {
        {1, ControlKind::DefaultPushButton, "E&xit"},
        {1002, ControlKind::PushButton, "C&onnect"},
        {1003, ControlKind::PushButton, "D&isconnect"},
        {1008, ControlKind::PushButton, "&Down"},
        {1009, ControlKind::PushButton, "&Up"},
        {1010, ControlKind::CheckBox, "D&ynamic"},
        {1011, ControlKind::CheckBox, "&Quiet"},
        {1001, ControlKind::DropDownList, ""},
        {1004, ControlKind::SerialControl, ""},
        {1007, ControlKind::Slider, ""},
        {1000, ControlKind::ReadOnlyEdit, "Product ID"},
        {1006, ControlKind::ReadOnlyEdit, "Serial Number"},
        {1005, ControlKind::ReadOnlyEdit, "Firmware Version"},
        {1086, ControlKind::ReadOnlyEdit, "CAN Baud Rate"},
        {1096, ControlKind::ReadOnlyEdit, "VIN Style"},
        {1097, ControlKind::ReadOnlyEdit, "Firmware Build #"},
        {1017, ControlKind::Led, "Parking"},
        {1070, ControlKind::ReadOnlyEdit, "yy/mm/dd/hr/min/sec"},
        {1095, ControlKind::ReadOnlyEdit, "Fuel Type"},
    };
    for (const Expected& e : table) {
        const ControlSpec* c = findControl(e.id);
        ASSERT_NE(c, nullptr) << e.id;
        EXPECT_EQ(c->kind, e.kind) << e.id;
        EXPECT_EQ(c->label, e.label) << e.id;
    }
}

TEST(ControlCatalogue, WindowTitleAndSize) {
    EXPECT_STREQ(kWindowTitle, "Orvale Ver. 1.00A, Build: 01072019-01");
    EXPECT_EQ(kWindowWidthDu, 718);
    EXPECT_EQ(kWindowHeightDu, 463);
    EXPECT_EQ(findControl(kDefaultButtonId)->kind, ControlKind::DefaultPushButton);
}

TEST(ControlCatalogue, DisplaysCarryUnitsWithALeadingBlankAndSensibleDecimals) {
    int defaults = 0;
    for (const ControlSpec& c : controls()) {
        if (c.kind != ControlKind::NumericDisplay) {
            EXPECT_TRUE(c.units.empty()) << describe(c);
            EXPECT_EQ(c.decimals, kDefaultDecimals) << describe(c);
            continue;
        }
        ASSERT_GE(c.units.size(), 2U) << describe(c);
        EXPECT_EQ(c.units.front(), ' ') << describe(c);
        EXPECT_NE(c.units[1], ' ') << describe(c);
        if (c.decimals == kDefaultDecimals) {
            ++defaults;
        } else {
            EXPECT_TRUE(c.decimals >= 0 && c.decimals <= 5) << describe(c);
        }
    }
    EXPECT_EQ(defaults, 22);
    EXPECT_EQ(findControl(1012)->units, " km/hr");
    EXPECT_EQ(findControl(1012)->decimals, 3);
    EXPECT_EQ(findControl(1053)->units, " °C");
    EXPECT_EQ(findControl(1053)->decimals, 5);
    EXPECT_EQ(findControl(1093)->decimals, 4);
}

TEST(ControlCatalogue, OnlyTheRemoteControlGroupAndDisconnectStartDisabled) {
    std::set<int> disabled;
    std::set<int> hidden;
    for (const ControlSpec& c : controls()) {
        if (!c.enabled) disabled.insert(c.id);
        if (!c.visible) hidden.insert(c.id);
    }
    EXPECT_EQ(disabled, (std::set<int>{1003, 1007, 1008, 1009, 1010, 1011}));
    EXPECT_EQ(hidden, (std::set<int>{1004}));
}

TEST(ControlCatalogue, EveryControlIsNamedByItsLabelOrItsUnlabelledName) {
    for (const ControlSpec& c : controls()) {
        if (c.kind == ControlKind::SerialControl) continue;
        EXPECT_NE(c.label.empty(), c.unlabelledName.empty()) << describe(c);
    }
    EXPECT_EQ(findControl(1001)->unlabelledName, "Port");
    EXPECT_EQ(findControl(1007)->unlabelledName, "Control position");
}

TEST(ControlCatalogue, GroupsNestInTheWindow) {
    ASSERT_EQ(groups().size(), 6U);
    for (std::size_t i = 0; i < groups().size(); ++i) {
        const GroupSpec& g = groups()[i];
        EXPECT_EQ(static_cast<std::size_t>(g.id), i);
        EXPECT_TRUE(kWindowBox.contains(g.box)) << g.caption;
        if (g.parent) {
            EXPECT_TRUE(group(*g.parent).box.contains(g.box)) << g.caption;
        }
    }
    EXPECT_EQ(group(GroupId::Common).caption, "Parameters for Bus and Quennet Truck-Standard");
    EXPECT_EQ(group(GroupId::Common).alignment, CaptionAlignment::Centre);
    EXPECT_EQ(group(GroupId::Connect).alignment, CaptionAlignment::Left);
    // Sibling groups do not overlap.
    for (const GroupSpec& a : groups()) {
        for (const GroupSpec& b : groups()) {
            if (&a != &b && a.parent == b.parent) {
                EXPECT_FALSE(a.box.intersects(b.box)) << a.caption << " and " << b.caption;
            }
        }
    }
}

TEST(ControlCatalogue, EveryBoxLiesInsideItsGroupAndTheWindow) {
    for (const ControlSpec& c : controls()) {
        EXPECT_TRUE(kWindowBox.contains(c.box)) << describe(c);
        EXPECT_TRUE(group(c.group).box.contains(occupiedBox(c))) << describe(c);
    }
    for (const StaticTextSpec& t : staticTexts())
        EXPECT_TRUE(group(t.group).box.contains(t.box)) << t.text;
}

TEST(ControlCatalogue, VisibleControlsDoNotOverlap) {
    for (const ControlSpec& a : controls()) {
        if (!a.visible) continue;
        for (const ControlSpec& b : controls()) {
            if (&a == &b || !b.visible) continue;
            EXPECT_FALSE(occupiedBox(a).intersects(occupiedBox(b)))
                << describe(a) << " and " << describe(b);
        }
        for (const StaticTextSpec& t : staticTexts())
            EXPECT_FALSE(occupiedBox(a).intersects(t.box)) << describe(a) << " and " << t.text;
    }
}

TEST(ControlCatalogue, LabelFramesHoldTheirBoxAndCoverNothingElse) {
    for (const ControlSpec& c : controls()) {
        if (!hasLabelFrame(c.kind)) continue;
        const DluRect frame = labelFrame(c.box);
        // The window's frames: 26 or 27 high, 3 to 6 left and 9 or 10 above the box, 6 to 10 wider.
        EXPECT_TRUE(frame.height == 26 || frame.height == 27);
        EXPECT_TRUE(c.box.x - frame.x >= 3 && c.box.x - frame.x <= 6);
        EXPECT_TRUE(c.box.y - frame.y >= 9 && c.box.y - frame.y <= 10);
        EXPECT_TRUE(frame.width - c.box.width >= 6 && frame.width - c.box.width <= 10);

        EXPECT_TRUE(frame.contains(c.box)) << describe(c);
        const GroupSpec& g = group(c.group);
        EXPECT_TRUE(g.box.contains(frame)) << describe(c);
        EXPECT_GE(frame.y, g.box.y + 8) << describe(c) << " reaches into its group's caption";
        for (const ControlSpec& other : controls()) {
            if (&other == &c || !other.visible) continue;
            EXPECT_FALSE(frame.intersects(occupiedBox(other)))
                << "label frame of " << describe(c) << " covers " << describe(other);
            if (hasLabelFrame(other.kind)) {
                EXPECT_FALSE(frame.intersects(labelFrame(other.box)))
                    << "label frames of " << describe(c) << " and " << describe(other);
            }
        }
        for (const StaticTextSpec& t : staticTexts())
            EXPECT_FALSE(frame.intersects(t.box)) << describe(c) << " and " << t.text;
    }
}

TEST(ControlCatalogue, PortListOccupiesItsClosedHeightOnly) {
    const ControlSpec& list = *findControl(1001);
    EXPECT_EQ(list.box.height, 154);
    EXPECT_EQ(occupiedBox(list), (DluRect{48, 29, 54, kClosedDropDownHeight}));
    EXPECT_EQ(occupiedBox(*findControl(1000)), findControl(1000)->box);
}

}  // namespace
}  // namespace orvale::ui
