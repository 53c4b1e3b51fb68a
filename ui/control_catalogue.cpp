#include "ui/control_catalogue.h"

#include <array>

#include "model/control_ids.h"

namespace orvale::ui {

namespace {

using K = ControlKind;
using G = GroupId;
namespace C = model::control;

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
    StaticTextSpec{"Port:", {29, 31, 15, 10}, G::Connect, C::kPortList},
    StaticTextSpec{
        "note: axle location 0x00 is left front tire, 0x23 is the 3rd axle, the 4th tire, etc.",
        {12, 309, 239, 8},
        G::TruckOnly,
        0},
};

constexpr std::array kControls{
    // Step 1: Connect to the Quennet
    ControlSpec{C::kSerialControl,
                K::SerialControl,
                {},
                {},
                kDefault,
                true,
                false,
                {277, 27, 25, 23},
                G::Connect,
                {}},
    ControlSpec{C::kPortList,
                K::DropDownList,
                {},
                {},
                kDefault,
                true,
                true,
                {48, 29, 54, 154},
                G::Connect,
                "Port"},
    button(C::kConnect, K::PushButton, "C&onnect", true, {119, 29, 62, 14}, G::Connect),
    button(C::kDisconnect, K::PushButton, "D&isconnect", false, {208, 29, 62, 14}, G::Connect),
    button(C::kExit, K::DefaultPushButton, "E&xit", true, {292, 29, 50, 14}, G::Connect),
    edit(C::kProductId, "Product ID", {21, 56, 100, 14}, G::Connect),
    edit(C::kSerialNumber, "Serial Number", {135, 56, 100, 14}, G::Connect),
    edit(C::kFirmwareVersion, "Firmware Version", {248, 56, 100, 14}, G::Connect),
    edit(C::kCanBaudRate, "CAN Baud Rate", {21, 85, 100, 14}, G::Connect),
    edit(C::kVinStyle, "VIN Style", {135, 85, 100, 14}, G::Connect),
    edit(C::kFirmwareBuild, "Firmware Build #", {248, 85, 100, 14}, G::Connect),

    // Step 2: Remote Control the Quennet
    ControlSpec{C::kSlider,
                K::Slider,
                {},
                {},
                kDefault,
                false,
                true,
                {17, 119, 332, 35},
                G::RemoteControl,
                "Control position"},
    button(C::kDown, K::PushButton, "&Down", false, {179, 155, 61, 14}, G::RemoteControl),
    button(C::kUp, K::PushButton, "&Up", false, {276, 155, 61, 14}, G::RemoteControl),
    button(C::kDynamic, K::CheckBox, "D&ynamic", false, {33, 157, 43, 10}, G::RemoteControl),
    button(C::kQuiet, K::CheckBox, "&Quiet", false, {103, 157, 33, 10}, G::RemoteControl),

    // Parameters for Bus and Quennet Truck-Standard
    edit(C::kVehicleIdentificationNumber, "Vehicle Identification number", {377, 27, 115, 14},
         G::Common),
    display(C::kEngineTotalFuelUsed, "Engine total fuel used", " L", kDefault, {502, 27, 96, 14},
            G::Common),
    display(C::kActualEngineTorque, "Actual Engine % Torque", " %", 0, {607, 27, 96, 14},
            G::Common),
    edit(C::kDriver1WorkingState, "Driver 1 working state", {377, 54, 115, 14}, G::Common),
    display(C::kFuelLevel1, "Fuel Level 1", " %", kDefault, {502, 54, 96, 14}, G::Common),
    display(C::kFuelLevel2, "Fuel Level 2", " %", kDefault, {607, 54, 96, 14}, G::Common),
    edit(C::kDriver2WorkingState, "Driver 2 working state", {377, 80, 115, 14}, G::Common),
    display(C::kEngineSpeed, "Engine speed", " rpm", 3, {502, 80, 96, 14}, G::Common),
    display(C::kEngineTotalHours, "Engine total hours of Operation", " hr", 2, {607, 80, 96, 14},
            G::Common),
    edit(C::kVehicleMotion, "Vehicle motion", {377, 107, 115, 14}, G::Common),
    display(C::kHrTotalVehicleDistance, "HR-total vehicle distance", " m", 0, {502, 107, 96, 14},
            G::Common),
    display(C::kTachographVehicleSpeed, "Tachograph vehicle Speed", " km/hr", 3, {607, 107, 96, 14},
            G::Common),
    edit(C::kDriver1TimeRelatedStates, "Driver 1 time related states", {377, 134, 115, 14},
         G::Common),
    display(C::kAmbientAirTemperature, "Ambient Air Temperature", " °C", 5, {502, 134, 96, 14},
            G::Common),
    display(C::kEngineCoolantTemperature, "Engine coolant temperature", " °C", 0,
            {607, 134, 96, 14}, G::Common),
    edit(C::kDriver1Card, "Driver 1 Card", {377, 161, 115, 14}, G::Common),
    display(C::kFuelRate, "Fuel Rate", " L/hr", 2, {502, 161, 96, 14}, G::Common),
    display(C::kInstantaneousFuelEconomy, "Instantaneous Fuel Economy", " km/L", 2,
            {608, 161, 96, 14}, G::Common),
    edit(C::kDriver2TimeRelatedStates, "Driver 2 time related states", {377, 188, 115, 14},
         G::Common),
    display(C::kServiceBrakeAirPressure1, "Service brake air pressure #1", " kPa", 0,
            {502, 188, 96, 14}, G::Common),
    display(C::kServiceBrakeAirPressure2, "Service brake air pressure #2", " kPa", 0,
            {608, 188, 96, 14}, G::Common),
    edit(C::kDriver2Card, "Driver 2 Card", {377, 216, 115, 14}, G::Common),
    edit(C::kDriver1Id, "Driver 1 ID", {502, 216, 96, 14}, G::Common),
    edit(C::kDriver2Id, "Driver 2 ID", {608, 216, 96, 14}, G::Common),
    edit(C::kRetarderTorqueMode, "Retarder Torque Mode", {377, 243, 115, 14}, G::Common),
    edit(C::kSystemEvent, "System event", {502, 243, 96, 14}, G::Common),
    edit(C::kDirectionIndicator, "Direction indicator", {608, 243, 96, 14}, G::Common),
    edit(C::kVehicleOverspeed, "Vehicle Overspeed", {377, 270, 75, 14}, G::Common),
    edit(C::kTachographPerformance, "Tachograph performance", {463, 270, 75, 14}, G::Common),
    edit(C::kHandlingInformation, "Handling information", {549, 270, 75, 14}, G::Common),
    led(C::kCruiseLed, "Cruise", {632, 270, 33, 14}),
    led(C::kParkingLed, "Parking", {672, 270, 33, 14}),
    edit(C::kDiagnosticsSupported, "Diagnostics supported", {377, 297, 75, 14}, G::Common),
    edit(C::kRequestsSupported, "Requests supported", {464, 297, 75, 14}, G::Common),
    edit(C::kSwVersionSupported, "SW-version supported", {549, 297, 75, 14}, G::Common),
    led(C::kBrakeLed, "Brake", {632, 297, 33, 14}),
    led(C::kClutchLed, "Clutch", {672, 297, 33, 14}),
    display(C::kDefTank1Level, "Aftertreatment 1 DEF Tank 1 Level", " %", kDefault,
            {377, 323, 115, 14}, G::Common),
    display(C::kHrEngineTotalFuelUsed, "HR-engine total fuel used", " L", 3, {502, 323, 96, 14},
            G::Common),
    edit(C::kTellTaleId0, "TellTale status x, ID=0", {608, 323, 96, 14}, G::Common),
    display(C::kTotalFuelUsedGaseous, "Total Fuel Used (Gaseous)", " kg", kDefault,
            {377, 350, 115, 14}, G::Common),
    display(C::kBrakePedalPosition, "Brake Pedal Position", " %", kDefault, {502, 350, 96, 14},
            G::Common),
    edit(C::kTellTaleId1, "TellTale status x, ID=1", {608, 350, 96, 14}, G::Common),
    display(C::kAcceleratorPedalPosition1, "Accelerator pedal position 1", " %", kDefault,
            {502, 377, 96, 14}, G::Common),
    display(C::kRetarderSelection, "Retarder Selection, non-engine", " %", kDefault,
            {377, 378, 115, 14}, G::Common),
    edit(C::kTellTaleId2, "TellTale status x, ID=2", {608, 378, 96, 14}, G::Common),
    display(C::kActualRetarderTorque, "Actual Retarder - % Torque", " %", 0, {377, 404, 115, 14},
            G::Common),
    edit(C::kTellTaleId3, "TellTale status x, ID=3", {608, 404, 96, 14}, G::Common),
    display(C::kWheelBasedSpeed, "Wheel based Speed", " km/hr", 3, {502, 405, 96, 14}, G::Common),
    edit(C::kFuelType, "Fuel Type", {377, 432, 115, 14}, G::Common),
    edit(C::kCruiseControlStates, "Cruise Control States", {501, 432, 96, 14}, G::Common),
    edit(C::kTellTaleId4, "TellTale status x, ID=4", {608, 432, 96, 14}, G::Common),

    // Quennet Truck only parameters
    edit(C::kPtoEngaged, "At least 1 PTO engaged", {15, 208, 74, 14}, G::TruckOnly),
    edit(C::kPtoState, "PTO State", {104, 208, 74, 14}, G::TruckOnly),
    display(C::kEnginePercentLoad, "Engine % Load", " %", 0, {193, 208, 74, 14}, G::TruckOnly),
    display(C::kGrossCombinationWeight, "Gross Combination V.W.", " kg", 0, {15, 235, 74, 14},
            G::TruckOnly),
    display(C::kServiceDistance, "Service distance", " km", 0, {104, 235, 74, 14}, G::TruckOnly),
    display(C::kAxleWeight00, "axle weight (location 00)", " kg", kDefault, {194, 235, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight01, "axle weight (location 01)", " kg", kDefault, {282, 235, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight10, "axle weight (location 10)", " kg", kDefault, {15, 262, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight11, "axle weight (location 11)", " kg", kDefault, {104, 262, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight12, "axle weight (location 12)", " kg", kDefault, {193, 262, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight13, "axle weight (location 13)", " kg", kDefault, {282, 262, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight20, "axle weight (location 20)", " kg", kDefault, {15, 289, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight21, "axle weight (location 21)", " kg", kDefault, {104, 289, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight22, "axle weight (location 22)", " kg", kDefault, {193, 289, 74, 14},
            G::TruckOnly),
    display(C::kAxleWeight23, "axle weight (location 23)", " kg", kDefault, {282, 289, 74, 14},
            G::TruckOnly),

    // Quennet Bus only parameters
    edit(C::kDoorsStatus2, "Status 2 of doors", {15, 350, 74, 14}, G::BusOnly),
    edit(C::kRampWheelChairLift, "Ramp/Wheel chairlift", {104, 350, 74, 14}, G::BusOnly),
    edit(C::kDoorsPosition, "Position of doors", {191, 350, 76, 14}, G::BusOnly),
    edit(C::kDateTime, "yy/mm/dd/hr/min/sec", {282, 350, 74, 14}, G::BusOnly),
    edit(C::kDoorsLockStatus, "Lock status door 1-10", {15, 377, 74, 14}, G::BusOnly),
    edit(C::kDoorsOpenStatus, "Open status door 1-10", {104, 377, 74, 14}, G::BusOnly),
    edit(C::kDoorsEnableStatus, "Enable status door 1-10", {192, 377, 74, 14}, G::BusOnly),
    edit(C::kAlternatorStatus, "Alternator status 1-4", {282, 377, 74, 14}, G::BusOnly),
    edit(C::kSelectedGear, "Selected Gear", {15, 405, 74, 14}, G::BusOnly),
    edit(C::kCurrentGear, "Current Gear", {104, 405, 74, 14}, G::BusOnly),
    display(C::kBatteryRemainingCharge, "H.Battery Remain. Charge", " %", 4, {192, 405, 74, 14},
            G::BusOnly),
    display(C::kSteeringWheelAngle, "Steering Wheel Angle", " rad", 3, {282, 405, 74, 14},
            G::BusOnly),
    display(C::kBellowPressureFrontLeft, "Bellow P. Front Left", " kPa", kDefault,
            {15, 431, 74, 14}, G::BusOnly),
    display(C::kBellowPressureFrontRight, "Bellow P. Front Right", " kPa", kDefault,
            {104, 431, 74, 14}, G::BusOnly),
    display(C::kBellowPressureRearLeft, "Bellow P. Rear Left", " kPa", kDefault, {192, 431, 74, 14},
            G::BusOnly),
    display(C::kBellowPressureRearRight, "Bellow P. Rear Right", " kPa", kDefault,
            {282, 431, 74, 14}, G::BusOnly),
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
