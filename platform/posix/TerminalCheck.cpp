// The interactive start on POSIX: a terminal on standard input and output,
// and a terminal type (TERM, looked up in terminfo) that can move the cursor,
// checked before anything is changed, so that a console started where it
// cannot work says why instead of drawing into a file or a dumb terminal.
#include <unistd.h>

#include <cstdlib>
#include <string>

// After the C++ headers: term.h defines a macro for every capability name.
#include <curses.h>
#include <term.h>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace {

// TERM as shown in a message: control characters as '?', and not endless.
std::string Shown(const char* term) {
  std::string s;
  for (const char* p = term; *p && s.size() < 40; ++p)
    s.push_back(static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F ? '?' : *p);
  return s;
}

bool TerminalUsable(std::string& why) {
  if (!isatty(STDIN_FILENO)) {
    why = "standard input is not a terminal";
    return false;
  }
  if (!isatty(STDOUT_FILENO)) {
    why = "standard output is not a terminal";
    return false;
  }
  const char* term = std::getenv("TERM");
  if (!term || !*term) {
    why = "TERM is not set";
    return false;
  }
  const std::string type = "terminal type \"" + Shown(term) + "\"";
  // Only the description is read: setupterm changes nothing on the terminal
  // and, with errret given, prints nothing.
  int status = 0;
  if (setupterm(term, STDOUT_FILENO, &status) != OK) {
    if (status == 1)
      why = type + " is a hard-copy terminal";
    else if (status == 0)
      why = type + " is unknown to terminfo or too generic";
    else
      why = "no terminfo database found for " + type;
    return false;
  }
  const char* cup = tigetstr(const_cast<char*>("cup"));
  const bool movesCursor = cup != nullptr && cup != reinterpret_cast<char*>(-1);
  del_curterm(cur_term);
  if (!movesCursor) {
    why = type + " cannot move the cursor";
    return false;
  }
  return true;
}

}  // namespace

bool PlatformInitTerminal(std::string& why) {
  if (!TerminalUsable(why)) return false;
  PlatformInit();
  if (posix::ConsoleHasTerminal()) return true;
  // The description was there, yet ncurses could not start on it.
  PlatformShutdown();
  const char* term = std::getenv("TERM");
  why = "ncurses cannot set up terminal type \"" + Shown(term ? term : "") + "\"";
  return false;
}
