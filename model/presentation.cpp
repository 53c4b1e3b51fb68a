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
// FMS status codes (model/parameter_model.h), written as code, "=", meaning. A code the device
// never sends in a field is never looked up.

// A code and its text.
struct CodeText {
    std::uint8_t code;
    std::string_view text;
};

template <std::size_t N>
constexpr std::string_view textOfCode(const std::array<CodeText, N>& table,
                                      std::uint32_t code) noexcept {
    for (const CodeText& row : table) {
        if (row.code == code) return row.text;
    }
    return {};
}

constexpr std::array<CodeText, 6> kWorkingStates{{{0b000, "000=Rest"},
                                                  {0b001, "001=Driver available"},
                                                  {0b010, "010=Work"},
                                                  {0b011, "011=Drive"},
                                                  {0b110, "110=Error"},
                                                  {0b111, "111=not available"}}};

// The driver 2 texts differ from driver 1 by one blank in two places; both are the device's own.
constexpr std::array<CodeText, 9> kDriver1TimeStates{{{0b0000, "0000=normal"},
                                                      {0b0001, "0001=15 min bef. 4-1/2hr"},
                                                      {0b0010, "0010=4-1/2hr reached"},
                                                      {0b0011, "0011=15 min bef. 9hr"},
                                                      {0b0100, "0100=9hr reached"},
                                                      {0b0101, "0101=15 min bef. 16 hr"},
                                                      {0b0110, "0110=16hr reached"},
                                                      {0b1110, "1110=Error"},
                                                      {0b1111, "1111=not available"}}};
constexpr std::array<CodeText, 9> kDriver2TimeStates{{{0b0000, "0000=normal"},
                                                      {0b0001, "0001=15 min bef. 4-1/2hr"},
                                                      {0b0010, "0010=4-1/2 hr reached"},
                                                      {0b0011, "0011=15 min bef. 9hr"},
                                                      {0b0100, "0100=9hr reached"},
                                                      {0b0101, "0101=15 min bef. 16hr"},
                                                      {0b0110, "0110=16hr reached"},
                                                      {0b1110, "1110=Error"},
                                                      {0b1111, "1111=not available"}}};

// Two-valued codes: the texts of 00 and 01.
struct TwoValued {
    ControlId id;
    std::uint8_t RawParameters::*code;
    std::string_view zero;
    std::string_view one;
};
constexpr std::array<TwoValued, 8> kTwoValuedTexts{{
    {control::kDriver1Card, &RawParameters::driver1Card, "00=Card not present", "01=Card present"},
    {control::kDriver2Card, &RawParameters::driver2Card, "00=Card not present", "01=Card present"},
    {control::kVehicleMotion, &RawParameters::vehicleMotion, "00=Vehicle motion not detected",
     "01=vehicle motion detected"},
    {control::kVehicleOverspeed, &RawParameters::vehicleOverspeed, "00=No overspeed",
     "01=Overspeed"},
    {control::kSystemEvent, &RawParameters::systemEvent, "00=no tachogr. event",
     "01=tachogr. event"},
    {control::kHandlingInformation, &RawParameters::handlingInformation, "00=no handling info.",
     "01=handling info."},
    {control::kTachographPerformance, &RawParameters::tachographPerformance, "00=normal perform.",
     "01=perform. analysis"},
    {control::kDirectionIndicator, &RawParameters::directionIndicator, "00=Forward", "01=Reverse"},
}};

constexpr std::array<ControlId, 5> kTellTales{control::kTellTaleId0, control::kTellTaleId1,
                                              control::kTellTaleId2, control::kTellTaleId3,
                                              control::kTellTaleId4};
constexpr std::array<CodeText, 5> kTellTaleTexts{{{0b000, "000=off"},
                                                  {0b001, "001=Cond. Red"},
                                                  {0b010, "010=Cond. Yellow"},
                                                  {0b011, "011=Cond. Info"},
                                                  {0b111, "111=not available"}}};

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

constexpr std::string_view kNoDriverId = "*";
constexpr std::string_view kDriver1Id = "DE_4084852370992000*";
constexpr std::string_view kDriver2Id = "FR_5324329921546000*";

// Truck group: PTO.
constexpr std::array<CodeText, 3> kPtoStates{
    {{0b11111, "11111=not available"}, {0b00101, "00101=Set"}, {0b00000, "00000=off/disabled"}}};
constexpr std::array<CodeText, 4> kPtoEngaged{{{0b11, "11=Not available"},
                                               {0b10, "10=Error"},
                                               {0b01, "01=At least 1"},
                                               {0b00, "00=No PTO engaged"}}};

// Bus group: alternator, doors and ramp, and what a model without the bus group shows.
struct BusStatusText {
    ControlId id;
    std::uint8_t RawParameters::*code;
    std::array<CodeText, 5> texts;
    std::string_view absent;
};
constexpr std::array<BusStatusText, 7> kBusStatusTexts{{
    {control::kAlternatorStatus,
     &RawParameters::alternators,
     {{{0b10, "10=error"},
       {0b11, "11=not available"},
       {0b00, "00=not charging"},
       {0b01, "01=charging"}}},
     " "},
    {control::kDoorsLockStatus,
     &RawParameters::doorsLock,
     {{{0b10, "10=Error"}, {0b11, "11=not available"}, {0b00, "00=Unlocked"}, {0b01, "01=Locked"}}},
     ""},
    {control::kDoorsOpenStatus,
     &RawParameters::doorsOpen,
     {{{0b10, "10=Error"}, {0b11, "11=not available"}, {0b00, "00=Closed"}, {0b01, "01=Open"}}},
     ""},
    {control::kDoorsEnableStatus,
     &RawParameters::doorsEnable,
     {{{0b10, "10=Error"},
       {0b11, "11=not available"},
       {0b00, "00=Disabled"},
       {0b01, "01=Enabled"}}},
     ""},
    {control::kRampWheelChairLift,
     &RawParameters::ramp,
     {{{0b10, "10=Error"},
       {0b11, "11=not available"},
       {0b01, "01=outside bus"},
       {0b00, "00=inside bus"}}},
     ""},
    {control::kDoorsStatus2,
     &RawParameters::doorsStatus2,
     {{{0b10, "10=Error"},
       {0b11, "11=not available"},
       {0b01, "01=at least 1 enabled"},
       {0b00, "00=all doors disabled"}}},
     ""},
    {control::kDoorsPosition,
     &RawParameters::doorsPosition,
     {{{0b1110, "1110=Error"},
       {0b1111, "1111=not available"},
       {0b0000, "0000=at least 1 open"},
       {0b0001, "0001=closing last door"},
       {0b0010, "0010=all doors closed"}}},
     ""},
}};

constexpr std::string_view kBlank = " ";
constexpr std::uint8_t kGearOffset = 125;
constexpr std::uint8_t kParkGear = 251;
constexpr std::uint8_t kNeutralPosition = 50;
constexpr std::string_view kPark = "park";
constexpr std::string_view kNeutral = "neutral";

// Gear byte minus 125, without leading zeros; the device's digit loop writes nothing for 0.
void writeGearNumber(TextValue& box, std::uint8_t gear) noexcept {
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

// The device names park and neutral by its position, not by the byte it sends; the two agree
// over the slider's range, so only positions above it (255: nothing) tell them apart.
void writeGear(TextValue& box, std::uint8_t p, std::uint8_t gear) noexcept {
    if (p == 0) {
        box.assign(kPark);
    } else if (p == kNeutralPosition) {
        box.assign(kNeutral);
    } else {
        writeGearNumber(box, gear);
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

// "0x" and two hex digits, then the line end the device's box carries.
void writeHexByte(TextValue& box, std::uint32_t value) noexcept {
    box.assign("0x");
    box.append({&kHexDigits[(value >> 4U) & 0x0FU], 1});
    box.append({&kHexDigits[value & 0x0FU], 1});
    box.append("\n");
}

// The box's text for `code` from its table; empty (and false) for a code it has no text for.
template <std::size_t N>
bool assignCode(TextValue& box, const std::array<CodeText, N>& table, std::uint32_t code) noexcept {
    const std::string_view text = textOfCode(table, code);
    box.assign(text);
    return !text.empty();
}

bool assignTwoValued(TextValue& box, std::string_view zero, std::string_view one,
                     std::uint32_t code) noexcept {
    const std::string_view text = code == 0 ? zero : code == 1 ? one : std::string_view{};
    box.assign(text);
    return !text.empty();
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

std::string_view swVersionFor(std::string_view productText) noexcept {
    for (const auto& row : kSwVersions) {
        if (row.productText == productText) {
            return row.version;
        }
    }
    return kSwVersionUnknown;
}

bool writeStatusText(ControlId id, std::uint32_t code, TextValue& box) noexcept {
    switch (id) {
        case control::kDriver1WorkingState:
        case control::kDriver2WorkingState:
            return assignCode(box, kWorkingStates, code);
        case control::kDriver1TimeRelatedStates:
            return assignCode(box, kDriver1TimeStates, code);
        case control::kDriver2TimeRelatedStates:
            return assignCode(box, kDriver2TimeStates, code);
        case control::kTellTaleId0:
        case control::kTellTaleId1:
        case control::kTellTaleId2:
        case control::kTellTaleId3:
        case control::kTellTaleId4:
            return assignCode(box, kTellTaleTexts, code);
        case control::kDiagnosticsSupported:
        case control::kRequestsSupported:
            return assignTwoValued(box, kNotSupported, {}, code);
        case control::kFuelType:
            if (code > 0xFFU) break;
            writeHexByte(box, code);
            return true;
        case control::kRetarderTorqueMode:
            writeBits(box, code, 4);
            return true;
        case control::kCruiseControlStates:
            writeBits(box, code, 3);
            return true;
        case control::kPtoState:
            return assignCode(box, kPtoStates, code);
        case control::kPtoEngaged:
            return assignCode(box, kPtoEngaged, code);
        case control::kSelectedGear:
        case control::kCurrentGear:
            if (code > 0xFFU) break;
            if (code == kParkGear) {
                box.assign(kPark);
            } else if (code == kGearOffset) {
                box.assign(kNeutral);
            } else {
                writeGearNumber(box, static_cast<std::uint8_t>(code));
            }
            return true;
        default:
            for (const auto& row : kTwoValuedTexts) {
                if (row.id == id) return assignTwoValued(box, row.zero, row.one, code);
            }
            for (const auto& row : kBusStatusTexts) {
                if (row.id == id) return assignCode(box, row.texts, code);
            }
            break;
    }
    box.assign("");
    return false;
}

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

    for (std::size_t i = 0; i < kLeds.size(); ++i) {
        out.leds[i].id = kLeds[i].id;
    }
    out.leds[0].lit = raw.cruiseActive;
    out.leds[1].lit = raw.parkingBrake;
    out.leds[2].lit = raw.brakePedal;
    out.leds[3].lit = raw.clutchPedal;

    for (std::size_t i = 0; i < kTextDisplays.size(); ++i) {
        out.texts[i].reset(kTextDisplays[i].id);
    }

    composeVin(vin, p, inputs);
    setText(out, control::kVehicleIdentificationNumber, shownVin(vin, p, inputs));

    // One mapping from code to text, shared with whoever reads the codes off the bus.
    const auto status = [&out](ControlId id, std::uint32_t code) {
        writeStatusText(id, code, textBox(out, id));
    };
    status(control::kDriver1WorkingState, raw.driver1WorkingState);
    status(control::kDriver2WorkingState, raw.driver2WorkingState);
    status(control::kDriver1TimeRelatedStates, raw.driver1TimeStates);
    status(control::kDriver2TimeRelatedStates, raw.driver2TimeStates);
    for (const auto& row : kTwoValuedTexts) {
        status(row.id, raw.*row.code);
    }
    setText(out, control::kDriver1Id, raw.driver1IdPresent ? kDriver1Id : kNoDriverId);
    setText(out, control::kDriver2Id, raw.driver2IdPresent ? kDriver2Id : kNoDriverId);

    for (const ControlId id : kTellTales) {
        status(id, raw.tellTale);
    }
    status(control::kDiagnosticsSupported, raw.diagnosticsSupported);
    status(control::kRequestsSupported, raw.requestsSupported);
    setText(out, control::kSwVersionSupported, swVersionFor(inputs.productText));

    status(control::kFuelType, raw.fuelType);
    status(control::kRetarderTorqueMode, raw.retarderTorqueMode);
    status(control::kCruiseControlStates,
           static_cast<std::uint32_t>(raw.cruiseControlStates >> 5U));

    const bool truck = carriesTruckGroup(productId);
    if (truck) {
        status(control::kPtoState, raw.ptoState);
        status(control::kPtoEngaged, raw.ptoEngaged);
    } else {
        setText(out, control::kPtoState, kBlank);
        setText(out, control::kPtoEngaged, kBlank);
    }

    const bool bus = carriesBusGroup(productId);
    for (const auto& row : kBusStatusTexts) {
        if (bus) {
            status(row.id, raw.*row.code);
        } else {
            setText(out, row.id, row.absent);
        }
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
