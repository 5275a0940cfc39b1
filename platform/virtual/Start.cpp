// The interactive start on the virtual platform: its screen is always there.
#include <string>

#include "platform/Platform.h"

bool PlatformInitTerminal(std::string&) {
  PlatformInit();
  return true;
}
