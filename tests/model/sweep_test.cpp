// Invariants over every position 0 to 255 and every product ID 0 to 255.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string_view>
#include <vector>

#include "model/presentation.h"

namespace orvale::model {
namespace {

enum class Group { kAll, kTruck, kBus };

// A numeric raw parameter: its largest valid value, its group, and what it is at p = 100.
struct Field {
    std::string_view name;
    std::uint64_t (*get)(const RawParameters&);
    std::uint64_t maxValid;
    Group group;
    std::uint64_t atTop;
};

#define FIELD(f) #f, [](const RawParameters& r) -> std::uint64_t { return r.f; }
constexpr std::uint64_t k8 = kMaxValid8;
constexpr std::uint64_t k16 = kMaxValid16;
constexpr std::uint64_t k32 = kMaxValid32;

const std::vector<Field> kNumericFields = {
    {FIELD(engineSpeed), k16, Group::kAll, k16},
    {FIELD(wheelBasedSpeed), k16, Group::kAll, k16},
    {FIELD(tachographVehicleSpeed), k16, Group::kAll, k16},
    {FIELD(acceleratorPedalPosition1), k8, Group::kAll, k8},
    {FIELD(fuelLevel1), k8, Group::kAll, k8},
    {FIELD(fuelLevel2), k8, Group::kAll, k8},
    {FIELD(defTank1Level), k8, Group::kAll, k8},
    {FIELD(brakePedalPosition), k8, Group::kAll, k8},
    {FIELD(retarderSelection), k8, Group::kAll, k8},
    {FIELD(engineCoolantTemperature), k8, Group::kAll, k8},
    {FIELD(actualEngineTorque), k8, Group::kAll, k8},
    {FIELD(actualRetarderTorque), k8, Group::kAll, k8},
    {FIELD(serviceBrakeAirPressure1), k8, Group::kAll, k8},
    {FIELD(serviceBrakeAirPressure2), k8, Group::kAll, k8},
    {FIELD(ambientAirTemperature), k16, Group::kAll, k16},
    {FIELD(fuelRate), k16, Group::kAll, k16},
    {FIELD(instantaneousFuelEconomy), k16, Group::kAll, k16},
    {FIELD(engineTotalFuelUsed), k32, Group::kAll, k32},
    {FIELD(totalFuelUsedGaseous), k32, Group::kAll, k32},
    {FIELD(hrEngineTotalFuelUsed), k32, Group::kAll, k32},
    {FIELD(hrTotalVehicleDistance), k32, Group::kAll, k32},
    // Ends at 999999 h, far below the valid maximum.
    {FIELD(engineTotalHours), k32, Group::kAll, 19999980},
    {FIELD(enginePercentLoad), k8, Group::kTruck, 125},
    {FIELD(grossCombinationWeight), k16, Group::kTruck, k16},
    {FIELD(serviceDistance), k16, Group::kTruck, k16},
    {FIELD(axleWeights[0]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[1]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[2]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[3]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[4]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[5]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[6]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[7]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[8]), k16, Group::kTruck, k16},
    {FIELD(axleWeights[9]), k16, Group::kTruck, k16},
    {FIELD(bellowPressures[0]), k16, Group::kBus, k16},
    {FIELD(bellowPressures[1]), k16, Group::kBus, k16},
    {FIELD(bellowPressures[2]), k16, Group::kBus, k16},
    {FIELD(bellowPressures[3]), k16, Group::kBus, k16},
    {FIELD(batteryRemainingCharge), k16, Group::kBus, k16},
    {FIELD(steeringWheelAngle), k16, Group::kBus, k16},
    {FIELD(dateYear), k8, Group::kBus, k8},
};

// Bus-group coded bytes: only their zeroing is checked here.
const std::vector<Field> kCodedBusFields = {
    {FIELD(gear), 0, Group::kBus, 0},
    {FIELD(dateMonth), 0, Group::kBus, 0},
    {FIELD(dateDay), 0, Group::kBus, 0},
};
#undef FIELD

// The product IDs of the eight models and which groups they carry, written out independently
// of the code under test.
bool truckModel(int id) { return !(id == 8 || id == 9 || id == 12 || id == 13); }
bool busModel(int id) { return !(id >= 8 && id <= 11); }

bool carried(Group g, int productId) {
    switch (g) {
        case Group::kTruck:
            return truckModel(productId);
        case Group::kBus:
            return busModel(productId);
        case Group::kAll:
            break;
    }
    return true;
}

TEST(ParameterModelSweep, RampsStayValidRiseSteadilyAndEndAtTheTop) {
    RawParameters previous = computeRawParameters(0, 0);
    for (int p = 0; p <= 100; ++p) {
        const RawParameters raw = computeRawParameters(static_cast<std::uint8_t>(p), 0);
        for (const auto& f : kNumericFields) {
            EXPECT_LE(f.get(raw), f.maxValid) << f.name << " at p = " << p;
            // A knee whose upper line does not start at the lower line's end shows as a drop.
            EXPECT_GE(f.get(raw), f.get(previous)) << f.name << " at p = " << p;
            if (p == 0) {
                EXPECT_EQ(f.get(raw), 0U) << f.name;
            }
            if (p == 100) {
                EXPECT_EQ(f.get(raw), f.atTop) << f.name;
            }
        }
        EXPECT_GE(raw.dateMonth, 1) << p;
        EXPECT_LE(raw.dateMonth, 12) << p;
        EXPECT_GE(raw.dateDay / 4, 1) << p;
        EXPECT_LE(raw.dateDay / 4, 31) << p;
        previous = raw;
    }
}

TEST(ParameterModelSweep, GroupsAreZeroedExactlyForTheModelsWithoutThem) {
    for (int p = 0; p <= 255; ++p) {
        // Product ID 0 carries everything, so it is the reference for every other model.
        const RawParameters reference = computeRawParameters(static_cast<std::uint8_t>(p), 0);
        for (int id = 0; id <= 255; ++id) {
            const RawParameters raw =
                computeRawParameters(static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(id));
            for (const auto* fields : {&kNumericFields, &kCodedBusFields}) {
                for (const auto& f : *fields) {
                    const std::uint64_t expected = carried(f.group, id) ? f.get(reference) : 0;
                    ASSERT_EQ(f.get(raw), expected)
                        << f.name << ", product ID " << id << ", p = " << p;
                }
            }
            ASSERT_EQ(raw.fuelType, reference.fuelType);
            ASSERT_EQ(raw.retarderTorqueMode, reference.retarderTorqueMode);
            ASSERT_EQ(raw.cruiseControlStates, reference.cruiseControlStates);
        }
    }
}

// ---------------------------------------------------------------------------------------------

// Fills `out` with values that no evaluation produces, so that a display left unwritten shows.
void poison(Presentation& out) {
    for (auto& n : out.numbers) {
        n = {0, std::numeric_limits<double>::quiet_NaN()};
    }
    for (auto& l : out.leds) {
        l = {0, true};
    }
    for (auto& t : out.texts) {
        t.reset(0);
        t.assign("poison");
    }
}

bool mayBeEmpty(ControlId id, int p, int productId) {
    const bool busText = id == control::kDoorsLockStatus || id == control::kDoorsOpenStatus ||
                         id == control::kDoorsEnableStatus || id == control::kDoorsStatus2 ||
                         id == control::kDoorsPosition || id == control::kRampWheelChairLift ||
                         id == control::kDateTime;
    const bool gear = id == control::kSelectedGear || id == control::kCurrentGear;
    return (busText && !busModel(productId)) || (gear && p == 255);
}

TEST(PresentationSweep, EveryDisplayIsWrittenOnceByItsOwnId) {
    std::set<ControlId> catalogue;
    for (const auto& e : kNumericDisplays) catalogue.insert(e.id);
    for (const auto& e : kLeds) catalogue.insert(e.id);
    for (const auto& e : kTextDisplays) catalogue.insert(e.id);
    ASSERT_EQ(catalogue.size(), 83U) << "control IDs must be distinct";

    VinBuffer vin;
    const VinBuffer initial;
    Presentation out;
    for (int p = 0; p <= 255; ++p) {
        for (int id = 0; id <= 255; ++id) {
            // Alternate the clock text so both date paths are covered for every model.
            const bool withClock = (p + id) % 2 == 0;
            const PresentationInputs inputs{"Quennet Duo Plus", 123456789U,
                                            id % 3 == 0 ? "Fixed" : "Variable",
                                            withClock ? "01:02:03" : ""};
            poison(out);
            evaluate(static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(id), inputs, vin, out);

            std::set<ControlId> seen;
            for (std::size_t i = 0; i < out.numbers.size(); ++i) {
                ASSERT_EQ(out.numbers[i].id, kNumericDisplays[i].id);
                ASSERT_TRUE(std::isfinite(out.numbers[i].value))
                    << out.numbers[i].id << ", product ID " << id << ", p = " << p;
                seen.insert(out.numbers[i].id);
            }
            for (std::size_t i = 0; i < out.leds.size(); ++i) {
                ASSERT_EQ(out.leds[i].id, kLeds[i].id);
                seen.insert(out.leds[i].id);
            }
            for (std::size_t i = 0; i < out.texts.size(); ++i) {
                const TextValue& t = out.texts[i];
                ASSERT_EQ(t.id(), kTextDisplays[i].id);
                seen.insert(t.id());
                const bool keepsDate = t.id() == control::kDateTime && busModel(id) && !withClock;
                ASSERT_EQ(t.isWritten(), !keepsDate)
                    << t.id() << ", product ID " << id << ", p = " << p;
                if (t.isWritten() && !mayBeEmpty(t.id(), p, id)) {
                    ASSERT_FALSE(t.text().empty())
                        << t.id() << ", product ID " << id << ", p = " << p;
                }
            }
            ASSERT_EQ(seen, catalogue);
        }
    }
    // Only characters 11 to 16 of the VIN buffer ever change.
    for (std::size_t i = 0; i < kVinBufferLength; ++i) {
        if (i < 11 || i > 16) {
            EXPECT_EQ(vin.chars[i], initial.chars[i]) << i;
        }
    }
}

}  // namespace
}  // namespace orvale::model
