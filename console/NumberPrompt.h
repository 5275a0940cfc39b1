// The operator's prompts shared by the screens: one key answering a
// question, a whole number typed on one console line, and the operator's
// pauses in whole seconds.
#pragma once
#include <cstdint>
#include <string_view>

#include "VKT_Lib3/StatusLine.h"
#include "comLib3/comLib3.h"
#include "platform/Crt.h"

// Writes the prompt and waits for one key, upper-cased; false on Esc.
inline bool AskKey(const char* prompt, char& key) {
  WriteText(prompt);
  const uint8_t k = WaitKey();
  if (k == kEsc) return false;
  key = UpCase(static_cast<char>(k));
  return true;
}

// The key as the operator sees it: a glyph, whatever was typed.
inline void EchoKey(char key) {
  WriteGlyphs(std::string_view(&key, 1));
  NewLine();
}

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

// A number that goes to the controller as one DM word: 0..65535, or
// -32768..-1 for the word's two's complement (the negative addressing of
// DM0). Anything beyond would reach the controller cut to its low 16 bits,
// a value the operator never typed (70000 would move to 4464).
constexpr int32_t kWordMin = -32768;
constexpr int32_t kWordMax = 65535;
inline constexpr const char* kNotAWordText = "Out of range: -32768 to 65535";
inline bool FitsWord(int32_t value) { return value >= kWordMin && value <= kWordMax; }

// As AskNumber, for a value that is sent as a DM word: a number out of the
// word's range is refused with a message and asked for again.
inline bool AskWord(const char* prompt, int32_t& value) {
  for (;;) {
    if (!AskNumber(prompt, value)) return false;
    if (FitsWord(value)) return true;
    WriteText(kNotAWordText);
    NewLine();
  }
}

// A pause of the operator's whole seconds, in the 100 ms steps of WaitTenths:
// at least one step, however small or negative the entry. WaitTenths itself
// never looks at the keyboard, so a pause of minutes would go deaf to Esc;
// the key is polled between the steps instead, and Esc ends the pause at once
// and stays pending for the caller's next CheckQuit. Once the operator has
// answered the quit question the pauses only pace cycles that will not come:
// the test winds down without them (a minutes-long pause would otherwise
// keep him from the menu for minutes after he chose to quit).
inline void PauseSeconds(int32_t seconds) {
  if (QuitRequested) return;
  const int64_t steps = static_cast<int64_t>(seconds) * 10;
  int64_t done = 0;
  do {
    WaitTenths(1);
    ++done;
  } while (done < steps && PollKey() != kEsc);
}
