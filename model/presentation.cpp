#include "model/presentation.h"

#include <algorithm>

namespace orvale::model {
namespace {

// ---------------------------------------------------------------------------------------------
// Numeric displays: shown value = raw x resolution + offset.

// The percentages, Fuel Rate, the bellows and the battery charge are formed in single precision
// before being widened, so 0.8 % arrives as 0.800000011920929. Kept bit for bit so that these
// values match the established figures; at the displays' decimals it never shows.
enum class Precision : std::uint8_t { kDouble, kSingle };

using RawGetter = std::uint32_t (*)(const RawParameters&) noexcept;

template <auto Field>
constexpr std::uint32_t field(const RawParameters& r) noexcept {
    return r.*Field;
}
template <std::size_t I>
constexpr std::uint32_t axle(const RawParameters& r) noexcept {
    return r.axleWeights[I];
}
template <std::size_t I>
constexpr std::uint32_t bellow(const RawParameters& r) noexcept {
    return r.bellowPressures[I];
}

struct NumericRow {
    ControlId id;
    RawGetter raw;
    double resolution;
    double offset;
    Precision precision;
};

using R = RawParameters;
constexpr auto kD = Precision::kDouble;
constexpr auto kS = Precision::kSingle;

// In the order of kNumericDisplays.
constexpr std::array<NumericRow, kNumericDisplayCount> kNumericRows{{
    {control::kEngineTotalFuelUsed, field<&R::engineTotalFuelUsed>, 0.5, 0.0, kD},
    {control::kActualEngineTorque, field<&R::actualEngineTorque>, 1.0, -125.0, kD},
    {control::kFuelLevel1, field<&R::fuelLevel1>, 0.4, 0.0, kS},
    {control::kFuelLevel2, field<&R::fuelLevel2>, 0.4, 0.0, kS},
    {control::kEngineSpeed, field<&R::engineSpeed>, 0.125, 0.0, kD},
    {control::kEngineTotalHours, field<&R::engineTotalHours>, 0.05, 0.0, kD},
    {control::kHrTotalVehicleDistance, field<&R::hrTotalVehicleDistance>, 5.0, 0.0, kD},
    {control::kTachographVehicleSpeed, field<&R::tachographVehicleSpeed>, 1.0 / 256, 0.0, kD},
    {control::kAmbientAirTemperature, field<&R::ambientAirTemperature>, 0.03125, -273.0, kD},
    {control::kEngineCoolantTemperature, field<&R::engineCoolantTemperature>, 1.0, -40.0, kD},
    {control::kFuelRate, field<&R::fuelRate>, 0.05, 0.0, kS},
    {control::kInstantaneousFuelEconomy, field<&R::instantaneousFuelEconomy>, 1.0 / 512, 0.0, kD},
    {control::kServiceBrakeAirPressure1, field<&R::serviceBrakeAirPressure1>, 8.0, 0.0, kD},
    {control::kServiceBrakeAirPressure2, field<&R::serviceBrakeAirPressure2>, 8.0, 0.0, kD},
    {control::kDefTank1Level, field<&R::defTank1Level>, 0.4, 0.0, kS},
    {control::kHrEngineTotalFuelUsed, field<&R::hrEngineTotalFuelUsed>, 0.001, 0.0, kD},
    {control::kTotalFuelUsedGaseous, field<&R::totalFuelUsedGaseous>, 0.5, 0.0, kD},
    {control::kBrakePedalPosition, field<&R::brakePedalPosition>, 0.4, 0.0, kS},
    {control::kAcceleratorPedalPosition1, field<&R::acceleratorPedalPosition1>, 0.4, 0.0, kS},
    {control::kRetarderSelection, field<&R::retarderSelection>, 0.4, 0.0, kS},
    {control::kActualRetarderTorque, field<&R::actualRetarderTorque>, 1.0, -125.0, kD},
    {control::kWheelBasedSpeed, field<&R::wheelBasedSpeed>, 1.0 / 256, 0.0, kD},
    {control::kEnginePercentLoad, field<&R::enginePercentLoad>, 1.0, 0.0, kD},
    {control::kGrossCombinationWeight, field<&R::grossCombinationWeight>, 10.0, 0.0, kD},
    {control::kServiceDistance, field<&R::serviceDistance>, 5.0, -160635.0, kD},
    {control::kAxleWeight00, axle<0>, 0.5, 0.0, kD},
    {control::kAxleWeight01, axle<1>, 0.5, 0.0, kD},
    {control::kAxleWeight10, axle<2>, 0.5, 0.0, kD},
    {control::kAxleWeight11, axle<3>, 0.5, 0.0, kD},
    {control::kAxleWeight12, axle<4>, 0.5, 0.0, kD},
    {control::kAxleWeight13, axle<5>, 0.5, 0.0, kD},
    {control::kAxleWeight20, axle<6>, 0.5, 0.0, kD},
    {control::kAxleWeight21, axle<7>, 0.5, 0.0, kD},
    {control::kAxleWeight22, axle<8>, 0.5, 0.0, kD},
    {control::kAxleWeight23, axle<9>, 0.5, 0.0, kD},
    {control::kBatteryRemainingCharge, field<&R::batteryRemainingCharge>, 0.0025, 0.0, kS},
    {control::kSteeringWheelAngle, field<&R::steeringWheelAngle>, 1.0 / 1024, -31.374, kD},
    {control::kBellowPressureFrontLeft, bellow<0>, 0.1, 0.0, kS},
    {control::kBellowPressureFrontRight, bellow<1>, 0.1, 0.0, kS},
    {control::kBellowPressureRearLeft, bellow<2>, 0.1, 0.0, kS},
    {control::kBellowPressureRearRight, bellow<3>, 0.1, 0.0, kS},
}};

constexpr bool rowsFollowCatalogue() {
    for (std::size_t i = 0; i < kNumericRows.size(); ++i) {
        if (kNumericRows[i].id != kNumericDisplays[i].id) {
            return false;
        }
    }
    return true;
}
static_assert(rowsFollowCatalogue(), "numeric rows must be in the order of kNumericDisplays");

double shownValue(const NumericRow& row, std::uint32_t raw) noexcept {
    if (row.precision == Precision::kSingle) {
        const float product = static_cast<float>(raw) * static_cast<float>(row.resolution);
        return static_cast<double>(product) + row.offset;
    }
    return static_cast<double>(raw) * row.resolution + row.offset;
}

// ---------------------------------------------------------------------------------------------
// Text boxes. Texts are written by control ID through a slot map built at compile time.

constexpr ControlId kFirstId = 1000;
constexpr std::size_t kIdSpan = 100;

constexpr std::array<std::uint8_t, kIdSpan> makeTextSlots() {
    std::array<std::uint8_t, kIdSpan> slots{};
    slots.fill(0xFF);
    for (std::size_t i = 0; i < kTextDisplays.size(); ++i) {
        slots[static_cast<std::size_t>(kTextDisplays[i].id - kFirstId)] =
            static_cast<std::uint8_t>(i);
    }
    return slots;
}
constexpr auto kTextSlots = makeTextSlots();

TextValue& textBox(Presentation& out, ControlId id) noexcept {
    return out.texts[kTextSlots[static_cast<std::size_t>(id - kFirstId)]];
}

void setText(Presentation& out, ControlId id, std::string_view text) noexcept {
    textBox(out, id).assign(text);
}

// Decimal digits of `value`, at least `minDigits` of them (printf's "%.Nd" for N = minDigits).
void appendDecimal(TextValue& box, std::uint32_t value, std::size_t minDigits) noexcept {
    std::array<char, 10> digits{};
    std::size_t n = 0;
    while (value != 0 || n < minDigits) {
        digits[digits.size() - 1 - n] = static_cast<char>('0' + value % 10);
        value /= 10;
        ++n;
    }
    box.append({digits.data() + digits.size() - n, n});
}

// ---------------------------------------------------------------------------------------------
// FMS status codes, written as code, "=", meaning. Several of driver 2's states mirror driver
// 1's, so that along the slider each state is on screen for one of the two.

constexpr std::array<std::string_view, 4> kWorkingStateFirst{"110=Error", "111=not available",
                                                             "001=Driver available", "010=Work"};
constexpr std::string_view kWorkingRest = "000=Rest";
constexpr std::string_view kWorkingDrive = "011=Drive";
constexpr std::uint8_t kDriveFrom = 51;

// The driver 2 texts differ from driver 1 by one blank in two places; both are the device's own.
constexpr std::string_view kTimeStateNormal = "0000=normal";
constexpr std::array<std::string_view, 8> kDriver1TimeStates{"0001=15 min bef. 4-1/2hr",
                                                             "0010=4-1/2hr reached",
                                                             "0011=15 min bef. 9hr",
                                                             "0100=9hr reached",
                                                             "0101=15 min bef. 16 hr",
                                                             "0110=16hr reached",
                                                             "1110=Error",
                                                             "1111=not available"};
constexpr std::array<std::string_view, 8> kDriver2TimeStates{"0001=15 min bef. 4-1/2hr",
                                                             "0010=4-1/2 hr reached",
                                                             "0011=15 min bef. 9hr",
                                                             "0100=9hr reached",
                                                             "0101=15 min bef. 16hr",
                                                             "0110=16hr reached",
                                                             "1110=Error",
                                                             "1111=not available"};
constexpr std::uint8_t kDriver1TimeStatesFrom = 50;
constexpr std::uint8_t kDriver2TimeStatesFrom = 40;

std::string_view timeState(const std::array<std::string_view, 8>& states, std::uint8_t from,
                           std::uint8_t p) noexcept {
    if (p < from || p - from >= static_cast<int>(states.size())) {
        return kTimeStateNormal;
    }
    return states[static_cast<std::size_t>(p - from)];
}

// Two-valued codes: the first text up to and including `upTo`, the second above it.
struct ThresholdText {
    ControlId id;
    std::uint8_t upTo;
    std::string_view atOrBelow;
    std::string_view above;
};
constexpr std::array<ThresholdText, 8> kThresholdTexts{{
    {control::kDriver1Card, 50, "00=Card not present", "01=Card present"},
    {control::kDriver2Card, 50, "01=Card present", "00=Card not present"},
    {control::kVehicleMotion, 0, "00=Vehicle motion not detected", "01=vehicle motion detected"},
    {control::kVehicleOverspeed, 41, "00=No overspeed", "01=Overspeed"},
    {control::kSystemEvent, 0, "01=tachogr. event", "00=no tachogr. event"},
    {control::kHandlingInformation, 0, "01=handling info.", "00=no handling info."},
    {control::kTachographPerformance, 0, "01=perform. analysis", "00=normal perform."},
    {control::kDirectionIndicator, 10, "01=Reverse", "00=Forward"},
}};

constexpr std::array<ControlId, 5> kTellTales{control::kTellTaleId0, control::kTellTaleId1,
                                              control::kTellTaleId2, control::kTellTaleId3,
                                              control::kTellTaleId4};

std::string_view tellTale(std::uint8_t p) noexcept {
    switch (p) {
        case 0:
        case kTopPosition:
            return "011=Cond. Info";
        case 1:
            return "001=Cond. Red";
        case 2:
            return "010=Cond. Yellow";
        case 3:
            return "111=not available";
        default:
            return "000=off";
    }
}

// Requests and diagnostics are not simulated.
constexpr std::string_view kNotSupported = "not supported";

// The version pair tells which groups the model carries: "04" first for the truck group,
// "04" last for the bus group. Only the Plus models report one.
struct SwVersion {
    std::string_view productText;
    std::string_view version;
};
constexpr std::array<SwVersion, 4> kSwVersions{{
    {"Quennet Truck Plus", "04.00"},
    {"Quennet Bus Plus", "00.04"},
    {"Quennet Duo Plus", "04.04"},
    {"Quennet Basic Plus", "00.00"},
}};
constexpr std::string_view kSwVersionUnknown = " ";

std::string_view swVersion(std::string_view productText) noexcept {
    for (const auto& row : kSwVersions) {
        if (row.productText == productText) {
            return row.version;
        }
    }
    return kSwVersionUnknown;
}

constexpr std::string_view kNoDriverId = "*";
constexpr std::string_view kDriver1Id = "DE_4084852370992000*";
constexpr std::string_view kDriver2Id = "FR_5324329921546000*";

// Truck group: PTO. "Set" at 1 to 10 and at 100, otherwise off.
struct PtoText {
    ControlId id;
    std::string_view atZero;
    std::string_view atOne;
    std::string_view set;
    std::string_view off;
};
constexpr std::array<PtoText, 2> kPtoTexts{{
    {control::kPtoState, "11111=not available", "00101=Set", "00101=Set", "00000=off/disabled"},
    {control::kPtoEngaged, "11=Not available", "10=Error", "01=At least 1", "00=No PTO engaged"},
}};

// Bus group: alternator, doors and ramp. Texts by position 0, 1, 2, 3 and 4 or more, and
// what a model without the bus group shows.
struct BusStatusText {
    ControlId id;
    std::array<std::string_view, 5> byPosition;
    std::string_view absent;
};
constexpr std::array<BusStatusText, 7> kBusStatusTexts{{
    {control::kAlternatorStatus,
     {"10=error", "11=not available", "00=not charging", "01=charging", "01=charging"},
     " "},
    {control::kDoorsLockStatus,
     {"10=Error", "11=not available", "00=Unlocked", "01=Locked", "01=Locked"},
     ""},
    {control::kDoorsOpenStatus,
     {"10=Error", "11=not available", "00=Closed", "01=Open", "01=Open"},
     ""},
    {control::kDoorsEnableStatus,
     {"10=Error", "11=not available", "00=Disabled", "01=Enabled", "01=Enabled"},
     ""},
    {control::kRampWheelChairLift,
     {"10=Error", "11=not available", "01=outside bus", "00=inside bus", "00=inside bus"},
     ""},
    {control::kDoorsStatus2,
     {"10=Error", "11=not available", "01=at least 1 enabled", "00=all doors disabled",
      "00=all doors disabled"},
     ""},
    {control::kDoorsPosition,
     {"1110=Error", "1111=not available", "0000=at least 1 open", "0001=closing last door",
      "0010=all doors closed"},
     ""},
}};

constexpr std::string_view kBlank = " ";
constexpr std::uint8_t kGearOffset = 125;
constexpr std::uint8_t kNeutralPosition = 50;

// Gear byte minus 125, without leading zeros. Park and neutral are named by position; the
// device's digit loop writes nothing for 0, which only p = 255 reaches.
void writeGear(TextValue& box, std::uint8_t p, std::uint8_t gear) noexcept {
    if (p == 0) {
        box.assign("park");
        return;
    }
    if (p == kNeutralPosition) {
        box.assign("neutral");
        return;
    }
    box.assign("");
    if (gear >= kGearOffset) {
        if (gear != kGearOffset) {
            appendDecimal(box, static_cast<std::uint32_t>(gear - kGearOffset), 1);
        }
    } else {
        box.append("-");
        appendDecimal(box, static_cast<std::uint32_t>(kGearOffset - gear), 1);
    }
}

constexpr std::array<char, 16> kHexDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// "0B" and the low `bits` bits of `value`, most significant first.
void writeBits(TextValue& box, std::uint32_t value, std::uint32_t bits) noexcept {
    box.assign("0B");
    for (std::uint32_t i = bits; i-- > 0;) {
        box.append(((value >> i) & 1U) != 0 ? "1" : "0");
    }
}

constexpr std::size_t kVinSerialFirst = 11;
constexpr std::size_t kVinSerialDigits = 6;
constexpr std::uint8_t kVinShortFormUpTo = 7;

// The six VIN characters before "*" are the serial number's last six digits on a device set to a
// fixed VIN; any other style (also before the style is known) follows the position.
void composeVin(VinBuffer& vin, std::uint8_t p, const PresentationInputs& in) noexcept {
    std::uint32_t digits = 0;
    if (in.vinStyleText == "Fixed") {
        digits = in.serialNumber % 1000000U;
    } else {
        digits = 42000U + p;
    }
    for (std::size_t i = kVinSerialDigits; i-- > 0;) {
        vin.chars[kVinSerialFirst + i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
}

std::string_view shownVin(const VinBuffer& vin, std::uint8_t p, const PresentationInputs& in) {
    const std::string_view all = vin.text();
    // Over the first positions a variable VIN is only partly there: its last p + 1 characters.
    if (in.vinStyleText == "Variable" && p <= kVinShortFormUpTo) {
        return all.substr(all.size() - (p + 1U));
    }
    return all;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void TextValue::reset(ControlId controlId) noexcept {
    m_id = controlId;
    m_written = false;
    m_size = 0;
}

void TextValue::assign(std::string_view text) noexcept {
    m_written = true;
    m_size = 0;
    append(text);
}

void TextValue::append(std::string_view text) noexcept {
    const std::size_t n = std::min(text.size(), kCapacity - m_size);
    std::copy_n(text.data(), n, m_chars.data() + m_size);
    m_size = static_cast<std::uint8_t>(m_size + n);
}

const NumericValue* Presentation::findNumber(ControlId id) const noexcept {
    const auto it = std::find_if(numbers.begin(), numbers.end(),
                                 [id](const NumericValue& v) { return v.id == id; });
    return it == numbers.end() ? nullptr : &*it;
}

const LedValue* Presentation::findLed(ControlId id) const noexcept {
    const auto it =
        std::find_if(leds.begin(), leds.end(), [id](const LedValue& v) { return v.id == id; });
    return it == leds.end() ? nullptr : &*it;
}

const TextValue* Presentation::findText(ControlId id) const noexcept {
    const auto it =
        std::find_if(texts.begin(), texts.end(), [id](const TextValue& v) { return v.id() == id; });
    return it == texts.end() ? nullptr : &*it;
}

void present(const RawParameters& raw, std::uint8_t p, std::uint8_t productId,
             const PresentationInputs& inputs, VinBuffer& vin, Presentation& out) noexcept {
    for (std::size_t i = 0; i < kNumericRows.size(); ++i) {
        const NumericRow& row = kNumericRows[i];
        out.numbers[i] = {row.id, shownValue(row, row.raw(raw))};
    }

    const bool isTop = p == kTopPosition;
    for (std::size_t i = 0; i < kLeds.size(); ++i) {
        out.leds[i].id = kLeds[i].id;
    }
    out.leds[0].lit = p >= 40;                                            // Cruise
    out.leds[1].lit = p <= 10 || isTop;                                   // Parking
    out.leds[2].lit = p == 20 || p == 40 || p == 60 || p == 80 || isTop;  // Brake
    out.leds[3].lit = p == 10 || p == 30 || p == 50 || p == 70 || isTop;  // Clutch

    for (std::size_t i = 0; i < kTextDisplays.size(); ++i) {
        out.texts[i].reset(kTextDisplays[i].id);
    }

    composeVin(vin, p, inputs);
    setText(out, control::kVehicleIdentificationNumber, shownVin(vin, p, inputs));

    const auto workingState = [p](std::string_view low, std::string_view high) {
        if (p < kWorkingStateFirst.size()) {
            return kWorkingStateFirst[p];
        }
        return p < kDriveFrom ? low : high;
    };
    setText(out, control::kDriver1WorkingState, workingState(kWorkingRest, kWorkingDrive));
    setText(out, control::kDriver2WorkingState, workingState(kWorkingDrive, kWorkingRest));
    setText(out, control::kDriver1TimeRelatedStates,
            timeState(kDriver1TimeStates, kDriver1TimeStatesFrom, p));
    setText(out, control::kDriver2TimeRelatedStates,
            timeState(kDriver2TimeStates, kDriver2TimeStatesFrom, p));
    for (const auto& row : kThresholdTexts) {
        setText(out, row.id, p <= row.upTo ? row.atOrBelow : row.above);
    }
    setText(out, control::kDriver1Id, (p == 1 || p >= 3) ? kDriver1Id : kNoDriverId);
    setText(out, control::kDriver2Id, p >= 2 ? kDriver2Id : kNoDriverId);

    for (const ControlId id : kTellTales) {
        setText(out, id, tellTale(p));
    }
    setText(out, control::kDiagnosticsSupported, kNotSupported);
    setText(out, control::kRequestsSupported, kNotSupported);
    setText(out, control::kSwVersionSupported, swVersion(inputs.productText));

    TextValue& fuelType = textBox(out, control::kFuelType);
    fuelType.assign("0x");
    fuelType.append({&kHexDigits[static_cast<std::size_t>(raw.fuelType >> 4U)], 1});
    fuelType.append({&kHexDigits[raw.fuelType & 0x0FU], 1});
    fuelType.append("\n");
    writeBits(textBox(out, control::kRetarderTorqueMode), raw.retarderTorqueMode, 4);
    writeBits(textBox(out, control::kCruiseControlStates),
              static_cast<std::uint32_t>(raw.cruiseControlStates >> 5U), 3);

    const bool truck = carriesTruckGroup(productId);
    for (const auto& row : kPtoTexts) {
        std::string_view text = kBlank;
        if (truck) {
            if (p == 0) {
                text = row.atZero;
            } else if (p == 1) {
                text = row.atOne;
            } else {
                text = (p <= 10 || isTop) ? row.set : row.off;
            }
        }
        setText(out, row.id, text);
    }

    const bool bus = carriesBusGroup(productId);
    for (const auto& row : kBusStatusTexts) {
        setText(out, row.id, bus ? row.byPosition[std::min<std::size_t>(p, 4)] : row.absent);
    }
    TextValue& selectedGear = textBox(out, control::kSelectedGear);
    if (bus) {
        writeGear(selectedGear, p, raw.gear);
    } else {
        selectedGear.assign(kBlank);
    }
    textBox(out, control::kCurrentGear).assign(selectedGear.text());

    TextValue& dateTime = textBox(out, control::kDateTime);
    if (!bus) {
        dateTime.assign("");
    } else if (!inputs.clockText.empty()) {
        // The device keeps only the time of day; the date comes from the position.
        dateTime.assign("");
        appendDecimal(dateTime, 1985U + raw.dateYear, 4);
        dateTime.append("/");
        appendDecimal(dateTime, raw.dateMonth, 2);
        dateTime.append("/");
        appendDecimal(dateTime, raw.dateDay / 4U, 2);
        dateTime.append("/");
        dateTime.append(inputs.clockText);
    }
    // Otherwise the box keeps whatever it showed: no clock text has arrived yet.
}

void evaluate(std::uint8_t position, std::uint8_t productId, const PresentationInputs& inputs,
              VinBuffer& vin, Presentation& out) noexcept {
    present(computeRawParameters(position, productId), position, productId, inputs, vin, out);
}

}  // namespace orvale::model
