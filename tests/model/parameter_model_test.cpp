#include "model/parameter_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

namespace orvale::model {
namespace {

struct RawCase {
    std::uint8_t p;
    std::string_view name;
    std::uint64_t (*get)(const RawParameters&);
    std::uint64_t expected;
};

#define FIELD(f) #f, [](const RawParameters& r) -> std::uint64_t { return r.f; }

// Exact raw figures the shown values cannot pin (the 32-bit lines, wrapping above 100) and the
// first step; the rest shows through the presentation tests. On a Duo Plus, carrying all groups.
const RawCase kRawCases[] = {
    {1, FIELD(fuelLevel1), 2},
    {1, FIELD(fuelLevel2), 1},
    {1, FIELD(engineSpeed), 642},
    {1, FIELD(axleWeights[0]), 250},
    {1, FIELD(axleWeights[9]), 340},
    {80, FIELD(engineTotalFuelUsed), 2000},
    {80, FIELD(totalFuelUsedGaseous), 2000},
    {80, FIELD(hrEngineTotalFuelUsed), 1000000},
    {80, FIELD(hrTotalVehicleDistance), 400000},
    {80, FIELD(engineTotalHours), 20000},
    {81, FIELD(engineTotalFuelUsed), 210555961},
    {81, FIELD(totalFuelUsedGaseous), 210555960},
    {81, FIELD(hrEngineTotalFuelUsed), 211504060},
    {81, FIELD(hrTotalVehicleDistance), 210934061},
    {81, FIELD(engineTotalHours), 1018999},
    {81, FIELD(fuelLevel1), 202},
    {81, FIELD(engineSpeed), 52046},
    {99, FIELD(fuelLevel1), 247},
    {99, FIELD(fuelLevel2), 246},
    {100, FIELD(engineTotalFuelUsed), kMaxValid32},
    {100, FIELD(totalFuelUsedGaseous), kMaxValid32},
    {100, FIELD(hrEngineTotalFuelUsed), kMaxValid32},
    {100, FIELD(hrTotalVehicleDistance), kMaxValid32},
    {100, FIELD(engineTotalHours), 19999980},
    {100, FIELD(fuelLevel2), 250},
    {100, FIELD(gear), 250},
    {100, FIELD(dateDay), 124},
    // Outside the slider's range every value wraps at its width.
    {150, FIELD(brakePedalPosition), 119},
    {150, FIELD(engineSpeed), 30846},
    {150, FIELD(axleWeights[0]), 43820},
    {150, FIELD(axleWeights[9]), 43910},
    {150, FIELD(engineTotalFuelUsed), 1853877382U},
    {150, FIELD(fuelLevel2), 118},
    {205, FIELD(fuelLevel1), 0},
    {205, FIELD(fuelLevel2), 255},
    {255, FIELD(gear), 125},
    {255, FIELD(dateDay), 54},
    {255, FIELD(cruiseControlStates), 0xFF},
    // Fuel Type: codes, then error and not available, then 4 for good.
    {0, FIELD(fuelType), 0},
    {29, FIELD(fuelType), 29},
    {30, FIELD(fuelType), 0xFE},
    {31, FIELD(fuelType), 0xFF},
    {32, FIELD(fuelType), 4},
    {255, FIELD(fuelType), 4},
    {0, FIELD(gear), 251},
    {0, FIELD(retarderTorqueMode), 0xF0},
    {0, FIELD(cruiseControlStates), 0x1F},
};
#undef FIELD

TEST(ParameterModel, RawValuesAtDocumentedPositions) {
    for (const auto& c : kRawCases) {
        EXPECT_EQ(c.get(computeRawParameters(c.p, 15)), c.expected)
            << c.name << " at p = " << int{c.p};
    }
}

}  // namespace
}  // namespace orvale::model
