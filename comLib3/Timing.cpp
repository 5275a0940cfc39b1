// Stopwatches across midnight, random numbers and result-file names.
#include <cstdint>

#include "comLib3/comLib3.h"
#include "platform/System.h"

uint32_t RandSeed = 0;

namespace {
int64_t Hundredths64(const TimeStamp& t) {
  return t.hour * 360000LL + t.minute * 6000LL + t.second * 100LL + t.hundredths;
}
}  // namespace

void ToHundredths(const TimeStamp& t, int32_t& h) { h = static_cast<int32_t>(Hundredths64(t)); }

void FromHundredths(int32_t h, TimeStamp& t) {
  if (h < 0) h = 0;
  t.hour = static_cast<uint16_t>(h / 360000);
  t.minute = static_cast<uint16_t>((h / 6000) % 60);
  t.second = static_cast<uint16_t>((h % 6000) / 100);
  t.hundredths = static_cast<uint16_t>(h % 100);
}

void StopwatchStart(TimeStamp& start, TimeStamp& lap) {
  GetTime(start.hour, start.minute, start.second, start.hundredths);
  lap.hour = lap.minute = lap.second = lap.hundredths = 0;
}

int32_t StopwatchRead(const TimeStamp& start, TimeStamp& now) {
  GetTime(now.hour, now.minute, now.second, now.hundredths);
  int64_t a = Hundredths64(now);
  const int64_t b = Hundredths64(start);
  // A start from an earlier day: add whole days until it lies behind us. A
  // start that was never set correctly cannot make this loop long.
  if (a < b) a += ((b - a + kHundredthsPerDay - 1) / kHundredthsPerDay) * kHundredthsPerDay;
  int64_t d = a - b;
  if (d > INT32_MAX) d = INT32_MAX;
  FromHundredths(static_cast<int32_t>(d), now);
  return static_cast<int32_t>(d);
}

uint32_t StopwatchSleepMs(const TimeStamp& start, int32_t limit) {
  TimeStamp now;
  // Read as the waiting loops read it, in 16 bits.
  const int32_t elapsed = static_cast<uint16_t>(StopwatchRead(start, now));
  return elapsed >= limit ? 0 : static_cast<uint32_t>(limit - elapsed) * 10;
}

uint32_t RandomBelow(uint32_t n) {
  RandSeed = RandSeed * 134775813u + 1u;
  return static_cast<uint32_t>((static_cast<uint64_t>(RandSeed) * n) >> 32);
}

void RandomizeFromClock() {
  uint16_t h, m, s, hs;
  GetTime(h, m, s, hs);
  for (int i = 0; i < h + hs; ++i) RandomBelow(100);
}

int32_t RandomRange(int32_t lo, int32_t hi) {
  // Bounds with no number to draw would loop for ever: give the lower one.
  if (hi < lo || hi < 0) return lo;
  const uint32_t n = static_cast<uint32_t>(hi) + 1u;
  int64_t v;
  do {
    v = RandomBelow(n);
  } while (v < lo);
  return static_cast<int32_t>(v);
}

void UniqueResultName(uint16_t number, ShortStr& dest, const ShortStr& extension) {
  // Every name tried is checked; Esc does not cut the search short, so the
  // name handed back never belongs to a file that exists. The search is
  // bounded: with no free name among them the result is empty.
  const std::string path = GetEnv("PATH");
  for (uint32_t counter = 0; counter < 100000; ++counter) {
    ShortStr digits;
    if (counter < 10)
      digits = ShortStr("0") + static_cast<char>('0' + counter);
    else
      digits = NumStr(counter);
    ShortStr candidate = NumStr(number) + "_" + digits;
    if (FSearch((candidate + extension).view(), path).empty()) {
      dest = candidate;
      return;
    }
  }
  dest.Clear();
}

void ComLib3Init() {
  for (auto& h : PortHandles) h = kInvalidSerialHandle;
  ComLinesReset();
  SetLineWaitHook(nullptr);
  RandSeed = 0;
  SavedCursorX = SavedCursorY = 1;
  ResetKeys();
  GetScreenSize();
}
