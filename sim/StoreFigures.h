// The store's mechanical figures: drive speeds, travel and move times of
// the carousel, the lift, SMC 1 and the handler. Shared by the mechanics
// (Store.cpp) and the handler's jobs (StoreJobs.cpp), which must agree on
// them. Times in microseconds of store time.
#pragma once
#include <cstdint>
#include <limits>

#include "sim/Store.h"

namespace sim {

inline constexpr uint64_t kMs = 1000;
inline constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

// Carousel: a start and stop ramp plus the profile's stretch per position
// (Profile::carouselStepMs), spread evenly over the move, and T20 settles
// 0.1 s after it.
inline constexpr uint64_t kCarRamp = 200 * kMs;
inline constexpr uint64_t kT20 = 100 * kMs;
inline constexpr uint16_t kCarSetSpeed = 1200;  // DM91 while the drive runs
// Lift and SMC 1 drive: a start ramp plus the distance at constant speed.
inline constexpr uint64_t kAxisRamp = 150 * kMs;
inline constexpr uint64_t kLiftSpeed = 20000;  // lift units per second
inline constexpr uint64_t kSmcSpeed = 10000;
inline constexpr int32_t kSmcTravel = 20000;
inline constexpr uint64_t kSmcParameter = 150 * kMs;
inline constexpr int32_t kStationHeight = 0;  // the transfer station sits below level 1
// Handler.
inline constexpr uint64_t kGateMove = 700 * kMs;
inline constexpr uint64_t kTransfer = 1200 * kMs;  // shovel in, lift the plate, shovel out
inline constexpr uint64_t kSettle = 300 * kMs;
inline constexpr uint64_t kHoming = 2000 * kMs;
// Shovel and turn of the component tests.
inline constexpr uint64_t kShovelMove = 700 * kMs;
inline constexpr uint64_t kTurnMove = 600 * kMs;

// Two-word lifetime counters: high word x 65535 + low word.
inline constexpr uint64_t kTwoWordUnit = 65535;
inline constexpr uint64_t kTwoWordMax = kTwoWordUnit * 65535 + (kTwoWordUnit - 1);

inline constexpr int kErrLiftEnd = 8;  // DM218
inline constexpr int kErrSmcEnd = 9;   // DM219

// The DM211..DM217 counter a failed access counts on (1..7), 0 for none.
inline int ErrorCounter(AccessResult r) {
  switch (r) {
    case AccessResult::SlotEmpty: return 1;
    case AccessResult::SlotFull: return 2;
    case AccessResult::ShovelEmpty: return 3;
    case AccessResult::ShovelFull: return 4;
    case AccessResult::StationEmpty: return 5;
    case AccessResult::StationFull: return 6;
    case AccessResult::BadAddress: return 7;
    default: return 0;
  }
}

}  // namespace sim
