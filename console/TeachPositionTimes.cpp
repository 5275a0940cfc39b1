// Teach positioning times: the carousel is driven from its start position to
// every position in turn, and for each move the time from the position
// command until the store reports Ready again is kept in PosTimeTable. The
// carousel movement test and the random-access test read the table as the
// expected travel time over a given number of positions.
#include <algorithm>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "platform/Crt.h"

int32_t PosTimeTable[kPosTimeEntries];

void ComponentTestsInit() {
  for (auto& t : PosTimeTable) t = 0;
}

namespace {

constexpr int32_t kPositionWord = 0;      // DM0: carousel position command
constexpr int32_t kCarActivation = 1801;  // relay: carousel activation
constexpr int32_t kReadyRelay = 1915;
constexpr int32_t kTwoCarrousels = 3012;   // relay: a left and a right carousel

// Times are kept in hundredths and shown as seconds with one decimal.
ShortStr Seconds(int32_t hundredths, int width) { return RealStr(hundredths / 100.0, width, 1); }

}  // namespace

void TeachPositionTimes() {
  ShortStr answer;
  ClrScr();
  int32_t position = 0;
  char teachMode = '0';

  WaitReady(ComPort);
  ClrScr();

  KvReadRelay(ComPort, kTwoCarrousels, answer);
  if (answer == "1") {
    WriteText("Left Carrousel [Y/N] ");
    const uint8_t key = WaitKey();
    // Esc here means the operator does not want to teach after all: leave
    // before the carousel is activated or moved, with the table untouched.
    if (key == kEsc) {
      LastKey = static_cast<char>(kEsc);
      return;
    }
    if (UpCase(static_cast<char>(key)) == 'Y') {
      teachMode = '1';
      position = -1;
    } else {
      teachMode = '2';
    }
  }

  KvSetRelay(ComPort, kCarActivation, answer);
  WriteText("Activate Carousel ");
  WriteGlyphs(answer);
  NewLine();

  WaitReady(ComPort);
  ClearWorkArea();
  NewLine();

  // Mode '0' teaches every position from 1; the two carousels of a twin store
  // each own every second position, measured from their first one.
  const int32_t step = teachMode == '0' ? 1 : 2;
  const int32_t startPosition = teachMode == '2' ? 2 : 1;
  for (;;) {
    position += step;
    // A store with more positions than the table holds (or the stepping
    // modes' pass one beyond the last position) has no element left for this
    // move: the teach ends here instead of writing past the table.
    if (position - 1 >= kPosTimeEntries) break;

    KvWriteDm(ComPort, kPositionWord, startPosition, answer);
    WriteText(startPosition == 2 ? "Pos.  2  " : "Pos.  1  ");
    WriteGlyphs(answer);
    // The Ready reading the status line holds predates the command just
    // sent: a wait on it would let the next move start while the carousel is
    // still on its way back, and that move's time would include the way back.
    ReadyFlag = false;
    WaitReady(ComPort);
    NewLine();

    if (!QuitRequested) {
      KvWriteDm(ComPort, kPositionWord, position, answer);
      WriteText("Pos. ");
      WriteInt(position, 2);
      WriteText("  ");
      WriteGlyphs(answer);

      TimeStamp watch[2];
      StopwatchStart(watch[0], watch[1]);
      do {
        WaitTenths(1);
        KvReadRelay(ComPort, kReadyRelay, answer);
      } while (!(answer == "1") && !EscAbort);
      PosTimeTable[position - 1] = StopwatchRead(watch[0], watch[1]);

      WriteText("  ");
      WriteText(Seconds(PosTimeTable[position - 1], 4));
      WriteText(" s");
      NewLine();
      WaitTenths(1);
    }

    // An Esc that ended the measurement must reach the quit question here:
    // the waits of the next pass would otherwise run on a stale Ready, send
    // nothing and store a tenth of a second for every remaining position.
    CheckQuit(ComPort);
    if (CarPosCount <= position || QuitRequested) break;
  }

  ClearWorkArea();
  ShowBanner();
  NewLine();
  WriteText(AtColumn11("ZEZ Positioning Times:"));
  NewLine();
  NewLine();
  const int rows = std::min<int>(CarPosCount, kPosTimeEntries);
  for (int i = 0; i < rows; ++i) {
    WriteText(AtColumn11(ShortStr("Pos ") + NumStr(i) + "  " + Seconds(PosTimeTable[i], 4) + " s"));
    NewLine();
  }
  NewLine();
  ResetKeys();
  LastKey = static_cast<char>(WaitKey());
}
