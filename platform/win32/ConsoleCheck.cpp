// The interactive start on Windows: standard input and output must both be
// the console, checked before anything is changed. Redirected, the console
// would read keys from a file or draw into one; it says why instead.
#include <windows.h>

#include <string>

#include "platform/Platform.h"

namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  const HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

}  // namespace

bool PlatformInitTerminal(std::string& why) {
  if (!IsConsole(STD_INPUT_HANDLE)) {
    why = "standard input is not a console";
    return false;
  }
  if (!IsConsole(STD_OUTPUT_HANDLE)) {
    why = "standard output is not a console";
    return false;
  }
  PlatformInit();
  return true;
}
