// The ncurses presenter and the terminal's size, in a child process on a
// pseudo-terminal whose size the test sets (TIOCSWINSZ, which sends the
// child SIGWINCH as a terminal window's resize does): too small, the
// message and nothing of the screen; keys still read; large enough again,
// the whole screen.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "platform/Crt.h"
#include "platform/Platform.h"
#include "tests/posix_backend/ChildProcess.h"

namespace {

// Everything the child wrote to the terminal so far, read without blocking
// for longer than ms.
void Collect(int master, std::string& out, int ms) { out += ReadReport(master, std::string::npos, ms); }

// Reads the terminal until its output holds text (true) or ms pass.
bool WaitFor(int master, std::string& out, const std::string& text, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (out.find(text) != std::string::npos) return true;
    Collect(master, out, 50);
  }
  return out.find(text) != std::string::npos;
}

void Resize(int master, int cols, int rows) {
  winsize ws{};
  ws.ws_col = static_cast<unsigned short>(cols);
  ws.ws_row = static_cast<unsigned short>(rows);
  ASSERT_EQ(ioctl(master, TIOCSWINSZ, &ws), 0);
}

// A child on a terminal of cols x rows that draws two lines of the screen
// and reports every key on the pipe until q.
pid_t StartChild(int cols, int rows, int& master, int& report) {
  int rep[2];
  if (pipe(rep) != 0) return -1;
  winsize ws{};
  ws.ws_col = static_cast<unsigned short>(cols);
  ws.ws_row = static_cast<unsigned short>(rows);
  const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid == 0) {
    close(rep[0]);
    setenv("TERM", "xterm-256color", 1);
    unsetenv("LINES");
    unsetenv("COLUMNS");
    PlatformInit();
    GotoXY(1, 1);
    WriteText("Top line of the screen");
    GotoXY(1, 25);
    WriteText("Bottom line of the screen");
    GotoXY(30, 12);
    for (;;) {
      const uint8_t k = ReadKey();
      (void)!write(rep[1], &k, 1);
      if (k == 'q') break;
    }
    PlatformShutdown();
    _exit(0);
  }
  close(rep[1]);
  report = rep[0];
  return pid;
}

TEST(PosixResize, TooSmallShowsTheMessageAndLargeEnoughRedrawsTheWholeScreen) {
  int master = -1, report = -1;
  const pid_t pid = StartChild(70, 20, master, report);
  ASSERT_GT(pid, 0);
  std::string out;
  ASSERT_TRUE(WaitFor(master, out, "This program needs a terminal of 80 x 25; this one is 70 x 20.", 5000)) << out;
  Collect(master, out, 300);
  EXPECT_EQ(out.find("Top line"), std::string::npos) << "the screen drawn on a small terminal";

  // Keys are read while the terminal is small, as at full size.
  ASSERT_EQ(write(master, "x\x1b", 2), 2);
  EXPECT_EQ(ReadReport(report, 2, 3000), "x\x1b");

  // Smaller still: the message again, wrapped.
  out.clear();
  Resize(master, 20, 5);
  ASSERT_TRUE(WaitFor(master, out, "this one is 20 x 5.", 3000)) << out;
  EXPECT_NE(out.find("terminal of 80 x 25;"), std::string::npos) << out;

  // Large enough: the whole screen, top and bottom line.
  out.clear();
  Resize(master, 80, 25);
  ASSERT_TRUE(WaitFor(master, out, "Bottom line of the screen", 3000)) << out;
  EXPECT_NE(out.find("Top line of the screen"), std::string::npos) << out;
  EXPECT_EQ(out.find("this one is"), std::string::npos) << out;

  // A 1 x 1 terminal: the first letter, no crash; then larger than needed.
  out.clear();
  Resize(master, 1, 1);
  Collect(master, out, 300);
  out.clear();
  Resize(master, 120, 40);
  ASSERT_TRUE(WaitFor(master, out, "Bottom line of the screen", 3000)) << out;

  ASSERT_EQ(write(master, "q", 1), 1);
  EXPECT_EQ(ReadReport(report, 1, 3000), "q");
  EXPECT_EQ(WaitExit(pid, 3000), 0);
  close(report);
  close(master);
}

TEST(PosixResize, AOneByOneTerminalAtTheStartShowsOneLetterAndTheProgramRuns) {
  int master = -1, report = -1;
  const pid_t pid = StartChild(1, 1, master, report);
  ASSERT_GT(pid, 0);
  std::string out;
  ASSERT_TRUE(WaitFor(master, out, "T", 5000)) << out;
  ASSERT_EQ(write(master, "a", 1), 1);
  EXPECT_EQ(ReadReport(report, 1, 3000), "a");
  Resize(master, 80, 25);
  ASSERT_TRUE(WaitFor(master, out, "Bottom line of the screen", 3000)) << out;
  ASSERT_EQ(write(master, "q", 1), 1);
  EXPECT_EQ(ReadReport(report, 1, 3000), "q");
  EXPECT_EQ(WaitExit(pid, 3000), 0);
  close(report);
  close(master);
}

}  // namespace
