// The numeric prompts of the component tests: a whole number typed on one
// console line, and the operator's pauses in whole seconds.
#pragma once
#include <cstdint>

#include "comLib3/comLib3.h"
#include "platform/crt.h"

// Writes the prompt and reads a whole number. Anything that is not a number
// gets the prompt again on the next line. Esc gives false: the caller leaves
// its test before it has moved anything.
inline bool AskNumber(const char* prompt, int32_t& value) {
  for (;;) {
    WriteText(prompt);
    switch (ReadNumberLine(value)) {
      case NumberEntry::Ok:
        return true;
      case NumberEntry::Escaped:
        NewLine();  // the abandoned line leaves the cursor behind the prompt
        return false;
      case NumberEntry::NotANumber:
        break;  // Enter has already moved to a fresh line
    }
  }
}

// A pause of the operator's whole seconds, in the 100 ms steps of WaitTenths:
// at least one step, however small or negative the entry. WaitTenths itself
// never looks at the keyboard, so a pause of minutes would go deaf to Esc;
// the key is polled between the steps instead, and Esc ends the pause at once
// and stays pending for the caller's next CheckQuit.
inline void PauseSeconds(int32_t seconds) {
  const int64_t steps = static_cast<int64_t>(seconds) * 10;
  int64_t done = 0;
  do {
    WaitTenths(1);
    ++done;
  } while (done < steps && PollKey() != kEsc);
}
