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

// An identity box of the connect group: its label is its own.
constexpr ControlSpec identityBox(int id, std::string_view label, DluRect box) {
    return {id, K::ReadOnlyEdit, label, {}, kDefaultDecimals, true, true, box, G::Connect, {}};
}

// The parameter displays take their label, units, decimals and group from the model's tables,
// which every view of the displays shares.
constexpr model::DisplayEntry entryFor(model::ControlId id) {
    if (const std::size_t i = model::indexOf(model::kNumericDisplays, id);
        i < model::kNumericDisplayCount) {
        return model::kNumericDisplays[i];
    }
    if (const std::size_t i = model::indexOf(model::kLeds, id); i < model::kLedCount) {
        return model::kLeds[i];
    }
    if (const std::size_t i = model::indexOf(model::kTextDisplays, id);
        i < model::kTextDisplayCount) {
        return model::kTextDisplays[i];
    }
    throw "not a parameter display";  // reached only while compiling, as an error
}

constexpr G groupOf(model::DisplayGroup group) {
    switch (group) {
        case model::DisplayGroup::TruckOnly:
            return G::TruckOnly;
        case model::DisplayGroup::BusOnly:
            return G::BusOnly;
        case model::DisplayGroup::Common:
            break;
    }
    return G::Common;
}

constexpr ControlSpec edit(model::ControlId id, DluRect box) {
    const model::DisplayEntry entry = entryFor(id);
    return {id,  K::ReadOnlyEdit,      entry.label, {}, kDefaultDecimals, true, true,
            box, groupOf(entry.group), {}};
}

constexpr ControlSpec display(model::ControlId id, DluRect box) {
    const model::DisplayEntry entry = entryFor(id);
    return {id,  K::NumericDisplay,    entry.label, entry.units, entry.decimals, true, true,
            box, groupOf(entry.group), {}};
}

constexpr ControlSpec led(model::ControlId id, DluRect box) {
    const model::DisplayEntry entry = entryFor(id);
    return {id,   K::Led, entry.label,          {}, kDefaultDecimals, true,
            true, box,    groupOf(entry.group), {}};
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
              model::kTruckOnlyGroupCaption,
              {6, 189, 358, 132},
              CaptionAlignment::Centre,
              {}},
    GroupSpec{
        G::BusOnly, model::kBusOnlyGroupCaption, {6, 331, 358, 123}, CaptionAlignment::Centre, {}},
    GroupSpec{
        G::Common, model::kCommonGroupCaption, {370, 8, 341, 447}, CaptionAlignment::Centre, {}},
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
    identityBox(C::kProductId, "Product ID", {21, 56, 100, 14}),
    identityBox(C::kSerialNumber, "Serial Number", {135, 56, 100, 14}),
    identityBox(C::kFirmwareVersion, "Firmware Version", {248, 56, 100, 14}),
    identityBox(C::kCanBaudRate, "CAN Baud Rate", {21, 85, 100, 14}),
    identityBox(C::kVinStyle, "VIN Style", {135, 85, 100, 14}),
    identityBox(C::kFirmwareBuild, "Firmware Build #", {248, 85, 100, 14}),

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
    edit(C::kVehicleIdentificationNumber, {377, 27, 115, 14}),
    display(C::kEngineTotalFuelUsed, {502, 27, 96, 14}),
    display(C::kActualEngineTorque, {607, 27, 96, 14}),
    edit(C::kDriver1WorkingState, {377, 54, 115, 14}),
    display(C::kFuelLevel1, {502, 54, 96, 14}),
    display(C::kFuelLevel2, {607, 54, 96, 14}),
    edit(C::kDriver2WorkingState, {377, 80, 115, 14}),
    display(C::kEngineSpeed, {502, 80, 96, 14}),
    display(C::kEngineTotalHours, {607, 80, 96, 14}),
    edit(C::kVehicleMotion, {377, 107, 115, 14}),
    display(C::kHrTotalVehicleDistance, {502, 107, 96, 14}),
    display(C::kTachographVehicleSpeed, {607, 107, 96, 14}),
    edit(C::kDriver1TimeRelatedStates, {377, 134, 115, 14}),
    display(C::kAmbientAirTemperature, {502, 134, 96, 14}),
    display(C::kEngineCoolantTemperature, {607, 134, 96, 14}),
    edit(C::kDriver1Card, {377, 161, 115, 14}),
    display(C::kFuelRate, {502, 161, 96, 14}),
    display(C::kInstantaneousFuelEconomy, {608, 161, 96, 14}),
    edit(C::kDriver2TimeRelatedStates, {377, 188, 115, 14}),
    display(C::kServiceBrakeAirPressure1, {502, 188, 96, 14}),
    display(C::kServiceBrakeAirPressure2, {608, 188, 96, 14}),
    edit(C::kDriver2Card, {377, 216, 115, 14}),
    edit(C::kDriver1Id, {502, 216, 96, 14}),
    edit(C::kDriver2Id, {608, 216, 96, 14}),
    edit(C::kRetarderTorqueMode, {377, 243, 115, 14}),
    edit(C::kSystemEvent, {502, 243, 96, 14}),
    edit(C::kDirectionIndicator, {608, 243, 96, 14}),
    edit(C::kVehicleOverspeed, {377, 270, 75, 14}),
    edit(C::kTachographPerformance, {463, 270, 75, 14}),
    edit(C::kHandlingInformation, {549, 270, 75, 14}),
    led(C::kCruiseLed, {632, 270, 33, 14}),
    led(C::kParkingLed, {672, 270, 33, 14}),
    edit(C::kDiagnosticsSupported, {377, 297, 75, 14}),
    edit(C::kRequestsSupported, {464, 297, 75, 14}),
    edit(C::kSwVersionSupported, {549, 297, 75, 14}),
    led(C::kBrakeLed, {632, 297, 33, 14}),
    led(C::kClutchLed, {672, 297, 33, 14}),
    display(C::kDefTank1Level, {377, 323, 115, 14}),
    display(C::kHrEngineTotalFuelUsed, {502, 323, 96, 14}),
    edit(C::kTellTaleId0, {608, 323, 96, 14}),
    display(C::kTotalFuelUsedGaseous, {377, 350, 115, 14}),
    display(C::kBrakePedalPosition, {502, 350, 96, 14}),
    edit(C::kTellTaleId1, {608, 350, 96, 14}),
    display(C::kAcceleratorPedalPosition1, {502, 377, 96, 14}),
    display(C::kRetarderSelection, {377, 378, 115, 14}),
    edit(C::kTellTaleId2, {608, 378, 96, 14}),
    display(C::kActualRetarderTorque, {377, 404, 115, 14}),
    edit(C::kTellTaleId3, {608, 404, 96, 14}),
    display(C::kWheelBasedSpeed, {502, 405, 96, 14}),
    edit(C::kFuelType, {377, 432, 115, 14}),
    edit(C::kCruiseControlStates, {501, 432, 96, 14}),
    edit(C::kTellTaleId4, {608, 432, 96, 14}),

    // Quennet Truck only parameters
    edit(C::kPtoEngaged, {15, 208, 74, 14}),
    edit(C::kPtoState, {104, 208, 74, 14}),
    display(C::kEnginePercentLoad, {193, 208, 74, 14}),
    display(C::kGrossCombinationWeight, {15, 235, 74, 14}),
    display(C::kServiceDistance, {104, 235, 74, 14}),
    display(C::kAxleWeight00, {194, 235, 74, 14}),
    display(C::kAxleWeight01, {282, 235, 74, 14}),
    display(C::kAxleWeight10, {15, 262, 74, 14}),
    display(C::kAxleWeight11, {104, 262, 74, 14}),
    display(C::kAxleWeight12, {193, 262, 74, 14}),
    display(C::kAxleWeight13, {282, 262, 74, 14}),
    display(C::kAxleWeight20, {15, 289, 74, 14}),
    display(C::kAxleWeight21, {104, 289, 74, 14}),
    display(C::kAxleWeight22, {193, 289, 74, 14}),
    display(C::kAxleWeight23, {282, 289, 74, 14}),

    // Quennet Bus only parameters
    edit(C::kDoorsStatus2, {15, 350, 74, 14}),
    edit(C::kRampWheelChairLift, {104, 350, 74, 14}),
    edit(C::kDoorsPosition, {191, 350, 76, 14}),
    edit(C::kDateTime, {282, 350, 74, 14}),
    edit(C::kDoorsLockStatus, {15, 377, 74, 14}),
    edit(C::kDoorsOpenStatus, {104, 377, 74, 14}),
    edit(C::kDoorsEnableStatus, {192, 377, 74, 14}),
    edit(C::kAlternatorStatus, {282, 377, 74, 14}),
    edit(C::kSelectedGear, {15, 405, 74, 14}),
    edit(C::kCurrentGear, {104, 405, 74, 14}),
    display(C::kBatteryRemainingCharge, {192, 405, 74, 14}),
    display(C::kSteeringWheelAngle, {282, 405, 74, 14}),
    display(C::kBellowPressureFrontLeft, {15, 431, 74, 14}),
    display(C::kBellowPressureFrontRight, {104, 431, 74, 14}),
    display(C::kBellowPressureRearLeft, {192, 431, 74, 14}),
    display(C::kBellowPressureRearRight, {282, 431, 74, 14}),
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
