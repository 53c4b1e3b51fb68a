#pragma once

// What the encoder does where J1939 and the FMS documents leave the device's bus behaviour open.
// Every such answer is one line here, so that a capture of a real box corrects it in one place.
// The decoder does not depend on them: it accepts any priority, source address, rate and
// padding.

#include <array>
#include <cstdint>

#include "fms/groups.h"

namespace orvale::fms::choice {

/// Period of the groups that FMS broadcasts without a rate we could confirm (GFC, HOURS, CVW,
/// SERV, VW, VEP4, TD, DI, EEC14): 1 s, the rate of most FMS groups of the same kind (DD1, LFC1).
inline constexpr std::uint32_t kOpenPeriodMs = 1000;

/// VI is "on request" in J1939 and FMS, yet the device shows its VIN all the time. Broadcast
/// every 10 s, the rate of the FMS identity group: a unit that joins late learns the VIN within
/// 10 s, and the three-packet broadcast costs the bus next to nothing.
inline constexpr std::uint32_t kVinPeriodMs = 10000;

/// TP.CM and TP.DT go out at priority 7, the J1939-21 default (vehicles also use 6; receivers
/// must accept any).
inline constexpr std::uint8_t kTransportPriority = 7;

/// Gap between the frames of a broadcast (announcement to first packet, packet to packet):
/// J1939-21 allows 50 to 200 ms; the shortest keeps a 6-packet message well inside its period.
inline constexpr std::uint32_t kBamPacketSpacingMs = 50;

/// A variable-length group of at most 8 bytes is one frame with the group's own ID, padded to
/// 8 bytes with 0xFF as most ECUs do (false: DLC = the text's length).
inline constexpr bool kPadShortPayloads = true;

/// The device shows one tell-tale status per block: it goes in every one of the block's 15
/// slots (false would be: slot 1 only, the rest "not available").
inline constexpr std::uint8_t kTellTaleSlotsFilled = 15;

/// One code for "doors 1-10" and one for "alternators 1-4": repeated in every door's and every
/// alternator's field.
inline constexpr std::uint8_t kDoorsFilled = 10;
inline constexpr std::uint8_t kAlternatorsFilled = 4;

/// CCVS1 byte 7 holds PTO State (bits 1-5) and Cruise Control States (bits 6-8). The model builds
/// the byte with PTO State 11111 (not available), so PTO State is not carried on the bus and its
/// display has no field on it.
inline constexpr bool kPtoStateOnBus = false;

/// Priority, source address and period of each group. FMS leaves priority and address to the
/// vehicle maker: these are the J1939 default priority and the address of the ECU that usually
/// sends the group. Periods are the FMS (else J1939) rates where they are known.
struct GroupChoice {
    std::uint8_t priority;
    std::uint8_t sourceAddress;
    std::uint32_t periodMs;
};

/// In the order of GroupId.
inline constexpr std::array<GroupChoice, kGroupCount> kGroups{{
    {3, 0x00, 20},             // EEC1: engine #1
    {3, 0x00, 50},             // EEC2
    {6, 0x00, 100},            // CCVS1
    {3, 0xEE, 50},             // TCO1: tachograph
    {6, 0x17, 1000},           // DD1: instrument cluster
    {6, 0x00, 1000},           // AT1T1I
    {6, 0x0B, 100},            // EBC1: brakes
    {6, 0x10, 100},            // ERC1: driveline retarder
    {6, 0x00, 1000},           // ET1
    {6, 0x30, 1000},           // AIR1: pneumatic system
    {6, 0x00, 1000},           // AMB
    {6, 0x00, 100},            // LFE1
    {6, 0x00, 1000},           // LFC1
    {7, 0x00, kOpenPeriodMs},  // GFC
    {6, 0x00, 1000},           // HRLFC
    {6, 0xEE, 1000},           // VDHR
    {6, 0x00, kOpenPeriodMs},  // HOURS
    {6, 0x0B, kOpenPeriodMs},  // CVW
    {6, 0x17, kOpenPeriodMs},  // SERV
    {6, 0x2F, kOpenPeriodMs},  // VW: suspension #1, every location each period
    {6, 0x2F, 100},            // ASC4
    {6, 0xEF, kOpenPeriodMs},  // VEP4: electric propulsion #1
    {6, 0x0B, 100},            // VDC2: 100 ms on FMS, not J1939's 10 ms
    {6, 0x03, 100},            // ETC2: transmission #1
    {6, 0xEE, kOpenPeriodMs},  // TD
    {6, 0x00, 1000},           // AS
    {6, 0xEC, 100},            // DC1: door controller #1
    {6, 0xEC, 100},            // DC2
    {6, 0x00, 100},            // PTODE
    {6, 0x17, 1000},           // FMS1: every block each period
    {7, 0x27, 10000},          // FMS: management computer #1
    {6, 0x00, kVinPeriodMs},   // VI
    {6, 0xEE, kOpenPeriodMs},  // DI: tachograph, which holds the cards
    {6, 0x00, kOpenPeriodMs},  // EEC14
}};

}  // namespace orvale::fms::choice
