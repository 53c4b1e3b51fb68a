#include "ui/control_catalogue.h"

#include <array>

namespace orvale::ui {

namespace {

using K = ControlKind;
using G = GroupId;

constexpr ControlSpec button(int id, K kind, std::string_view caption, bool enabled, DluRect box,
                             G group) {
    return {id, kind, caption, {}, kDefaultDecimals, enabled, true, box, group, {}};
}

constexpr ControlSpec edit(int id, std::string_view label, DluRect box, G group) {
    return {id, K::ReadOnlyEdit, label, {}, kDefaultDecimals, true, true, box, group, {}};
}

constexpr ControlSpec display(int id, std::string_view label, std::string_view units, int decimals,
                              DluRect box, G group) {
    return {id, K::NumericDisplay, label, units, decimals, true, true, box, group, {}};
}

constexpr ControlSpec led(int id, std::string_view label, DluRect box) {
    return {id, K::Led, label, {}, kDefaultDecimals, true, true, box, G::Common, {}};
}

constexpr int kDefault = kDefaultDecimals;

constexpr std::array kGroups{
    GroupSpec{G::ControlPanel, "Control Panel", {6, 9, 358, 168}, CaptionAlignment::Left, {}},
    GroupSpec{G::Connect,
              "Step 1: Connect to the Quennet",
              {12, 17, 346, 92},
              CaptionAlignment::Left,
              G::ControlPanel},
    GroupSpec{G::RemoteControl,
              "Step 2: Remote Control the Quennet",
              {12, 110, 346, 64},
              CaptionAlignment::Left,
              G::ControlPanel},
    GroupSpec{G::TruckOnly,
              "Quennet Truck only parameters",
              {6, 189, 358, 132},
              CaptionAlignment::Centre,
              {}},
    GroupSpec{G::BusOnly,
              "Quennet Bus only parameters",
              {6, 331, 358, 123},
              CaptionAlignment::Centre,
              {}},
    GroupSpec{G::Common,
              "Parameters for Bus and Quennet Truck-Standard",
              {370, 8, 341, 447},
              CaptionAlignment::Centre,
              {}},
};

constexpr std::array kStaticTexts{
    StaticTextSpec{"Port:", {29, 31, 15, 10}, G::Connect, 1001},
    StaticTextSpec{
        "note: axle location 0x00 is left front tire, 0x23 is the 3rd axle, the 4th tire, etc.",
        {12, 309, 239, 8},
        G::TruckOnly,
        0},
};

constexpr std::array kControls{
    // Step 1: Connect to the Quennet
    ControlSpec{
        1004, K::SerialControl, {}, {}, kDefault, true, false, {277, 27, 25, 23}, G::Connect, {}},
    ControlSpec{
        1001, K::DropDownList, {}, {}, kDefault, true, true, {48, 29, 54, 154}, G::Connect, "Port"},
    button(1002, K::PushButton, "C&onnect", true, {119, 29, 62, 14}, G::Connect),
    button(1003, K::PushButton, "D&isconnect", false, {208, 29, 62, 14}, G::Connect),
    button(1, K::DefaultPushButton, "E&xit", true, {292, 29, 50, 14}, G::Connect),
    edit(1000, "Product ID", {21, 56, 100, 14}, G::Connect),
    edit(1006, "Serial Number", {135, 56, 100, 14}, G::Connect),
    edit(1005, "Firmware Version", {248, 56, 100, 14}, G::Connect),
    edit(1086, "CAN Baud Rate", {21, 85, 100, 14}, G::Connect),
    edit(1096, "VIN Style", {135, 85, 100, 14}, G::Connect),
    edit(1097, "Firmware Build #", {248, 85, 100, 14}, G::Connect),

    // Step 2: Remote Control the Quennet
    ControlSpec{1007,
                K::Slider,
                {},
                {},
                kDefault,
                false,
                true,
                {17, 119, 332, 35},
                G::RemoteControl,
                "Control position"},
    button(1008, K::PushButton, "&Down", false, {179, 155, 61, 14}, G::RemoteControl),
    button(1009, K::PushButton, "&Up", false, {276, 155, 61, 14}, G::RemoteControl),
    button(1010, K::CheckBox, "D&ynamic", false, {33, 157, 43, 10}, G::RemoteControl),
    button(1011, K::CheckBox, "&Quiet", false, {103, 157, 33, 10}, G::RemoteControl),

    // Parameters for Bus and Quennet Truck-Standard
    edit(1024, "Vehicle Identification number", {377, 27, 115, 14}, G::Common),
    display(1021, "Engine total fuel used", " L", kDefault, {502, 27, 96, 14}, G::Common),
    display(1081, "Actual Engine % Torque", " %", 0, {607, 27, 96, 14}, G::Common),
    edit(1019, "Driver 1 working state", {377, 54, 115, 14}, G::Common),
    display(1020, "Fuel Level 1", " %", kDefault, {502, 54, 96, 14}, G::Common),
    display(1080, "Fuel Level 2", " %", kDefault, {607, 54, 96, 14}, G::Common),
    edit(1033, "Driver 2 working state", {377, 80, 115, 14}, G::Common),
    display(1022, "Engine speed", " rpm", 3, {502, 80, 96, 14}, G::Common),
    display(1023, "Engine total hours of Operation", " hr", 2, {607, 80, 96, 14}, G::Common),
    edit(1036, "Vehicle motion", {377, 107, 115, 14}, G::Common),
    display(1028, "HR-total vehicle distance", " m", 0, {502, 107, 96, 14}, G::Common),
    display(1029, "Tachograph vehicle Speed", " km/hr", 3, {607, 107, 96, 14}, G::Common),
    edit(1032, "Driver 1 time related states", {377, 134, 115, 14}, G::Common),
    display(1053, "Ambient Air Temperature", " °C", 5, {502, 134, 96, 14}, G::Common),
    display(1030, "Engine coolant temperature", " °C", 0, {607, 134, 96, 14}, G::Common),
    edit(1031, "Driver 1 Card", {377, 161, 115, 14}, G::Common),
    display(1058, "Fuel Rate", " L/hr", 2, {502, 161, 96, 14}, G::Common),
    display(1062, "Instantaneous Fuel Economy", " km/L", 2, {608, 161, 96, 14}, G::Common),
    edit(1035, "Driver 2 time related states", {377, 188, 115, 14}, G::Common),
    display(1054, "Service brake air pressure #1", " kPa", 0, {502, 188, 96, 14}, G::Common),
    display(1056, "Service brake air pressure #2", " kPa", 0, {608, 188, 96, 14}, G::Common),
    edit(1034, "Driver 2 Card", {377, 216, 115, 14}, G::Common),
    edit(1065, "Driver 1 ID", {502, 216, 96, 14}, G::Common),
    edit(1066, "Driver 2 ID", {608, 216, 96, 14}, G::Common),
    edit(1088, "Retarder Torque Mode", {377, 243, 115, 14}, G::Common),
    edit(1038, "System event", {502, 243, 96, 14}, G::Common),
    edit(1040, "Direction indicator", {608, 243, 96, 14}, G::Common),
    edit(1037, "Vehicle Overspeed", {377, 270, 75, 14}, G::Common),
    edit(1041, "Tachograph performance", {463, 270, 75, 14}, G::Common),
    edit(1039, "Handling information", {549, 270, 75, 14}, G::Common),
    led(1014, "Cruise", {632, 270, 33, 14}),
    led(1017, "Parking", {672, 270, 33, 14}),
    edit(1027, "Diagnostics supported", {377, 297, 75, 14}, G::Common),
    edit(1026, "Requests supported", {464, 297, 75, 14}, G::Common),
    edit(1025, "SW-version supported", {549, 297, 75, 14}, G::Common),
    led(1015, "Brake", {632, 297, 33, 14}),
    led(1016, "Clutch", {672, 297, 33, 14}),
    display(1082, "Aftertreatment 1 DEF Tank 1 Level", " %", kDefault, {377, 323, 115, 14},
            G::Common),
    display(1077, "HR-engine total fuel used", " L", 3, {502, 323, 96, 14}, G::Common),
    edit(1063, "TellTale status x, ID=0", {608, 323, 96, 14}, G::Common),
    display(1087, "Total Fuel Used (Gaseous)", " kg", kDefault, {377, 350, 115, 14}, G::Common),
    display(1085, "Brake Pedal Position", " %", kDefault, {502, 350, 96, 14}, G::Common),
    edit(1061, "TellTale status x, ID=1", {608, 350, 96, 14}, G::Common),
    display(1013, "Accelerator pedal position 1", " %", kDefault, {502, 377, 96, 14}, G::Common),
    display(1090, "Retarder Selection, non-engine", " %", kDefault, {377, 378, 115, 14}, G::Common),
    edit(1064, "TellTale status x, ID=2", {608, 378, 96, 14}, G::Common),
    display(1089, "Actual Retarder - % Torque", " %", 0, {377, 404, 115, 14}, G::Common),
    edit(1083, "TellTale status x, ID=3", {608, 404, 96, 14}, G::Common),
    display(1012, "Wheel based Speed", " km/hr", 3, {502, 405, 96, 14}, G::Common),
    edit(1095, "Fuel Type", {377, 432, 115, 14}, G::Common),
    edit(1091, "Cruise Control States", {501, 432, 96, 14}, G::Common),
    edit(1084, "TellTale status x, ID=4", {608, 432, 96, 14}, G::Common),

    // Quennet Truck only parameters
    edit(1079, "At least 1 PTO engaged", {15, 208, 74, 14}, G::TruckOnly),
    edit(1018, "PTO State", {104, 208, 74, 14}, G::TruckOnly),
    display(1078, "Engine % Load", " %", 0, {193, 208, 74, 14}, G::TruckOnly),
    display(1092, "Gross Combination V.W.", " kg", 0, {15, 235, 74, 14}, G::TruckOnly),
    display(1042, "Service distance", " km", 0, {104, 235, 74, 14}, G::TruckOnly),
    display(1044, "axle weight (location 00)", " kg", kDefault, {194, 235, 74, 14}, G::TruckOnly),
    display(1043, "axle weight (location 01)", " kg", kDefault, {282, 235, 74, 14}, G::TruckOnly),
    display(1046, "axle weight (location 10)", " kg", kDefault, {15, 262, 74, 14}, G::TruckOnly),
    display(1045, "axle weight (location 11)", " kg", kDefault, {104, 262, 74, 14}, G::TruckOnly),
    display(1048, "axle weight (location 12)", " kg", kDefault, {193, 262, 74, 14}, G::TruckOnly),
    display(1047, "axle weight (location 13)", " kg", kDefault, {282, 262, 74, 14}, G::TruckOnly),
    display(1050, "axle weight (location 20)", " kg", kDefault, {15, 289, 74, 14}, G::TruckOnly),
    display(1049, "axle weight (location 21)", " kg", kDefault, {104, 289, 74, 14}, G::TruckOnly),
    display(1052, "axle weight (location 22)", " kg", kDefault, {193, 289, 74, 14}, G::TruckOnly),
    display(1051, "axle weight (location 23)", " kg", kDefault, {282, 289, 74, 14}, G::TruckOnly),

    // Quennet Bus only parameters
    edit(1074, "Status 2 of doors", {15, 350, 74, 14}, G::BusOnly),
    edit(1076, "Ramp/Wheel chairlift", {104, 350, 74, 14}, G::BusOnly),
    edit(1075, "Position of doors", {191, 350, 76, 14}, G::BusOnly),
    edit(1070, "yy/mm/dd/hr/min/sec", {282, 350, 74, 14}, G::BusOnly),
    edit(1071, "Lock status door 1-10", {15, 377, 74, 14}, G::BusOnly),
    edit(1072, "Open status door 1-10", {104, 377, 74, 14}, G::BusOnly),
    edit(1073, "Enable status door 1-10", {192, 377, 74, 14}, G::BusOnly),
    edit(1069, "Alternator status 1-4", {282, 377, 74, 14}, G::BusOnly),
    edit(1067, "Selected Gear", {15, 405, 74, 14}, G::BusOnly),
    edit(1068, "Current Gear", {104, 405, 74, 14}, G::BusOnly),
    display(1093, "H.Battery Remain. Charge", " %", 4, {192, 405, 74, 14}, G::BusOnly),
    display(1094, "Steering Wheel Angle", " rad", 3, {282, 405, 74, 14}, G::BusOnly),
    display(1055, "Bellow P. Front Left", " kPa", kDefault, {15, 431, 74, 14}, G::BusOnly),
    display(1057, "Bellow P. Front Right", " kPa", kDefault, {104, 431, 74, 14}, G::BusOnly),
    display(1059, "Bellow P. Rear Left", " kPa", kDefault, {192, 431, 74, 14}, G::BusOnly),
    display(1060, "Bellow P. Rear Right", " kPa", kDefault, {282, 431, 74, 14}, G::BusOnly),
};

}  // namespace

std::span<const ControlSpec> controls() { return kControls; }

std::span<const GroupSpec> groups() { return kGroups; }

std::span<const StaticTextSpec> staticTexts() { return kStaticTexts; }

const ControlSpec* findControl(int id) {
    for (const ControlSpec& control : kControls)
        if (control.id == id) return &control;
    return nullptr;
}

const GroupSpec& group(GroupId id) { return kGroups.at(static_cast<std::size_t>(id)); }

}  // namespace orvale::ui
