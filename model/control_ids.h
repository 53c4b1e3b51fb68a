#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvale::model {

/// Numeric ID of a control of the main window (dialog template 102).
using ControlId = std::uint16_t;

/// IDs of the main window's controls, declared here once: the window, the link that enables
/// and disables them, the catalogue that lays them out and the views that name them all use
/// these. The 83 parameter displays that every evaluation writes are 41 numeric displays,
/// 4 LEDs and 38 read-only text boxes.
namespace control {

// Step 1: Connect to the Quennet.
inline constexpr ControlId kExit = 1;
inline constexpr ControlId kProductId = 1000;
inline constexpr ControlId kPortList = 1001;
inline constexpr ControlId kConnect = 1002;
inline constexpr ControlId kDisconnect = 1003;
inline constexpr ControlId kSerialControl = 1004;
inline constexpr ControlId kFirmwareVersion = 1005;
inline constexpr ControlId kSerialNumber = 1006;
inline constexpr ControlId kCanBaudRate = 1086;
inline constexpr ControlId kVinStyle = 1096;
inline constexpr ControlId kFirmwareBuild = 1097;

// Step 2: Remote Control the Quennet.
inline constexpr ControlId kSlider = 1007;
inline constexpr ControlId kDown = 1008;
inline constexpr ControlId kUp = 1009;
inline constexpr ControlId kDynamic = 1010;
inline constexpr ControlId kQuiet = 1011;
/// The remote-control group, enabled only for a Plus model on firmware 0.3B or 0.3C.
inline constexpr std::array<ControlId, 5> kRemoteControlGroup = {kSlider, kDown, kUp, kDynamic,
                                                                 kQuiet};

// Parameters for Bus and Quennet Truck-Standard: numeric displays.
inline constexpr ControlId kEngineTotalFuelUsed = 1021;
inline constexpr ControlId kActualEngineTorque = 1081;
inline constexpr ControlId kFuelLevel1 = 1020;
inline constexpr ControlId kFuelLevel2 = 1080;
inline constexpr ControlId kEngineSpeed = 1022;
inline constexpr ControlId kEngineTotalHours = 1023;
inline constexpr ControlId kHrTotalVehicleDistance = 1028;
inline constexpr ControlId kTachographVehicleSpeed = 1029;
inline constexpr ControlId kAmbientAirTemperature = 1053;
inline constexpr ControlId kEngineCoolantTemperature = 1030;
inline constexpr ControlId kFuelRate = 1058;
inline constexpr ControlId kInstantaneousFuelEconomy = 1062;
inline constexpr ControlId kServiceBrakeAirPressure1 = 1054;
inline constexpr ControlId kServiceBrakeAirPressure2 = 1056;
inline constexpr ControlId kDefTank1Level = 1082;
inline constexpr ControlId kHrEngineTotalFuelUsed = 1077;
inline constexpr ControlId kTotalFuelUsedGaseous = 1087;
inline constexpr ControlId kBrakePedalPosition = 1085;
inline constexpr ControlId kAcceleratorPedalPosition1 = 1013;
inline constexpr ControlId kRetarderSelection = 1090;
inline constexpr ControlId kActualRetarderTorque = 1089;
inline constexpr ControlId kWheelBasedSpeed = 1012;

// Quennet Truck only parameters: numeric displays.
inline constexpr ControlId kEnginePercentLoad = 1078;
inline constexpr ControlId kGrossCombinationWeight = 1092;
inline constexpr ControlId kServiceDistance = 1042;
inline constexpr ControlId kAxleWeight00 = 1044;
inline constexpr ControlId kAxleWeight01 = 1043;
inline constexpr ControlId kAxleWeight10 = 1046;
inline constexpr ControlId kAxleWeight11 = 1045;
inline constexpr ControlId kAxleWeight12 = 1048;
inline constexpr ControlId kAxleWeight13 = 1047;
inline constexpr ControlId kAxleWeight20 = 1050;
inline constexpr ControlId kAxleWeight21 = 1049;
inline constexpr ControlId kAxleWeight22 = 1052;
inline constexpr ControlId kAxleWeight23 = 1051;

// Quennet Bus only parameters: numeric displays.
inline constexpr ControlId kBatteryRemainingCharge = 1093;
inline constexpr ControlId kSteeringWheelAngle = 1094;
inline constexpr ControlId kBellowPressureFrontLeft = 1055;
inline constexpr ControlId kBellowPressureFrontRight = 1057;
inline constexpr ControlId kBellowPressureRearLeft = 1059;
inline constexpr ControlId kBellowPressureRearRight = 1060;

// LEDs.
inline constexpr ControlId kCruiseLed = 1014;
inline constexpr ControlId kParkingLed = 1017;
inline constexpr ControlId kBrakeLed = 1015;
inline constexpr ControlId kClutchLed = 1016;

// Parameters for Bus and Quennet Truck-Standard: text boxes.
inline constexpr ControlId kVehicleIdentificationNumber = 1024;
inline constexpr ControlId kDriver1WorkingState = 1019;
inline constexpr ControlId kDriver2WorkingState = 1033;
inline constexpr ControlId kVehicleMotion = 1036;
inline constexpr ControlId kDriver1TimeRelatedStates = 1032;
inline constexpr ControlId kDriver1Card = 1031;
inline constexpr ControlId kDriver2TimeRelatedStates = 1035;
inline constexpr ControlId kDriver2Card = 1034;
inline constexpr ControlId kDriver1Id = 1065;
inline constexpr ControlId kDriver2Id = 1066;
inline constexpr ControlId kRetarderTorqueMode = 1088;
inline constexpr ControlId kSystemEvent = 1038;
inline constexpr ControlId kDirectionIndicator = 1040;
inline constexpr ControlId kVehicleOverspeed = 1037;
inline constexpr ControlId kTachographPerformance = 1041;
inline constexpr ControlId kHandlingInformation = 1039;
inline constexpr ControlId kDiagnosticsSupported = 1027;
inline constexpr ControlId kRequestsSupported = 1026;
inline constexpr ControlId kSwVersionSupported = 1025;
inline constexpr ControlId kTellTaleId0 = 1063;
inline constexpr ControlId kTellTaleId1 = 1061;
inline constexpr ControlId kTellTaleId2 = 1064;
inline constexpr ControlId kTellTaleId3 = 1083;
inline constexpr ControlId kFuelType = 1095;
inline constexpr ControlId kCruiseControlStates = 1091;
inline constexpr ControlId kTellTaleId4 = 1084;

// Quennet Truck only parameters: text boxes.
inline constexpr ControlId kPtoEngaged = 1079;
inline constexpr ControlId kPtoState = 1018;

// Quennet Bus only parameters: text boxes.
inline constexpr ControlId kDoorsStatus2 = 1074;
inline constexpr ControlId kRampWheelChairLift = 1076;
inline constexpr ControlId kDoorsPosition = 1075;
inline constexpr ControlId kDateTime = 1070;
inline constexpr ControlId kDoorsLockStatus = 1071;
inline constexpr ControlId kDoorsOpenStatus = 1072;
inline constexpr ControlId kDoorsEnableStatus = 1073;
inline constexpr ControlId kAlternatorStatus = 1069;
inline constexpr ControlId kSelectedGear = 1067;
inline constexpr ControlId kCurrentGear = 1068;

}  // namespace control

/// The group frame a parameter display sits in.
enum class DisplayGroup : std::uint8_t { Common, TruckOnly, BusOnly };

/// The captions of those frames, as the window shows them.
inline constexpr std::string_view kCommonGroupCaption =
    "Parameters for Bus and Quennet Truck-Standard";
inline constexpr std::string_view kTruckOnlyGroupCaption = "Quennet Truck only parameters";
inline constexpr std::string_view kBusOnlyGroupCaption = "Quennet Bus only parameters";

[[nodiscard]] constexpr std::string_view caption(DisplayGroup group) {
    switch (group) {
        case DisplayGroup::Common:
            return kCommonGroupCaption;
        case DisplayGroup::TruckOnly:
            return kTruckOnlyGroupCaption;
        case DisplayGroup::BusOnly:
            return kBusOnlyGroupCaption;
    }
    return kCommonGroupCaption;
}

/// A numeric display that keeps the display's own default decimals (one).
inline constexpr int kDisplayDefaultDecimals = -1;

/// One parameter display of the main window: its control ID, the label of its frame (LEDs
/// carry the label inside them), its group and, for numeric displays, the units text that
/// follows the number (with its leading blank) and its decimals.
struct DisplayEntry {
    ControlId id;
    std::string_view label;
    DisplayGroup group = DisplayGroup::Common;
    std::string_view units = {};
    int decimals = kDisplayDefaultDecimals;
};

inline constexpr std::size_t kNumericDisplayCount = 41;
inline constexpr std::size_t kLedCount = 4;
inline constexpr std::size_t kTextDisplayCount = 38;

/// The numeric displays in window order: the right-hand box row by row, then the truck box,
/// then the bus box. Presentation::numbers uses the same order.
inline constexpr std::array<DisplayEntry, kNumericDisplayCount> kNumericDisplays{{
    {control::kEngineTotalFuelUsed, "Engine total fuel used", DisplayGroup::Common, " L",
     kDisplayDefaultDecimals},
    {control::kActualEngineTorque, "Actual Engine % Torque", DisplayGroup::Common, " %", 0},
    {control::kFuelLevel1, "Fuel Level 1", DisplayGroup::Common, " %", kDisplayDefaultDecimals},
    {control::kFuelLevel2, "Fuel Level 2", DisplayGroup::Common, " %", kDisplayDefaultDecimals},
    {control::kEngineSpeed, "Engine speed", DisplayGroup::Common, " rpm", 3},
    {control::kEngineTotalHours, "Engine total hours of Operation", DisplayGroup::Common, " hr", 2},
    {control::kHrTotalVehicleDistance, "HR-total vehicle distance", DisplayGroup::Common, " m", 0},
    {control::kTachographVehicleSpeed, "Tachograph vehicle Speed", DisplayGroup::Common, " km/hr",
     3},
    {control::kAmbientAirTemperature, "Ambient Air Temperature", DisplayGroup::Common, " °C", 5},
    {control::kEngineCoolantTemperature, "Engine coolant temperature", DisplayGroup::Common, " °C",
     0},
    {control::kFuelRate, "Fuel Rate", DisplayGroup::Common, " L/hr", 2},
    {control::kInstantaneousFuelEconomy, "Instantaneous Fuel Economy", DisplayGroup::Common,
     " km/L", 2},
    {control::kServiceBrakeAirPressure1, "Service brake air pressure #1", DisplayGroup::Common,
     " kPa", 0},
    {control::kServiceBrakeAirPressure2, "Service brake air pressure #2", DisplayGroup::Common,
     " kPa", 0},
    {control::kDefTank1Level, "Aftertreatment 1 DEF Tank 1 Level", DisplayGroup::Common, " %",
     kDisplayDefaultDecimals},
    {control::kHrEngineTotalFuelUsed, "HR-engine total fuel used", DisplayGroup::Common, " L", 3},
    {control::kTotalFuelUsedGaseous, "Total Fuel Used (Gaseous)", DisplayGroup::Common, " kg",
     kDisplayDefaultDecimals},
    {control::kBrakePedalPosition, "Brake Pedal Position", DisplayGroup::Common, " %",
     kDisplayDefaultDecimals},
    {control::kAcceleratorPedalPosition1, "Accelerator pedal position 1", DisplayGroup::Common,
     " %", kDisplayDefaultDecimals},
    {control::kRetarderSelection, "Retarder Selection, non-engine", DisplayGroup::Common, " %",
     kDisplayDefaultDecimals},
    {control::kActualRetarderTorque, "Actual Retarder - % Torque", DisplayGroup::Common, " %", 0},
    {control::kWheelBasedSpeed, "Wheel based Speed", DisplayGroup::Common, " km/hr", 3},
    {control::kEnginePercentLoad, "Engine % Load", DisplayGroup::TruckOnly, " %", 0},
    {control::kGrossCombinationWeight, "Gross Combination V.W.", DisplayGroup::TruckOnly, " kg", 0},
    {control::kServiceDistance, "Service distance", DisplayGroup::TruckOnly, " km", 0},
    {control::kAxleWeight00, "axle weight (location 00)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight01, "axle weight (location 01)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight10, "axle weight (location 10)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight11, "axle weight (location 11)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight12, "axle weight (location 12)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight13, "axle weight (location 13)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight20, "axle weight (location 20)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight21, "axle weight (location 21)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight22, "axle weight (location 22)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kAxleWeight23, "axle weight (location 23)", DisplayGroup::TruckOnly, " kg",
     kDisplayDefaultDecimals},
    {control::kBatteryRemainingCharge, "H.Battery Remain. Charge", DisplayGroup::BusOnly, " %", 4},
    {control::kSteeringWheelAngle, "Steering Wheel Angle", DisplayGroup::BusOnly, " rad", 3},
    {control::kBellowPressureFrontLeft, "Bellow P. Front Left", DisplayGroup::BusOnly, " kPa",
     kDisplayDefaultDecimals},
    {control::kBellowPressureFrontRight, "Bellow P. Front Right", DisplayGroup::BusOnly, " kPa",
     kDisplayDefaultDecimals},
    {control::kBellowPressureRearLeft, "Bellow P. Rear Left", DisplayGroup::BusOnly, " kPa",
     kDisplayDefaultDecimals},
    {control::kBellowPressureRearRight, "Bellow P. Rear Right", DisplayGroup::BusOnly, " kPa",
     kDisplayDefaultDecimals},
}};

/// The LEDs in window order. Presentation::leds uses the same order.
inline constexpr std::array<DisplayEntry, kLedCount> kLeds{{
    {control::kCruiseLed, "Cruise", DisplayGroup::Common},
    {control::kParkingLed, "Parking", DisplayGroup::Common},
    {control::kBrakeLed, "Brake", DisplayGroup::Common},
    {control::kClutchLed, "Clutch", DisplayGroup::Common},
}};

/// The read-only text boxes that the presentation writes, in window order.
/// Presentation::texts uses the same order.
inline constexpr std::array<DisplayEntry, kTextDisplayCount> kTextDisplays{{
    {control::kVehicleIdentificationNumber, "Vehicle Identification number", DisplayGroup::Common},
    {control::kDriver1WorkingState, "Driver 1 working state", DisplayGroup::Common},
    {control::kDriver2WorkingState, "Driver 2 working state", DisplayGroup::Common},
    {control::kVehicleMotion, "Vehicle motion", DisplayGroup::Common},
    {control::kDriver1TimeRelatedStates, "Driver 1 time related states", DisplayGroup::Common},
    {control::kDriver1Card, "Driver 1 Card", DisplayGroup::Common},
    {control::kDriver2TimeRelatedStates, "Driver 2 time related states", DisplayGroup::Common},
    {control::kDriver2Card, "Driver 2 Card", DisplayGroup::Common},
    {control::kDriver1Id, "Driver 1 ID", DisplayGroup::Common},
    {control::kDriver2Id, "Driver 2 ID", DisplayGroup::Common},
    {control::kRetarderTorqueMode, "Retarder Torque Mode", DisplayGroup::Common},
    {control::kSystemEvent, "System event", DisplayGroup::Common},
    {control::kDirectionIndicator, "Direction indicator", DisplayGroup::Common},
    {control::kVehicleOverspeed, "Vehicle Overspeed", DisplayGroup::Common},
    {control::kTachographPerformance, "Tachograph performance", DisplayGroup::Common},
    {control::kHandlingInformation, "Handling information", DisplayGroup::Common},
    {control::kDiagnosticsSupported, "Diagnostics supported", DisplayGroup::Common},
    {control::kRequestsSupported, "Requests supported", DisplayGroup::Common},
    {control::kSwVersionSupported, "SW-version supported", DisplayGroup::Common},
    {control::kTellTaleId0, "TellTale status x, ID=0", DisplayGroup::Common},
    {control::kTellTaleId1, "TellTale status x, ID=1", DisplayGroup::Common},
    {control::kTellTaleId2, "TellTale status x, ID=2", DisplayGroup::Common},
    {control::kTellTaleId3, "TellTale status x, ID=3", DisplayGroup::Common},
    {control::kFuelType, "Fuel Type", DisplayGroup::Common},
    {control::kCruiseControlStates, "Cruise Control States", DisplayGroup::Common},
    {control::kTellTaleId4, "TellTale status x, ID=4", DisplayGroup::Common},
    {control::kPtoEngaged, "At least 1 PTO engaged", DisplayGroup::TruckOnly},
    {control::kPtoState, "PTO State", DisplayGroup::TruckOnly},
    {control::kDoorsStatus2, "Status 2 of doors", DisplayGroup::BusOnly},
    {control::kRampWheelChairLift, "Ramp/Wheel chairlift", DisplayGroup::BusOnly},
    {control::kDoorsPosition, "Position of doors", DisplayGroup::BusOnly},
    {control::kDateTime, "yy/mm/dd/hr/min/sec", DisplayGroup::BusOnly},
    {control::kDoorsLockStatus, "Lock status door 1-10", DisplayGroup::BusOnly},
    {control::kDoorsOpenStatus, "Open status door 1-10", DisplayGroup::BusOnly},
    {control::kDoorsEnableStatus, "Enable status door 1-10", DisplayGroup::BusOnly},
    {control::kAlternatorStatus, "Alternator status 1-4", DisplayGroup::BusOnly},
    {control::kSelectedGear, "Selected Gear", DisplayGroup::BusOnly},
    {control::kCurrentGear, "Current Gear", DisplayGroup::BusOnly},
}};

/// Index of `id` in `table`, or table.size() when it is not there. Usable at compile time,
/// so that code writing a display by ID costs no search at run time.
template <std::size_t N>
constexpr std::size_t indexOf(const std::array<DisplayEntry, N>& table, ControlId id) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i].id == id) {
            return i;
        }
    }
    return N;
}

}  // namespace orvale::model
