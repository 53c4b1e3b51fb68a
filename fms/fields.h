#pragma once

// Where each parameter display of the window sits on the bus, like a DBC file in code: one row
// per bus field, keyed by the display's control ID. The encoder fills the fields from the model's
// raw set and texts; the decoder reads them back. Neither has a line of code per parameter.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fms/bit_field.h"
#include "fms/choices.h"
#include "fms/groups.h"
#include "model/control_ids.h"
#include "model/parameter_model.h"

namespace orvale::fms {

/// Device time of day, as its clock reports it.
struct ClockTime {
    std::uint8_t hours = 0;    ///< 0 to 23
    std::uint8_t minutes = 0;  ///< 0 to 59
    std::uint8_t seconds = 0;  ///< 0 to 59

    friend bool operator==(const ClockTime&, const ClockTime&) = default;
};

/// Everything the device puts on the bus at one moment: the model's raw set for a position and
/// product, and the texts its boxes show. The views need only live for the encoding.
struct DeviceState {
    model::RawParameters raw{};
    std::uint8_t productId = 0;
    std::string_view vin;            ///< the VIN box: "1M8GDM9AXKP042788*", or its tail while short
    std::string_view driver1Id;      ///< the Driver 1 ID box: "*" or "DE_4084852370992000*"
    std::string_view driver2Id;      ///< the Driver 2 ID box
    std::string_view swVersion;      ///< "04.04"; any text that is not 4 digits leaves it unsent
    std::optional<ClockTime> clock;  ///< TD seconds, minutes and hours; unsent when absent
};

/// What a field holds and how it reads.
enum class FieldKind : std::uint8_t {
    kNumber,   ///< unsigned raw value; physical = raw x resolution + offset
    kState,    ///< a status code of 2 to 8 bits, shown as its bits
    kText,     ///< ASCII closed by "*" in a variable-length group; the box shows it with its "*"
    kVersion,  ///< 4 ASCII digits; the box shows "dd.dd"
};

/// The six bus fields of the date and time box (1070), which the device shows as one text.
enum class DatePart : std::uint8_t { kSeconds, kMinutes, kHours, kMonth, kDay, kYear };

using NumberSource = std::optional<std::uint32_t> (*)(const DeviceState&) noexcept;
using TextSource = std::string_view (*)(const DeviceState&) noexcept;

/// One bus field of one display.
struct Field {
    model::ControlId display = 0;
    std::uint8_t part = 0;  ///< DatePart for the date and time box, else 0
    GroupId group{};
    FieldKind kind = FieldKind::kNumber;
    BitField bits{};  ///< kText: unused (texts follow one another, each closed by "*")
    double resolution = 1.0;
    double offset = 0.0;
    std::uint8_t selector = 0;  ///< selector groups: the selector value of this field's frame
    std::uint8_t copies = 1;    ///< the same value in `copies` fields `stride` bits apart
    std::uint8_t stride = 0;
    NumberSource number = nullptr;  ///< kNumber, kState
    TextSource text = nullptr;      ///< kText, kVersion
    bool onBus = true;              ///< false: the display exists but the device does not send it
};

namespace source {

using R = model::RawParameters;

template <auto Member>
constexpr std::optional<std::uint32_t> raw(const DeviceState& s) noexcept {
    return static_cast<std::uint32_t>(s.raw.*Member);
}
template <std::size_t I>
constexpr std::optional<std::uint32_t> axle(const DeviceState& s) noexcept {
    return s.raw.axleWeights[I];
}
template <std::size_t I>
constexpr std::optional<std::uint32_t> bellow(const DeviceState& s) noexcept {
    return s.raw.bellowPressures[I];
}
// The model keeps the whole CCVS1 byte 7; the cruise states are its top three bits.
constexpr std::optional<std::uint32_t> cruiseStates(const DeviceState& s) noexcept {
    return static_cast<std::uint32_t>(s.raw.cruiseControlStates >> 5U);
}
// TD seconds are in quarter seconds.
constexpr std::optional<std::uint32_t> seconds(const DeviceState& s) noexcept {
    if (!s.clock) return std::nullopt;
    return s.clock->seconds * 4U;
}
constexpr std::optional<std::uint32_t> minutes(const DeviceState& s) noexcept {
    if (!s.clock) return std::nullopt;
    return s.clock->minutes;
}
constexpr std::optional<std::uint32_t> hours(const DeviceState& s) noexcept {
    if (!s.clock) return std::nullopt;
    return s.clock->hours;
}
constexpr std::string_view vin(const DeviceState& s) noexcept { return s.vin; }
constexpr std::string_view driver1Id(const DeviceState& s) noexcept { return s.driver1Id; }
constexpr std::string_view driver2Id(const DeviceState& s) noexcept { return s.driver2Id; }
constexpr std::string_view swVersion(const DeviceState& s) noexcept { return s.swVersion; }

}  // namespace source

namespace row {

constexpr Field number(model::ControlId id, GroupId g, std::uint8_t start, std::uint8_t length,
                       double resolution, double offset, NumberSource src) noexcept {
    Field f;
    f.display = id;
    f.group = g;
    f.bits = {start, length};
    f.resolution = resolution;
    f.offset = offset;
    f.number = src;
    return f;
}
constexpr Field state(model::ControlId id, GroupId g, std::uint8_t start, std::uint8_t length,
                      NumberSource src) noexcept {
    Field f = number(id, g, start, length, 1.0, 0.0, src);
    f.kind = FieldKind::kState;
    return f;
}
constexpr Field text(model::ControlId id, GroupId g, TextSource src) noexcept {
    Field f;
    f.display = id;
    f.group = g;
    f.kind = FieldKind::kText;
    f.text = src;
    return f;
}
constexpr Field version(model::ControlId id, GroupId g, std::uint8_t start,
                        TextSource src) noexcept {
    Field f = text(id, g, src);
    f.kind = FieldKind::kVersion;
    f.bits = {start, 32};
    return f;
}
constexpr Field selected(Field f, std::uint8_t selector) noexcept {
    f.selector = selector;
    return f;
}
constexpr Field repeated(Field f, std::uint8_t copies, std::uint8_t stride) noexcept {
    f.copies = copies;
    f.stride = stride;
    return f;
}
constexpr Field datePart(Field f, DatePart part) noexcept {
    f.part = static_cast<std::uint8_t>(part);
    return f;
}
constexpr Field onBusIf(Field f, bool onBus) noexcept {
    f.onBus = onBus;
    return f;
}

}  // namespace row

inline constexpr std::size_t kFieldCount = 88;

namespace detail {

using namespace model::control;
using model::RawParameters;
using row::datePart;
using row::number;
using row::repeated;
using row::selected;
using row::state;
using G = GroupId;
using R = RawParameters;
using source::raw;

constexpr double kPercent = 0.4;
constexpr double kSpeed = 1.0 / 256;

// The one status shown for a block, in as many of its 15 slots as the choice says.
constexpr Field tellTales(model::ControlId id, std::uint8_t block) noexcept {
    return selected(repeated(state(id, GroupId::kFms1, 4, 3, source::raw<&R::tellTale>),
                             choice::kTellTaleSlotsFilled, 4),
                    block);
}

// Grouped by GroupId, in the order of kGroups. Start bits are 0-based Intel (DBC) bits.
inline constexpr std::array<Field, kFieldCount> kFields{{
    // EEC1
    number(kActualEngineTorque, G::kEec1, 16, 8, 1.0, -125.0, raw<&R::actualEngineTorque>),
    number(kEngineSpeed, G::kEec1, 24, 16, 0.125, 0.0, raw<&R::engineSpeed>),
    // EEC2
    number(kAcceleratorPedalPosition1, G::kEec2, 8, 8, kPercent, 0.0,
           raw<&R::acceleratorPedalPosition1>),
    number(kEnginePercentLoad, G::kEec2, 16, 8, 1.0, 0.0, raw<&R::enginePercentLoad>),
    // CCVS1
    state(kParkingLed, G::kCcvs1, 2, 2, raw<&R::parkingBrake>),
    number(kWheelBasedSpeed, G::kCcvs1, 8, 16, kSpeed, 0.0, raw<&R::wheelBasedSpeed>),
    state(kCruiseLed, G::kCcvs1, 24, 2, raw<&R::cruiseActive>),
    state(kBrakeLed, G::kCcvs1, 28, 2, raw<&R::brakePedal>),
    state(kClutchLed, G::kCcvs1, 30, 2, raw<&R::clutchPedal>),
    row::onBusIf(state(kPtoState, G::kCcvs1, 48, 5, raw<&R::ptoState>), choice::kPtoStateOnBus),
    state(kCruiseControlStates, G::kCcvs1, 53, 3, source::cruiseStates),
    // TCO1
    state(kDriver1WorkingState, G::kTco1, 0, 3, raw<&R::driver1WorkingState>),
    state(kDriver2WorkingState, G::kTco1, 3, 3, raw<&R::driver2WorkingState>),
    state(kVehicleMotion, G::kTco1, 6, 2, raw<&R::vehicleMotion>),
    state(kDriver1TimeRelatedStates, G::kTco1, 8, 4, raw<&R::driver1TimeStates>),
    state(kDriver1Card, G::kTco1, 12, 2, raw<&R::driver1Card>),
    state(kVehicleOverspeed, G::kTco1, 14, 2, raw<&R::vehicleOverspeed>),
    state(kDriver2TimeRelatedStates, G::kTco1, 16, 4, raw<&R::driver2TimeStates>),
    state(kDriver2Card, G::kTco1, 20, 2, raw<&R::driver2Card>),
    state(kSystemEvent, G::kTco1, 24, 2, raw<&R::systemEvent>),
    state(kHandlingInformation, G::kTco1, 26, 2, raw<&R::handlingInformation>),
    state(kTachographPerformance, G::kTco1, 28, 2, raw<&R::tachographPerformance>),
    state(kDirectionIndicator, G::kTco1, 30, 2, raw<&R::directionIndicator>),
    number(kTachographVehicleSpeed, G::kTco1, 48, 16, kSpeed, 0.0, raw<&R::tachographVehicleSpeed>),
    // DD1
    number(kFuelLevel1, G::kDd1, 8, 8, kPercent, 0.0, raw<&R::fuelLevel1>),
    number(kFuelLevel2, G::kDd1, 48, 8, kPercent, 0.0, raw<&R::fuelLevel2>),
    // AT1T1I
    number(kDefTank1Level, G::kAt1t1i, 0, 8, kPercent, 0.0, raw<&R::defTank1Level>),
    // EBC1
    number(kBrakePedalPosition, G::kEbc1, 8, 8, kPercent, 0.0, raw<&R::brakePedalPosition>),
    // ERC1: the model's mode byte has bits 5-8 set, which are SPN 571/572 "not available".
    state(kRetarderTorqueMode, G::kErc1, 0, 4, raw<&R::retarderTorqueMode>),
    number(kActualRetarderTorque, G::kErc1, 8, 8, 1.0, -125.0, raw<&R::actualRetarderTorque>),
    number(kRetarderSelection, G::kErc1, 48, 8, kPercent, 0.0, raw<&R::retarderSelection>),
    // ET1
    number(kEngineCoolantTemperature, G::kEt1, 0, 8, 1.0, -40.0, raw<&R::engineCoolantTemperature>),
    // AIR1
    number(kServiceBrakeAirPressure1, G::kAir1, 16, 8, 8.0, 0.0, raw<&R::serviceBrakeAirPressure1>),
    number(kServiceBrakeAirPressure2, G::kAir1, 24, 8, 8.0, 0.0, raw<&R::serviceBrakeAirPressure2>),
    // AMB
    number(kAmbientAirTemperature, G::kAmb, 24, 16, 0.03125, -273.0,
           raw<&R::ambientAirTemperature>),
    // LFE1
    number(kFuelRate, G::kLfe1, 0, 16, 0.05, 0.0, raw<&R::fuelRate>),
    number(kInstantaneousFuelEconomy, G::kLfe1, 16, 16, 1.0 / 512, 0.0,
           raw<&R::instantaneousFuelEconomy>),
    // LFC1, GFC, HRLFC, VDHR, HOURS
    number(kEngineTotalFuelUsed, G::kLfc1, 32, 32, 0.5, 0.0, raw<&R::engineTotalFuelUsed>),
    number(kTotalFuelUsedGaseous, G::kGfc, 32, 32, 0.5, 0.0, raw<&R::totalFuelUsedGaseous>),
    number(kHrEngineTotalFuelUsed, G::kHrlfc, 32, 32, 0.001, 0.0, raw<&R::hrEngineTotalFuelUsed>),
    number(kHrTotalVehicleDistance, G::kVdhr, 0, 32, 5.0, 0.0, raw<&R::hrTotalVehicleDistance>),
    number(kEngineTotalHours, G::kHours, 0, 32, 0.05, 0.0, raw<&R::engineTotalHours>),
    // CVW, SERV
    number(kGrossCombinationWeight, G::kCvw, 16, 16, 10.0, 0.0, raw<&R::grossCombinationWeight>),
    number(kServiceDistance, G::kServ, 8, 16, 5.0, -160635.0, raw<&R::serviceDistance>),
    // VW: one frame per axle location, in the model's order of locations.
    selected(number(kAxleWeight00, G::kVw, 8, 16, 0.5, 0.0, source::axle<0>), 0x00),
    selected(number(kAxleWeight01, G::kVw, 8, 16, 0.5, 0.0, source::axle<1>), 0x01),
    selected(number(kAxleWeight10, G::kVw, 8, 16, 0.5, 0.0, source::axle<2>), 0x10),
    selected(number(kAxleWeight11, G::kVw, 8, 16, 0.5, 0.0, source::axle<3>), 0x11),
    selected(number(kAxleWeight12, G::kVw, 8, 16, 0.5, 0.0, source::axle<4>), 0x12),
    selected(number(kAxleWeight13, G::kVw, 8, 16, 0.5, 0.0, source::axle<5>), 0x13),
    selected(number(kAxleWeight20, G::kVw, 8, 16, 0.5, 0.0, source::axle<6>), 0x20),
    selected(number(kAxleWeight21, G::kVw, 8, 16, 0.5, 0.0, source::axle<7>), 0x21),
    selected(number(kAxleWeight22, G::kVw, 8, 16, 0.5, 0.0, source::axle<8>), 0x22),
    selected(number(kAxleWeight23, G::kVw, 8, 16, 0.5, 0.0, source::axle<9>), 0x23),
    // ASC4
    number(kBellowPressureFrontLeft, G::kAsc4, 0, 16, 0.1, 0.0, source::bellow<0>),
    number(kBellowPressureFrontRight, G::kAsc4, 16, 16, 0.1, 0.0, source::bellow<1>),
    number(kBellowPressureRearLeft, G::kAsc4, 32, 16, 0.1, 0.0, source::bellow<2>),
    number(kBellowPressureRearRight, G::kAsc4, 48, 16, 0.1, 0.0, source::bellow<3>),
    // VEP4, VDC2
    number(kBatteryRemainingCharge, G::kVep4, 0, 16, 0.0025, 0.0, raw<&R::batteryRemainingCharge>),
    number(kSteeringWheelAngle, G::kVdc2, 0, 16, 1.0 / 1024, -31.374, raw<&R::steeringWheelAngle>),
    // ETC2: both gears are the model's one gear byte.
    number(kSelectedGear, G::kEtc2, 0, 8, 1.0, -125.0, raw<&R::gear>),
    number(kCurrentGear, G::kEtc2, 24, 8, 1.0, -125.0, raw<&R::gear>),
    // TD: the time of day is the device's clock, the date the model's.
    datePart(number(kDateTime, G::kTd, 0, 8, 0.25, 0.0, source::seconds), DatePart::kSeconds),
    datePart(number(kDateTime, G::kTd, 8, 8, 1.0, 0.0, source::minutes), DatePart::kMinutes),
    datePart(number(kDateTime, G::kTd, 16, 8, 1.0, 0.0, source::hours), DatePart::kHours),
    datePart(number(kDateTime, G::kTd, 24, 8, 1.0, 0.0, raw<&R::dateMonth>), DatePart::kMonth),
    datePart(number(kDateTime, G::kTd, 32, 8, 0.25, 0.0, raw<&R::dateDay>), DatePart::kDay),
    datePart(number(kDateTime, G::kTd, 40, 8, 1.0, 1985.0, raw<&R::dateYear>), DatePart::kYear),
    // AS: alternator k at byte 3 bits 2k-1..2k.
    repeated(state(kAlternatorStatus, G::kAs, 16, 2, raw<&R::alternators>),
             choice::kAlternatorsFilled, 2),
    // DC1
    state(kDoorsPosition, G::kDc1, 0, 4, raw<&R::doorsPosition>),
    state(kRampWheelChairLift, G::kDc1, 4, 2, raw<&R::ramp>),
    state(kDoorsStatus2, G::kDc1, 6, 2, raw<&R::doorsStatus2>),
    // DC2: door n has lock, open and enable status at 6(n-1), +2 and +4.
    repeated(state(kDoorsLockStatus, G::kDc2, 0, 2, raw<&R::doorsLock>), choice::kDoorsFilled, 6),
    repeated(state(kDoorsOpenStatus, G::kDc2, 2, 2, raw<&R::doorsOpen>), choice::kDoorsFilled, 6),
    repeated(state(kDoorsEnableStatus, G::kDc2, 4, 2, raw<&R::doorsEnable>), choice::kDoorsFilled,
             6),
    // PTODE
    state(kPtoEngaged, G::kPtode, 48, 2, raw<&R::ptoEngaged>),
    // FMS1: status k of a block is the nibble at 4k; its fourth bit is reserved and stays 1.
    tellTales(kTellTaleId0, 0),
    tellTales(kTellTaleId1, 1),
    tellTales(kTellTaleId2, 2),
    tellTales(kTellTaleId3, 3),
    tellTales(kTellTaleId4, 4),
    // FMS
    state(kDiagnosticsSupported, G::kFms, 0, 2, raw<&R::diagnosticsSupported>),
    state(kRequestsSupported, G::kFms, 2, 2, raw<&R::requestsSupported>),
    row::version(kSwVersionSupported, G::kFms, 8, source::swVersion),
    // VI, DI: "*"-closed texts in this order.
    row::text(kVehicleIdentificationNumber, G::kVi, source::vin),
    row::text(kDriver1Id, G::kDi, source::driver1Id),
    row::text(kDriver2Id, G::kDi, source::driver2Id),
    // EEC14
    state(kFuelType, G::kEec14, 48, 8, raw<&R::fuelType>),
}};

}  // namespace detail

using detail::kFields;

/// Rows [first, first + count) of kFields belong to one group.
struct FieldRange {
    std::uint8_t first = 0;
    std::uint8_t count = 0;
};

namespace detail {
constexpr std::array<FieldRange, kGroupCount> makeFieldRanges() {
    std::array<FieldRange, kGroupCount> ranges{};
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        FieldRange& r = ranges[indexOf(kFields[i].group)];
        if (r.count == 0) r.first = static_cast<std::uint8_t>(i);
        ++r.count;
    }
    return ranges;
}
constexpr bool rowsAreGroupedInOrder() {
    for (std::size_t i = 1; i < kFields.size(); ++i) {
        if (indexOf(kFields[i].group) < indexOf(kFields[i - 1].group)) return false;
    }
    return true;
}
}  // namespace detail

static_assert(detail::rowsAreGroupedInOrder(), "kFields must be grouped in the order of kGroups");

/// The rows of each group, indexed by GroupId.
inline constexpr std::array<FieldRange, kGroupCount> kFieldsOfGroup = detail::makeFieldRanges();

/// Row of `display` (and `part`, for the date and time box) in kFields, or kFieldCount.
constexpr std::size_t fieldIndex(model::ControlId display, std::uint8_t part = 0) noexcept {
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        if (kFields[i].display == display && kFields[i].part == part) return i;
    }
    return kFieldCount;
}

constexpr std::size_t fieldIndex(model::ControlId display, DatePart part) noexcept {
    return fieldIndex(display, static_cast<std::uint8_t>(part));
}

/// The window's frame (all models, truck group, bus group) of a display.
constexpr model::DisplayGroup displayGroupOf(model::ControlId display) noexcept {
    for (const auto& e : model::kNumericDisplays) {
        if (e.id == display) return e.group;
    }
    for (const auto& e : model::kLeds) {
        if (e.id == display) return e.group;
    }
    for (const auto& e : model::kTextDisplays) {
        if (e.id == display) return e.group;
    }
    return model::DisplayGroup::Common;
}

namespace detail {
constexpr std::array<model::DisplayGroup, kFieldCount> makeFieldDisplayGroups() {
    std::array<model::DisplayGroup, kFieldCount> groups{};
    for (std::size_t i = 0; i < kFields.size(); ++i) groups[i] = displayGroupOf(kFields[i].display);
    return groups;
}
inline constexpr auto kFieldDisplayGroups = makeFieldDisplayGroups();
}  // namespace detail

/// True when a device of model `productId` sends row `field` of kFields: the field is on the bus
/// and the model carries the display's group.
constexpr bool isSent(std::size_t field, std::uint8_t productId) noexcept {
    if (!kFields[field].onBus) return false;
    switch (detail::kFieldDisplayGroups[field]) {
        case model::DisplayGroup::TruckOnly:
            return model::carriesTruckGroup(productId);
        case model::DisplayGroup::BusOnly:
            return model::carriesBusGroup(productId);
        case model::DisplayGroup::Common:
            break;
    }
    return true;
}

}  // namespace orvale::fms
