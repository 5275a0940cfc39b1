// The vekton service console.
#include <iostream>
#include <string>
#include <vector>

#include "VKT_Lib3/Globals.h"
#include "comLib3/comLib3.h"
#include "console/CommandLine.h"
#include "console/Console.h"
#include "console/RandomAccess.h"
#include "platform/Platform.h"
#include "platform/Trace.h"

namespace {

// However the program ends (a signal included), the port goes back to the
// system closed.
void ClosePortOnExit() {
  if (ComPort >= 1 && ComPort <= kMaxComPorts) ComClose(ComPort);
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version print and end before the terminal is touched.
  // So is a --limits file that cannot be read or is refused, and an
  // --archive that cannot be opened.
  TraceSetup trace;
  std::string limitsFile, archiveFile;
  const int status = ConsoleCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, trace,
                                        limitsFile, archiveFile);
  if (status != kConsoleStart) return status;
  // Before the terminal is taken, so the run's clock starts with the program.
  // A folder that cannot be made stops nothing: the main menu says so.
  if (trace.on) TraceStart(trace);
  std::string why;
  if (!PlatformInitTerminal(why)) {
    std::cerr << ConsoleCannotStart(why) << std::endl;
    return kConsoleUsageExit;
  }
  PlatformAddExitHook(ClosePortOnExit);
  InitAllUnits();
  LimitsFile = limitsFile;
  ArchiveFile = archiveFile;
  ResetKeys();
  GetScreenSize();
  const int code = VektonMain();
  TraceStop();
  PlatformShutdown();
  return code;
}
