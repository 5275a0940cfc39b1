// The vekton service console.
#include <iostream>
#include <string>
#include <vector>

#include "VKT_Lib3/Globals.h"
#include "comLib3/comLib3.h"
#include "console/CommandLine.h"
#include "console/Console.h"
#include "platform/Platform.h"

namespace {

// However the program ends (a signal included), the port goes back to the
// system closed.
void ClosePortOnExit() {
  if (ComPort >= 1 && ComPort <= kMaxComPorts) ComClose(ComPort);
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version print and end before the terminal is touched.
  const int status = ConsoleCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
  if (status != kConsoleStart) return status;
  std::string why;
  if (!PlatformInitTerminal(why)) {
    std::cerr << ConsoleCannotStart(why) << std::endl;
    return kConsoleUsageExit;
  }
  PlatformAddExitHook(ClosePortOnExit);
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  const int code = VektonMain();
  PlatformShutdown();
  return code;
}
