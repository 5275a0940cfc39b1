// The command patterns that move plates: rotate, access a slot, a timed access
// with its statistics, the three-plate step, watching the carousel turn, and
// the random slot choice that keeps every slot's use even.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"

constexpr int kMaxCassettes = 40;
constexpr int kMaxLevels = 100;
constexpr int kHistogramBins = 600;  // the last bin holds everything from 300 s on

struct SlotTableRec {
  int32_t LevelsPerCassette[kMaxCassettes + 1] = {};              // 1-based
  int32_t AccessCount[kMaxCassettes + 1][kMaxLevels + 1] = {};    // 1-based, cassette-major
  int32_t CassetteCount = 0;
  int32_t SlotCount = 0;
  int32_t AccessFloor = 0;
};
extern SlotTableRec SlotTable;

struct HandlingGroup {
  int32_t ReadyMin = 0, ReadyMax = 0;
  double ReadySum = 0;  // seconds
  int32_t PlateMin = 0, PlateMax = 0;
  double PlateSum = 0;  // seconds
};
enum HandlingGroupIndex { kGroupAll = 0, kGroupLoad = 1, kGroupUnload = 2 };
enum HistogramColumn { kPlateAll = 0, kPlateLoad, kPlateUnload, kReadyAll, kReadyLoad, kReadyUnload };

// Counted in 32 bits: a run of a week and more counts beyond 65535 accesses,
// and a count that wrapped would make the total and every mean wrong.
extern uint32_t AccessNumber;
extern uint32_t LoadCount, UnloadCount;
extern int32_t ReadyTime, PlateTime;  // hundredths
extern HandlingGroup HandlingStats[3];
extern uint16_t TimeHistogram[kHistogramBins + 1][6];
extern int32_t FixedInterval;
extern int32_t RandomIntervalMax;
extern bool MeasurePlateReady;
extern int32_t CurrentPos, CurrentLevel;
extern uint16_t CurrentRotPos;
extern int32_t CarPosErrors;

// The separator between the fields of an access line (a vertical line).
constexpr char kFieldSeparator = static_cast<char>(179);

void RotateTo(int port, int32_t position);
void AccessSlot(int port, int32_t position, int32_t level, int32_t relay);
void TimedAccess(int port, int32_t relay, char tag, bool measurePlateReady);
void ThreePlateStep(int port, int32_t cassette, int32_t levelCount, int32_t cassetteCount);
void WatchCarousel(int port);
int32_t ReadRotPos(int port);
void PickRandomSlot(SlotTableRec& table, int32_t& cassette, int32_t& level);

// Relays that count as loads.
inline bool IsLoadRelay(int32_t relay) { return relay == 1904 || relay == 1909; }

void MotionInit();
