// The three-plate test: a block of three plates, starting at levels 1 to 3 of
// cassette 1, is walked up each cassette one level at a time and handed over
// to the bottom of the next; after the last cassette it comes back to
// cassette 1 and the next pass begins, until the operator quits.
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "console/TestSequences.h"
#include "platform/Crt.h"

void ThreePlateTest() {
  FullWindow();
  ClearWorkArea();
  // Three plates need three levels; a silent controller reads DM25 as 0.
  if (LevelCount < 3) {
    ShortStr why = ShortStr("The store reports ") + NumStr(LevelCount) + " levels: three plates need at least 3.";
    RefuseTest(why);
    return;
  }

  WriteText("                    ! WARNING !");
  NewLine();
  WriteText("! Remove all Plates from Cassettes except 3 Plates !");
  NewLine();
  WriteText("!      Put Plate in Pos 1.1, 1.2 and 1.3 !");
  NewLine();
  WriteChar(7);
  WriteChar(7);
  FlushKeys();
  NewLine();
  ClearWorkArea();

  for (;;) {
    // WaitTime counts the cassettes of the pass.
    WaitTime = 1;
    CycleCount = 1;
    do {
      ThreePlateStep(ComPort, WaitTime, LevelCount, CarPosCount);
      ++WaitTime;
      if (CheckQuit(ComPort)) QuitRequested = true;
    } while (!QuitRequested && WaitTime <= CarPosCount);
    if (QuitRequested) return;
  }
}
