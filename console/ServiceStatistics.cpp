// Service statistics: the store's lifetime figures behind a password. A
// wrong password leads back to the menu without a word.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"

namespace {

constexpr const char* kPassword = "QZRB";

int32_t ReadWord(int32_t address) {
  ShortStr answer;
  KvReadDm(ComPort, address, answer);
  return KvValue(answer);
}

// A figure the controller keeps in two words. The high word counts 65535
// units, not 65536. Worked out in 64 bits: a high word above 32768 would
// otherwise run past the signed 32-bit range and show as a negative count.
int64_t TwoWords(int32_t high, int32_t low) { return static_cast<int64_t>(high) * 65535 + low; }

}  // namespace

void ServiceStatistics() {
  ClearWorkArea();
  WriteText("Enter Passord ");
  ShortStr typed;
  // Esc abandons the line; that is no password either.
  if (!ReadTextLine(typed)) return;
  UpperStr(typed, typed);
  if (!(typed == kPassword)) return;

  ClearWorkArea();
  const int32_t hours = ReadWord(110);
  const int32_t gateLow = ReadWord(111);
  const int32_t gateHigh = ReadWord(112);
  const int32_t onLow = ReadWord(117);
  const int32_t onHigh = ReadWord(118);
  const int32_t totalLow = ReadWord(119);
  const int32_t totalHigh = ReadWord(120);
  NewLine();

  const int64_t gateCycles = TwoWords(gateHigh, gateLow);
  const int64_t onTime = TwoWords(onHigh, onLow);
  const int64_t totalTime = TwoWords(totalHigh, totalLow);

  WriteText("System Hobs [hours]   ");
  WriteInt(hours, 5);
  NewLine();
  WriteText("Total Gate Cycles     ");
  WriteInt(gateCycles, 5);
  NewLine();
  WriteText("On Time [s]        ");
  WriteInt(onTime, 8);
  NewLine();
  // The derived figures are left out rather than divided by zero.
  if (hours > 0) {
    WriteText("Avrg Acs/hour         ");
    WriteReal(static_cast<double>(gateCycles) / hours, 5, 1);
    NewLine();
  }
  if (totalLow > 0) {
    WriteText("On Percent. [%]       ");
    WriteReal(static_cast<double>(onTime) / static_cast<double>(totalTime) * 100.0, 5, 1);
    NewLine();
  }
  LastKey = static_cast<char>(WaitKey());
}
