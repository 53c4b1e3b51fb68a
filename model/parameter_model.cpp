#include "model/parameter_model.h"

namespace orvale::model {
namespace {

// The simulator's firmware computes in 32-bit unsigned arithmetic and stores each result in a
// field of the parameter's width, so positions above 100 wrap instead of saturating. These
// narrowings are that store.
constexpr std::uint8_t store8(std::uint32_t v) noexcept { return static_cast<std::uint8_t>(v); }
constexpr std::uint16_t store16(std::uint32_t v) noexcept { return static_cast<std::uint16_t>(v); }

// Shared ramps: 250 and 64255 at p = 100, the largest valid 8- and 16-bit values.
constexpr std::uint8_t byteRamp(std::uint32_t p) noexcept { return store8(5 * p / 2); }
constexpr std::uint16_t wordRamp(std::uint32_t p) noexcept { return store16(12851 * p / 20); }

// Axle base ramp: 20000 at the knee, 64255 at p = 100.
constexpr std::uint16_t axleRamp(std::uint32_t p, std::uint32_t q, bool upper) noexcept {
    return store16(upper ? 8851 * q / 4 + 20000 : 250 * p);
}

// Status codes along the slider. Several of driver 2's states mirror driver 1's, so that each
// state is on screen for one of the two; the first four positions show the special codes.
constexpr std::array<std::uint8_t, 4> kWorkingStateFirst{0b110, 0b111, 0b001, 0b010};
constexpr std::uint8_t kRest = 0b000;
constexpr std::uint8_t kDrive = 0b011;
constexpr std::uint8_t kDriveFrom = 51;
// Time related states from a position on: 0001 to 0110, then error and not available.
constexpr std::array<std::uint8_t, 8> kTimeStates{0b0001, 0b0010, 0b0011, 0b0100,
                                                  0b0101, 0b0110, 0b1110, 0b1111};
constexpr std::uint8_t kDriver1TimeStatesFrom = 50;
constexpr std::uint8_t kDriver2TimeStatesFrom = 40;

constexpr std::uint8_t timeState(std::uint8_t from, std::uint8_t p) noexcept {
    if (p < from || p - from >= static_cast<int>(kTimeStates.size())) return 0;
    return kTimeStates[static_cast<std::size_t>(p - from)];
}

// Two-valued codes: one code up to and including a position, the other above it.
constexpr std::uint8_t threshold(std::uint8_t p, std::uint8_t upTo, std::uint8_t atOrBelow,
                                 std::uint8_t above) noexcept {
    return p <= upTo ? atOrBelow : above;
}

constexpr std::uint8_t tellTale(std::uint8_t p) noexcept {
    switch (p) {
        case 0:
        case kTopPosition:
            return 0b011;  // info
        case 1:
            return 0b001;  // red
        case 2:
            return 0b010;  // yellow
        case 3:
            return 0b111;  // not available
        default:
            return 0b000;  // off
    }
}

// Bus group states by position 0, 1, 2, 3 and 4 or more: error, not available, then the two
// values.
struct ByPosition {
    std::array<std::uint8_t, 5> codes;
    [[nodiscard]] constexpr std::uint8_t at(std::uint8_t p) const noexcept {
        return codes[p < 4 ? p : 4];
    }
};
constexpr ByPosition kChargingAndLocks{{0b10, 0b11, 0b00, 0b01, 0b01}};
constexpr ByPosition kRampAndStatus2{{0b10, 0b11, 0b01, 0b00, 0b00}};
constexpr ByPosition kDoorsPosition{{0b1110, 0b1111, 0b0000, 0b0001, 0b0010}};

void setStatusCodes(RawParameters& r, std::uint8_t p, std::uint8_t productId) noexcept {
    const bool top = p == kTopPosition;
    r.driver1WorkingState = p < kWorkingStateFirst.size() ? kWorkingStateFirst[p]
                            : p < kDriveFrom              ? kRest
                                                          : kDrive;
    r.driver2WorkingState = p < kWorkingStateFirst.size() ? kWorkingStateFirst[p]
                            : p < kDriveFrom              ? kDrive
                                                          : kRest;
    r.driver1TimeStates = timeState(kDriver1TimeStatesFrom, p);
    r.driver2TimeStates = timeState(kDriver2TimeStatesFrom, p);
    r.driver1Card = threshold(p, 50, 0b00, 0b01);
    r.driver2Card = threshold(p, 50, 0b01, 0b00);
    r.vehicleMotion = threshold(p, 0, 0b00, 0b01);
    r.vehicleOverspeed = threshold(p, 41, 0b00, 0b01);
    r.systemEvent = threshold(p, 0, 0b01, 0b00);
    r.handlingInformation = threshold(p, 0, 0b01, 0b00);
    r.tachographPerformance = threshold(p, 0, 0b01, 0b00);
    r.directionIndicator = threshold(p, 10, 0b01, 0b00);
    r.tellTale = tellTale(p);
    // Requests and diagnostics are not simulated.
    r.diagnosticsSupported = 0b00;
    r.requestsSupported = 0b00;
    r.driver1IdPresent = p == 1 || p >= 3;
    r.driver2IdPresent = p >= 2;
    r.cruiseActive = p >= 40;
    r.parkingBrake = p <= 10 || top;
    r.brakePedal = p == 20 || p == 40 || p == 60 || p == 80 || top;
    r.clutchPedal = p == 10 || p == 30 || p == 50 || p == 70 || top;

    if (carriesTruckGroup(productId)) {
        // "Set" at 1 to 10 and at 100, otherwise off; the first two positions show the
        // special codes.
        const bool set = p <= 10 || top;
        r.ptoState = p == 0 ? 0b11111 : set ? 0b00101 : 0b00000;
        r.ptoEngaged = p == 0 ? 0b11 : p == 1 ? 0b10 : set ? 0b01 : 0b00;
    }
    if (carriesBusGroup(productId)) {
        r.alternators = kChargingAndLocks.at(p);
        r.doorsLock = kChargingAndLocks.at(p);
        r.doorsOpen = kChargingAndLocks.at(p);
        r.doorsEnable = kChargingAndLocks.at(p);
        r.ramp = kRampAndStatus2.at(p);
        r.doorsStatus2 = kRampAndStatus2.at(p);
        r.doorsPosition = kDoorsPosition.at(p);
    }
}

}  // namespace

RawParameters computeRawParameters(std::uint8_t position, std::uint8_t productId) noexcept {
    const std::uint32_t p = position;
    const bool upper = position > kKneePosition;
    // q is an 8-bit quantity on the device; for p above 80 it is simply p - 80 (1 to 175).
    const std::uint32_t q = upper ? static_cast<std::uint8_t>(position - kKneePosition) : 0U;
    const bool top = position == kTopPosition;

    const std::uint8_t b = byteRamp(p);
    const std::uint16_t w = wordRamp(p);

    RawParameters r{};

    r.engineSpeed = w;
    r.wheelBasedSpeed = w;
    r.tachographVehicleSpeed = w;
    r.acceleratorPedalPosition1 = b;
    r.fuelLevel1 = b;
    // Fuel Level 2 runs one bit below Fuel Level 1 so that the two tanks can be told apart,
    // except at empty and full, where both show the same.
    r.fuelLevel2 = (position == 0 || top) ? b : store8(b - 1U);
    r.defTank1Level = b;
    r.brakePedalPosition = b;
    r.retarderSelection = b;
    r.engineCoolantTemperature = b;
    r.actualEngineTorque = b;
    r.actualRetarderTorque = b;
    r.serviceBrakeAirPressure1 = b;
    r.serviceBrakeAirPressure2 = b;

    // Knee ramps: a gentle line up to p = 80, then a steep one that ends at the top of the
    // valid range at p = 100. Each upper line starts exactly at the lower line's knee value.
    if (!upper) {
        r.ambientAirTemperature = store16(946 * p / 5);
        r.fuelRate = store16(2271 * p / 40);
        r.instantaneousFuelEconomy = store16(1959 * p / 8);
        r.engineTotalFuelUsed = 25 * p;
        r.totalFuelUsedGaseous = 25 * p;
        r.hrEngineTotalFuelUsed = 12500 * p;
        r.hrTotalVehicleDistance = 5000 * p;
        r.engineTotalHours = 250 * p;
    } else {
        r.ambientAirTemperature = store16(49119 * q / 20 + 15136);
        r.fuelRate = store16(59713 * q / 20 + 4542);
        r.instantaneousFuelEconomy = store16(8933 * q / 4 + 19590);
        // These two lines overshoot by 5 at q = 20; the device sends the valid maximum there.
        r.engineTotalFuelUsed = top ? kMaxValid32 : 210553961U * q + 2000U;
        r.totalFuelUsedGaseous = 210553960U * q + 3 * q / 4 + 2000U;
        r.hrEngineTotalFuelUsed = 210504060U * q + 3 * q / 4 + 1000000U;
        r.hrTotalVehicleDistance = top ? kMaxValid32 : 210534061U * q + 400000U;
        // Ends at 999999 h rather than at the valid maximum.
        r.engineTotalHours = 998999U * q + 20000U;
    }

    // Fuel Type walks through the codes 0 to 29, then error (0xFE) and not available (0xFF),
    // and settles on 4 (diesel) for the rest of the range.
    if (position <= 29) {
        r.fuelType = position;
    } else if (position == 30) {
        r.fuelType = 0xFE;
    } else if (position == 31) {
        r.fuelType = 0xFF;
    } else {
        r.fuelType = 4;
    }
    // The unused bits of both bit fields are sent as ones (not available).
    r.retarderTorqueMode = store8(p | 0xF0U);
    r.cruiseControlStates = store8(((p % 8) << 5) | 0x1FU);

    if (carriesTruckGroup(productId)) {
        r.enginePercentLoad = store8(b / 2U);
        r.grossCombinationWeight = w;
        r.serviceDistance = w;
        const std::uint16_t a = axleRamp(p, q, upper);
        // Each location weighs 5 kg more than the one before it, so that the boxes can be told
        // apart; at empty and at full all ten are equal.
        const bool stepped = position != 0 && !top;
        for (std::uint32_t k = 0; k < kAxleLocationCount; ++k) {
            r.axleWeights[k] = stepped ? store16(a + 10 * k) : a;
        }
    }

    if (carriesBusGroup(productId)) {
        r.bellowPressures = {w, w, w, w};
        r.batteryRemainingCharge = w;
        r.steeringWheelAngle = w;
        r.gear = position == 0 ? std::uint8_t{251} : b;  // 251: park
        r.dateYear = b;
        r.dateMonth = store8(11 * p / 100 + 1);
        r.dateDay = store8(6 * p / 5 + 4);
    }

    setStatusCodes(r, position, productId);
    return r;
}

}  // namespace orvale::model
