#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvale::model {

/// Largest valid raw value of an 8-bit J1939 parameter (0xFA).
inline constexpr std::uint8_t kMaxValid8 = 250;
/// Largest valid raw value of a 16-bit J1939 parameter (0xFAFF).
inline constexpr std::uint16_t kMaxValid16 = 64255;
/// Largest valid raw value of a 32-bit J1939 parameter (0xFAFFFFFF).
inline constexpr std::uint32_t kMaxValid32 = 4211081215U;

/// Position at which the knee ramps switch to their steeper upper line.
inline constexpr std::uint8_t kKneePosition = 80;
/// Top of the slider's and the device's position range.
inline constexpr std::uint8_t kTopPosition = 100;

/// Number of axle weight locations: 00, 01, 10, 11, 12, 13, 20, 21, 22, 23.
inline constexpr std::size_t kAxleLocationCount = 10;

/// The raw values that the simulator puts on the vehicle bus for one control position, in the
/// J1939 encoding (shown value = raw x resolution + offset, applied by the presentation).
/// Every field holds its value reduced modulo 2^width.
struct RawParameters {
    // Carried by every model.
    std::uint16_t engineSpeed;               ///< 0.125 rpm/bit
    std::uint16_t wheelBasedSpeed;           ///< 1/256 km/h per bit
    std::uint16_t tachographVehicleSpeed;    ///< 1/256 km/h per bit
    std::uint8_t acceleratorPedalPosition1;  ///< 0.4 %/bit
    std::uint8_t fuelLevel1;                 ///< 0.4 %/bit
    std::uint8_t fuelLevel2;                 ///< 0.4 %/bit; Fuel Level 1 - 1 but at 0 and 100
    std::uint8_t defTank1Level;              ///< 0.4 %/bit
    std::uint8_t brakePedalPosition;         ///< 0.4 %/bit
    std::uint8_t retarderSelection;          ///< 0.4 %/bit
    std::uint8_t engineCoolantTemperature;   ///< 1 degC/bit, offset -40 degC
    std::uint8_t actualEngineTorque;         ///< 1 %/bit, offset -125 %
    std::uint8_t actualRetarderTorque;       ///< 1 %/bit, offset -125 %
    std::uint8_t serviceBrakeAirPressure1;   ///< 8 kPa/bit
    std::uint8_t serviceBrakeAirPressure2;   ///< 8 kPa/bit
    std::uint16_t ambientAirTemperature;     ///< 0.03125 degC/bit, offset -273 degC
    std::uint16_t fuelRate;                  ///< 0.05 L/h per bit
    std::uint16_t instantaneousFuelEconomy;  ///< 1/512 km/L per bit
    std::uint32_t engineTotalFuelUsed;       ///< 0.5 L/bit
    std::uint32_t totalFuelUsedGaseous;      ///< 0.5 kg/bit
    std::uint32_t hrEngineTotalFuelUsed;     ///< 0.001 L/bit
    std::uint32_t hrTotalVehicleDistance;    ///< 5 m/bit
    std::uint32_t engineTotalHours;          ///< 0.05 h/bit; tops out at 19999980, not 0xFAFFFFFF

    // Coded bytes, carried by every model.
    std::uint8_t fuelType;             ///< p up to 29, 0xFE at 30, 0xFF at 31, then 4
    std::uint8_t retarderTorqueMode;   ///< mode (p mod 16) in bits 0..3, bits 4..7 set
    std::uint8_t cruiseControlStates;  ///< state (p mod 8) in bits 5..7, bits 0..4 set

    // Truck group: 0 for the models without it.
    std::uint8_t enginePercentLoad;        ///< 1 %/bit
    std::uint16_t grossCombinationWeight;  ///< 10 kg/bit
    std::uint16_t serviceDistance;         ///< 5 km/bit, offset -160635 km
    /// 0.5 kg/bit, locations 00, 01, 10, 11, 12, 13, 20, 21, 22, 23 in this order.
    std::array<std::uint16_t, kAxleLocationCount> axleWeights;

    // Bus group: 0 for the models without it.
    /// 0.1 kPa/bit: front left, front right, rear left, rear right.
    std::array<std::uint16_t, 4> bellowPressures;
    std::uint16_t batteryRemainingCharge;  ///< 0.0025 %/bit
    std::uint16_t steeringWheelAngle;      ///< 1/1024 rad per bit, offset -31.374 rad
    std::uint8_t gear;                     ///< offset -125: 125 is neutral, 251 is park
    std::uint8_t dateYear;                 ///< 1 year/bit, offset 1985
    std::uint8_t dateMonth;                ///< 1 to 12 in the slider's range
    std::uint8_t dateDay;                  ///< 0.25 day/bit

    // Status codes: the J1939 code of each state field the device sends, which the presentation
    // spells out as "code=meaning". Every model carries these.
    std::uint8_t driver1WorkingState;    ///< 3 bits: 000 rest, 001 available, 010 work, 011 drive
    std::uint8_t driver2WorkingState;    ///< 3 bits
    std::uint8_t driver1TimeStates;      ///< 4 bits: 0000 normal ... 0110 16 h reached
    std::uint8_t driver2TimeStates;      ///< 4 bits
    std::uint8_t driver1Card;            ///< 2 bits: 00 not present, 01 present
    std::uint8_t driver2Card;            ///< 2 bits
    std::uint8_t vehicleMotion;          ///< 2 bits: 00 not detected, 01 detected
    std::uint8_t vehicleOverspeed;       ///< 2 bits
    std::uint8_t systemEvent;            ///< 2 bits: 00 no event, 01 tachograph event
    std::uint8_t handlingInformation;    ///< 2 bits
    std::uint8_t tachographPerformance;  ///< 2 bits: 00 normal, 01 performance analysis
    std::uint8_t directionIndicator;     ///< 2 bits: 00 forward, 01 reverse
    std::uint8_t tellTale;               ///< 3 bits, the same in every block: 000 off ... 111 n/a
    std::uint8_t diagnosticsSupported;   ///< 2 bits: 00 not supported (not simulated)
    std::uint8_t requestsSupported;      ///< 2 bits: 00 not supported (not simulated)
    bool driver1IdPresent;               ///< the driver 1 card number is sent, else an empty field
    bool driver2IdPresent;
    bool cruiseActive;  ///< the Cruise LED: cruise control switched on
    bool parkingBrake;  ///< the Parking LED: parking brake set
    bool brakePedal;    ///< the Brake LED: brake pedal depressed
    bool clutchPedal;   ///< the Clutch LED: clutch pedal depressed
    // Truck group: 0 for the models without it.
    std::uint8_t ptoState;    ///< 5 bits: 00000 off, 00101 set, 11111 not available
    std::uint8_t ptoEngaged;  ///< 2 bits: 00 none, 01 at least one, 10 error, 11 n/a
    // Bus group: 0 for the models without it. One code for all four alternators and all ten
    // doors: the device shows one.
    std::uint8_t alternators;    ///< 2 bits: 00 not charging, 01 charging, 10 error, 11 n/a
    std::uint8_t doorsLock;      ///< 2 bits: 00 unlocked, 01 locked
    std::uint8_t doorsOpen;      ///< 2 bits: 00 closed, 01 open
    std::uint8_t doorsEnable;    ///< 2 bits: 00 disabled, 01 enabled
    std::uint8_t ramp;           ///< 2 bits: 00 inside bus, 01 outside bus
    std::uint8_t doorsStatus2;   ///< 2 bits: 00 all doors disabled, 01 at least one enabled
    std::uint8_t doorsPosition;  ///< 4 bits: 0000 one open, 0001 closing last, 0010 all closed

    friend bool operator==(const RawParameters&, const RawParameters&) = default;
};

/// True when the model with this product ID carries the truck group (Engine % Load, Gross
/// Combination V.W., Service distance, axle weights): every ID but 8, 9, 12 and 13.
constexpr bool carriesTruckGroup(std::uint8_t productId) noexcept {
    return !(productId == 8 || productId == 9 || productId == 12 || productId == 13);
}

/// True when the model with this product ID carries the bus group (bellows, battery, steering,
/// gear, date): every ID but 8 to 11.
constexpr bool carriesBusGroup(std::uint8_t productId) noexcept {
    return productId < 8 || productId > 11;
}

/// The raw parameter set that a device of model `productId` transmits at control position
/// `position`. Pure: no state is kept between calls.
/// `position` is 0 to 100 from the device, but is not range-checked: 101 to 255 follow the same
/// unsigned arithmetic, each value wrapping at its width. `productId` may be any value; IDs
/// outside 8 to 15 (0 after a disconnect) carry both groups.
RawParameters computeRawParameters(std::uint8_t position, std::uint8_t productId) noexcept;

}  // namespace orvale::model
