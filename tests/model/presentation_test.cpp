#include "model/presentation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvale::model {
namespace {

namespace c = control;

constexpr PresentationInputs kDuoPlus{"Quennet Duo Plus", 0, "Variable", "12:34:56"};

Presentation run(int p, std::uint8_t productId, const PresentationInputs& inputs = kDuoPlus) {
    VinBuffer vin;
    Presentation out;
    evaluate(static_cast<std::uint8_t>(p), productId, inputs, vin, out);
    return out;
}

std::string textOf(const Presentation& out, ControlId id) {
    const TextValue* t = out.findText(id);
    return t == nullptr ? "<no such box>" : t->isWritten() ? std::string(t->text()) : "<kept>";
}

void expectShown(const Presentation& out, ControlId id, double expected, int p) {
    const NumericValue* n = out.findNumber(id);
    ASSERT_NE(n, nullptr) << id;
    EXPECT_NEAR(n->value, expected, 1e-6 * std::max(1.0, std::fabs(expected)))
        << "control " << id << " at p = " << p;
}

// Shown values at empty, at the knee and at full, on a model carrying both groups.
TEST(Presentation, NumericValuesAtEmptyKneeAndFull) {
    struct Case {
        ControlId id;
        double at0, at80, at100;
    };
    std::vector<Case> cases = {
        {c::kEngineSpeed, 0, 6425.5, 8031.875},
        {c::kWheelBasedSpeed, 0, 200.796875, 250.99609375},
        {c::kTachographVehicleSpeed, 0, 200.796875, 250.99609375},
        {c::kAcceleratorPedalPosition1, 0, 80, 100},
        {c::kFuelLevel1, 0, 80, 100},
        {c::kFuelLevel2, 0, 79.6, 100},
        {c::kDefTank1Level, 0, 80, 100},
        {c::kBrakePedalPosition, 0, 80, 100},
        {c::kRetarderSelection, 0, 80, 100},
        {c::kEngineCoolantTemperature, -40, 160, 210},
        {c::kActualEngineTorque, -125, 75, 125},
        {c::kActualRetarderTorque, -125, 75, 125},
        {c::kServiceBrakeAirPressure1, 0, 1600, 2000},
        {c::kServiceBrakeAirPressure2, 0, 1600, 2000},
        {c::kAmbientAirTemperature, -273, 200, 1734.96875},
        {c::kFuelRate, 0, 227.1, 3212.75},
        {c::kInstantaneousFuelEconomy, 0, 38.26171875, 125.498046875},
        {c::kEngineTotalFuelUsed, 0, 1000, 2105540607.5},
        {c::kTotalFuelUsedGaseous, 0, 1000, 2105540607.5},
        {c::kHrEngineTotalFuelUsed, 0, 1000, 4211081.215},
        {c::kHrTotalVehicleDistance, 0, 2000000, 21055406075.0},
        {c::kEngineTotalHours, 0, 1000, 999999},
        {c::kEnginePercentLoad, 0, 100, 125},
        {c::kGrossCombinationWeight, 0, 514040, 642550},
        {c::kServiceDistance, -160635, 96385, 160640},
        {c::kBellowPressureFrontLeft, 0, 5140.4, 6425.5},
        {c::kBellowPressureFrontRight, 0, 5140.4, 6425.5},
        {c::kBellowPressureRearLeft, 0, 5140.4, 6425.5},
        {c::kBellowPressureRearRight, 0, 5140.4, 6425.5},
        {c::kBatteryRemainingCharge, 0, 128.51, 160.6375},
        {c::kSteeringWheelAngle, -31.374, 18.82521875, 31.3750234375},
    };
    // Locations 00, 01, 10 ... 23: 5 kg apart at the knee, all equal at empty and full.
    const ControlId axles[] = {
        c::kAxleWeight00, c::kAxleWeight01, c::kAxleWeight10, c::kAxleWeight11, c::kAxleWeight12,
        c::kAxleWeight13, c::kAxleWeight20, c::kAxleWeight21, c::kAxleWeight22, c::kAxleWeight23};
    for (int k = 0; k < 10; ++k) {
        cases.push_back({axles[k], 0, 10000.0 + 5 * k, 32127.5});
    }
    ASSERT_EQ(cases.size(), kNumericDisplayCount);
    const Presentation at0 = run(0, 15), at80 = run(80, 15), at100 = run(100, 15);
    for (const auto& n : cases) {
        expectShown(at0, n.id, n.at0, 0);
        expectShown(at80, n.id, n.at80, 80);
        expectShown(at100, n.id, n.at100, 100);
    }
    expectShown(run(81, 15), c::kEngineTotalFuelUsed, 105277980.5, 81);
    expectShown(run(81, 15), c::kEngineTotalHours, 50949.95, 81);
    expectShown(run(99, 15), c::kFuelLevel2, 98.4, 99);
    expectShown(run(150, 15), c::kEngineSpeed, 3855.75, 150);
}

// The 0.4 % parameters, Fuel Rate, the bellows and the battery charge are formed in single
// precision and only then widened; the others stay in double. Compared exactly.
TEST(Presentation, SinglePrecisionProductsAreWidenedAfterwards) {
    struct Case {
        ControlId id;
        int p;
        double expected;
    };
    const Case cases[] = {
        {c::kFuelLevel1, 1, static_cast<double>(2.0F * 0.4F)},
        {c::kRetarderSelection, 1, static_cast<double>(2.0F * 0.4F)},
        {c::kFuelRate, 1, static_cast<double>(56.0F * 0.05F)},
        {c::kBellowPressureRearRight, 1, static_cast<double>(642.0F * 0.1F)},
        {c::kBatteryRemainingCharge, 1, static_cast<double>(642.0F * 0.0025F)},
        {c::kEngineTotalHours, 81, 1018999 * 0.05},
        {c::kHrEngineTotalFuelUsed, 81, 211504060 * 0.001},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(run(k.p, 15).findNumber(k.id)->value, k.expected) << "control " << k.id;
    }
    EXPECT_NEAR(run(1, 15).findNumber(c::kFuelLevel1)->value, 0.800000011920929, 1e-15);
}

TEST(Presentation, ModelWithoutGroupsShowsOffsets) {
    const Presentation out = run(50, 8, {"Quennet Basic", 0, "Variable", "12:34:56"});
    expectShown(out, c::kServiceDistance, -160635, 50);
    expectShown(out, c::kSteeringWheelAngle, -31.374, 50);
    for (const ControlId id : {c::kEnginePercentLoad, c::kAxleWeight23, c::kBellowPressureFrontLeft,
                               c::kBatteryRemainingCharge}) {
        expectShown(out, id, 0, 50);
    }
}

TEST(Presentation, Leds) {
    // Position, then Cruise, Brake, Clutch, Parking.
    const std::vector<std::vector<int>> cases = {
        {0, 0, 0, 0, 1},  {10, 0, 0, 1, 1}, {11, 0, 0, 0, 0},  {20, 0, 1, 0, 0},  {30, 0, 0, 1, 0},
        {39, 0, 0, 0, 0}, {40, 1, 1, 0, 0}, {50, 1, 0, 1, 0},  {60, 1, 1, 0, 0},  {70, 1, 0, 1, 0},
        {80, 1, 1, 0, 0}, {99, 1, 0, 0, 0}, {100, 1, 1, 1, 1}, {101, 1, 0, 0, 0},
    };
    const ControlId leds[] = {c::kCruiseLed, c::kBrakeLed, c::kClutchLed, c::kParkingLed};
    for (const auto& k : cases) {
        const Presentation out = run(k[0], 15);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(out.findLed(leds[i])->lit, k[i + 1] != 0) << leds[i] << " at p = " << k[0];
        }
    }
}

// Texts of one box at consecutive positions from `firstP` on.
struct TextRun {
    std::uint8_t productId;
    ControlId id;
    int firstP;
    std::vector<std::string_view> texts;
};

const std::vector<TextRun> kTextRuns = {
    {15,
     c::kDriver1WorkingState,
     0,
     {"110=Error", "111=not available", "001=Driver available", "010=Work", "000=Rest"}},
    {15, c::kDriver1WorkingState, 50, {"000=Rest", "011=Drive"}},
    {15,
     c::kDriver2WorkingState,
     0,
     {"110=Error", "111=not available", "001=Driver available", "010=Work", "011=Drive"}},
    {15, c::kDriver2WorkingState, 50, {"011=Drive", "000=Rest"}},
    {15,
     c::kDriver1TimeRelatedStates,
     49,
     {"0000=normal", "0001=15 min bef. 4-1/2hr", "0010=4-1/2hr reached", "0011=15 min bef. 9hr",
      "0100=9hr reached", "0101=15 min bef. 16 hr", "0110=16hr reached", "1110=Error",
      "1111=not available", "0000=normal"}},
    {15,
     c::kDriver2TimeRelatedStates,
     39,
     {"0000=normal", "0001=15 min bef. 4-1/2hr", "0010=4-1/2 hr reached", "0011=15 min bef. 9hr",
      "0100=9hr reached", "0101=15 min bef. 16hr", "0110=16hr reached", "1110=Error",
      "1111=not available", "0000=normal"}},
    {15, c::kDriver1Card, 50, {"00=Card not present", "01=Card present"}},
    {15, c::kDriver2Card, 50, {"01=Card present", "00=Card not present"}},
    {15, c::kVehicleMotion, 0, {"00=Vehicle motion not detected", "01=vehicle motion detected"}},
    {15, c::kVehicleOverspeed, 41, {"00=No overspeed", "01=Overspeed"}},
    {15, c::kSystemEvent, 0, {"01=tachogr. event", "00=no tachogr. event"}},
    {15, c::kHandlingInformation, 0, {"01=handling info.", "00=no handling info."}},
    {15, c::kTachographPerformance, 0, {"01=perform. analysis", "00=normal perform."}},
    {15, c::kDirectionIndicator, 10, {"01=Reverse", "00=Forward"}},
    {15, c::kDriver1Id, 0, {"*", "DE_4084852370992000*", "*", "DE_4084852370992000*"}},
    {15, c::kDriver2Id, 0, {"*", "*", "FR_5324329921546000*", "FR_5324329921546000*"}},
    {15,
     c::kTellTaleId0,
     0,
     {"011=Cond. Info", "001=Cond. Red", "010=Cond. Yellow", "111=not available", "000=off"}},
    {15, c::kTellTaleId4, 99, {"000=off", "011=Cond. Info", "000=off"}},
    {15, c::kDiagnosticsSupported, 50, {"not supported"}},
    {8, c::kRequestsSupported, 0, {"not supported"}},
    {15, c::kFuelType, 9, {"0x09\n", "0x0A\n"}},
    {15, c::kFuelType, 29, {"0x1D\n", "0xFE\n", "0xFF\n", "0x04\n"}},
    {15, c::kRetarderTorqueMode, 0, {"0B0000"}},
    {15, c::kRetarderTorqueMode, 10, {"0B1010"}},
    {15, c::kRetarderTorqueMode, 50, {"0B0010"}},
    {15, c::kCruiseControlStates, 4, {"0B100", "0B101", "0B110", "0B111", "0B000"}},
    {15, c::kCruiseControlStates, 100, {"0B100"}},
    {15, c::kPtoState, 0, {"11111=not available", "00101=Set", "00101=Set"}},
    {15, c::kPtoState, 10, {"00101=Set", "00000=off/disabled"}},
    {15, c::kPtoState, 99, {"00000=off/disabled", "00101=Set", "00000=off/disabled"}},
    {15, c::kPtoEngaged, 0, {"11=Not available", "10=Error", "01=At least 1"}},
    {15, c::kPtoEngaged, 10, {"01=At least 1", "00=No PTO engaged"}},
    {15, c::kPtoEngaged, 100, {"01=At least 1"}},
    {0, c::kPtoState, 0, {"11111=not available"}},
    {10, c::kPtoEngaged, 5, {"01=At least 1"}},
    {15,
     c::kAlternatorStatus,
     0,
     {"10=error", "11=not available", "00=not charging", "01=charging", "01=charging"}},
    {15,
     c::kDoorsLockStatus,
     0,
     {"10=Error", "11=not available", "00=Unlocked", "01=Locked", "01=Locked"}},
    {15, c::kDoorsOpenStatus, 0, {"10=Error", "11=not available", "00=Closed", "01=Open"}},
    {15, c::kDoorsEnableStatus, 0, {"10=Error", "11=not available", "00=Disabled", "01=Enabled"}},
    {15,
     c::kRampWheelChairLift,
     0,
     {"10=Error", "11=not available", "01=outside bus", "00=inside bus"}},
    {15,
     c::kDoorsStatus2,
     0,
     {"10=Error", "11=not available", "01=at least 1 enabled", "00=all doors disabled"}},
    {15,
     c::kDoorsPosition,
     0,
     {"1110=Error", "1111=not available", "0000=at least 1 open", "0001=closing last door",
      "0010=all doors closed", "0010=all doors closed"}},
    {0, c::kAlternatorStatus, 0, {"10=error"}},
    {12, c::kDoorsPosition, 3, {"0001=closing last door"}},
    {15, c::kSelectedGear, 0, {"park", "-123", "-120"}},
    {15, c::kCurrentGear, 9, {"-103", "-100"}},
    {15, c::kSelectedGear, 49, {"-3", "neutral", "2"}},
    {15, c::kCurrentGear, 80, {"75"}},
    {15, c::kCurrentGear, 100, {"125"}},
    {15, c::kSelectedGear, 150, {"-6"}},
    {15, c::kSelectedGear, 255, {""}},
    {15, c::kCurrentGear, 255, {""}},
    {0, c::kCurrentGear, 0, {"park"}},
    {15, c::kDateTime, 0, {"1985/01/01/12:34:56"}},
    {15, c::kDateTime, 10, {"2010/02/04/12:34:56"}},
    {15, c::kDateTime, 100, {"2235/12/31/12:34:56"}},
    {13, c::kDateTime, 255, {"2110/29/13/12:34:56"}},
};

TEST(Presentation, StatusTexts) {
    for (const auto& r : kTextRuns) {
        for (std::size_t i = 0; i < r.texts.size(); ++i) {
            const int p = r.firstP + static_cast<int>(i);
            EXPECT_EQ(textOf(run(p, r.productId), r.id), r.texts[i])
                << "control " << r.id << ", product ID " << int{r.productId} << ", p = " << p;
        }
    }
}

TEST(Presentation, GroupTextsOfModelsWithoutTheGroup) {
    // Truck group: blank on Basic and Bus. Bus group: alternator and gears blank, doors and date
    // emptied, on Basic and Truck, with or without a clock text.
    for (const int id : {8, 9, 10, 11, 12, 13}) {
        const bool truck = id == 10 || id == 11;
        const bool bus = id == 12 || id == 13;
        for (const std::string_view clock : {"12:34:56", ""}) {
            const Presentation out =
                run(5, static_cast<std::uint8_t>(id), {"Quennet Basic", 0, "Variable", clock});
            if (!truck) {
                EXPECT_EQ(textOf(out, c::kPtoState), " ") << id;
                EXPECT_EQ(textOf(out, c::kPtoEngaged), " ") << id;
            }
            if (!bus) {
                for (const ControlId box :
                     {c::kAlternatorStatus, c::kSelectedGear, c::kCurrentGear}) {
                    EXPECT_EQ(textOf(out, box), " ") << box << ", product ID " << id;
                }
                for (const ControlId box :
                     {c::kDateTime, c::kDoorsLockStatus, c::kDoorsOpenStatus, c::kDoorsEnableStatus,
                      c::kDoorsStatus2, c::kDoorsPosition, c::kRampWheelChairLift}) {
                    EXPECT_EQ(textOf(out, box), "") << box << ", product ID " << id;
                }
            }
        }
    }
}

TEST(Presentation, SwVersionFollowsTheProductTextExactly) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Quennet Truck Plus", "04.00"},
        {"Quennet Bus Plus", "00.04"},
        {"Quennet Duo Plus", "04.04"},
        {"Quennet Basic Plus", "00.00"},
        {"Quennet Basic", " "},
        {"Quennet Truck", " "},
        {"Quennet Duo", " "},
        {"Not Found Yet!", " "},
        {"", " "},
        {"Quennet Duo Plus ", " "},
    };
    for (const auto& [product, version] : cases) {
        // The product text decides, not the product ID.
        EXPECT_EQ(textOf(run(50, 15, {product, 0, "Variable", ""}), c::kSwVersionSupported),
                  version)
            << '"' << product << '"';
    }
}

TEST(Presentation, DateBoxIsKeptWithoutClockText) {
    for (const int p : {0, 10, 100}) {
        EXPECT_EQ(textOf(run(p, 15, {"Quennet Duo Plus", 0, "Variable", ""}), c::kDateTime),
                  "<kept>");
    }
}

TEST(Presentation, Vin) {
    struct Case {
        std::string_view style;
        std::uint32_t serial;
        int p;
        std::string_view shown;
    };
    const Case cases[] = {
        {"Variable", 0, 0, "*"},
        {"Variable", 0, 1, "1*"},
        {"Variable", 0, 2, "02*"},
        {"Variable", 0, 3, "003*"},
        {"Variable", 0, 4, "2004*"},
        {"Variable", 0, 5, "42005*"},
        {"Variable", 0, 6, "042006*"},
        {"Variable", 0, 7, "P042007*"},
        {"Variable", 0, 8, "1M8GDM9AXKP042008*"},
        {"Variable", 0, 57, "1M8GDM9AXKP042057*"},
        {"Variable", 0, 255, "1M8GDM9AXKP042255*"},
        {"Not Found Yet!", 0, 3, "1M8GDM9AXKP042003*"},
        {"", 0, 0, "1M8GDM9AXKP042000*"},
        {"Fixed", 987654321, 0, "1M8GDM9AXKP654321*"},
        {"Fixed", 987654321, 100, "1M8GDM9AXKP654321*"},
        {"Fixed", 42, 7, "1M8GDM9AXKP000042*"},
        {"Fixed", 4294967295U, 50, "1M8GDM9AXKP967295*"},
        {"fixed", 42, 50, "1M8GDM9AXKP042050*"},
        {"Variable", 0, 3, "003*"},
    };
    // One buffer for the whole run, as in the program: what is shown depends only on the
    // current inputs, never on an earlier evaluation.
    VinBuffer vin;
    Presentation out;
    for (const auto& k : cases) {
        evaluate(static_cast<std::uint8_t>(k.p), 15, {"", k.serial, k.style, ""}, vin, out);
        EXPECT_EQ(textOf(out, c::kVehicleIdentificationNumber), k.shown)
            << k.style << ", serial " << k.serial << ", p = " << k.p;
    }
}

TEST(Presentation, CopiesOwnTheirTexts) {
    VinBuffer vin;
    Presentation out;
    evaluate(0, 15, kDuoPlus, vin, out);
    const Presentation first = out;
    evaluate(100, 15, kDuoPlus, vin, out);
    EXPECT_EQ(textOf(first, c::kVehicleIdentificationNumber), "*");
    EXPECT_EQ(textOf(first, c::kSelectedGear), "park");
    EXPECT_EQ(textOf(out, c::kSelectedGear), "125");
}

TEST(Presentation, OverlongClockTextIsCutNotOverrun) {
    const std::string clock(200, '9');
    const std::string shown = textOf(run(10, 15, {"", 0, "", clock}), c::kDateTime);
    EXPECT_EQ(shown, "2010/02/04/" + clock.substr(0, TextValue::kCapacity - 11));
}

}  // namespace
}  // namespace orvale::model
