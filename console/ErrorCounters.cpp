// Error counters: the nine counters the controller keeps in DM211..DM219,
// shown as it answers them and, on request, set back to 0.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "platform/Crt.h"

namespace {

constexpr int32_t kFirstCounter = 211;
constexpr int kCounters = 9;

}  // namespace

void ErrorCountersScreen() {
  ShortStr answer;
  ClearWorkArea();
  for (int i = 0; i < kCounters; ++i) {
    const int32_t address = kFirstCounter + i;
    KvReadDm(ComPort, address, answer);
    WriteText("DM");
    WriteInt(address, 3);
    WriteText(" ");
    WriteGlyphs(answer);
    NewLine();
  }
  NewLine();
  WriteText("Reset Counter [Y/N] ");
  if (UpCase(static_cast<char>(WaitKey())) != 'Y') return;

  NewLine();
  for (int i = 0; i < kCounters; ++i) {
    const int32_t address = kFirstCounter + i;
    // The line names the counter before its write goes out, so a reset that
    // hangs shows which counter it was.
    WriteText("Reset DM");
    WriteInt(address);
    WriteText(" ");
    KvWriteDm(ComPort, address, 0, answer);
    WriteGlyphs(answer);
    NewLine();
  }
  // A moment to read the answers. WaitTenths alone would not hear Esc; an
  // Esc here ends the pause and, still pending, leaves the menu as well.
  for (int i = 0; i < 15 && PollKey() != kEsc; ++i) WaitTenths(1);
}
