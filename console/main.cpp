// The vekton service console.
#include "VKT_Lib3/Globals.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/platform.h"

namespace {

// However the program ends (a signal included), the port goes back to the
// system closed.
void ClosePortOnExit() {
  if (ComPort >= 1 && ComPort <= kMaxComPorts) ComClose(ComPort);
}

}  // namespace

int main() {
  PlatformInit();
  PlatformAddExitHook(ClosePortOnExit);
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  const int code = VektonMain();
  PlatformShutdown();
  return code;
}
